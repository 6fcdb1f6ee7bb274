#include "MainWindow.h"

#include "LoadingOverlay.h"
#include "StatusBar.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <QWidget>

namespace sondrel::ui {
namespace {

TEST(MainWindowTest, ToolbarEnablesByLibraryScanAndAnalysedFiles)
{
    using State = MainWindow::ToolbarState;
    const auto state = MainWindow::toolbarState;
    // No library: only the library button (always on) and nothing else.
    const State none = state(false, false, false, 0, 0);
    EXPECT_FALSE(none.refreshEnabled);
    EXPECT_FALSE(none.scanEnabled);
    EXPECT_FALSE(none.processAllEnabled);

    // A library with nothing analysed yet: refresh and scan, no processing.
    const State fresh = state(true, false, false, 0, 3);
    EXPECT_TRUE(fresh.refreshEnabled);
    EXPECT_TRUE(fresh.scanEnabled);
    EXPECT_FALSE(fresh.showsStop);
    EXPECT_FALSE(fresh.processSelectedEnabled);
    EXPECT_FALSE(fresh.processAllEnabled);

    // Analysed files: "Process All" always, "Process N" only with a selection.
    EXPECT_TRUE(state(true, false, false, 1, 0).processAllEnabled);
    EXPECT_FALSE(state(true, false, false, 1, 0).processSelectedEnabled);
    EXPECT_TRUE(state(true, false, false, 1, 2).processSelectedEnabled);

    // A scan: Stop in Scan's place, no refresh, no processing. A discovery also shows Stop and
    // blocks refresh, but processing stays possible.
    const State scanning = state(true, true, false, 5, 2);
    EXPECT_TRUE(scanning.showsStop);
    EXPECT_FALSE(scanning.refreshEnabled);
    EXPECT_FALSE(scanning.processSelectedEnabled);
    EXPECT_FALSE(scanning.processAllEnabled);
    const State discovering = state(true, false, true, 5, 2);
    EXPECT_TRUE(discovering.showsStop);
    EXPECT_FALSE(discovering.refreshEnabled);
    EXPECT_TRUE(discovering.processAllEnabled);
}

TEST(MainWindowTest, StatusBarProcessesOnlyAnalysedFilesWhenNothingRuns)
{
    const StatusBar::VisibleCounts nothing;
    const StatusBar::VisibleCounts oneError { 0, 0, 1 };
    EXPECT_FALSE(StatusBar::processEnabled(nothing, false, false));
    EXPECT_TRUE(StatusBar::processEnabled(oneError, false, false));
    EXPECT_FALSE(StatusBar::processEnabled(oneError, true, false));
    EXPECT_FALSE(StatusBar::processEnabled(oneError, false, true));
}

TEST(MainWindowTest, OverlaySaysWhatDiscoveryIsDoing)
{
    QWidget parent;
    LoadingOverlay overlay(&parent);
    EXPECT_EQ(overlay.headline(), "Loading Library");
    EXPECT_EQ(overlay.detail(), "Scanning for audio files...");
    EXPECT_EQ(overlay.caption(), "");
    overlay.setState(120, 0.0);
    EXPECT_EQ(overlay.detail(), "120 audio files found");
    EXPECT_EQ(overlay.caption(), "");
    overlay.setState(120, 0.5);
    EXPECT_EQ(overlay.caption(), "Reading metadata...");
}

TEST(MainWindowTest, ShortcutsAndMenusAreInPlace)
{
    // The window's view model opens the shared analysis cache: keep it out of the real home.
    static const test::FixtureFolder data;
    if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME"))
        qputenv("XDG_DATA_HOME", data.path().c_str());
    MainWindow window;
    const auto shortcut = [&](const char* name) { return window.action(QString::fromLatin1(name))->shortcut().toString(); };
    EXPECT_EQ(shortcut("refresh"), "Ctrl+R");
    EXPECT_EQ(shortcut("scan"), "Ctrl+Return");
    EXPECT_EQ(shortcut("stop"), "Ctrl+.");
    EXPECT_EQ(shortcut("processAll"), "Ctrl+P");
    EXPECT_EQ(shortcut("selectLibrary"), "Ctrl+O");
    EXPECT_EQ(shortcut("settings"), "Ctrl+,");
    EXPECT_EQ(shortcut("help"), "F1");
    EXPECT_FALSE(window.action(QStringLiteral("checkForUpdates"))->isEnabled());
    EXPECT_EQ(window.action(QStringLiteral("processSelected"))->text(), "Process 0");
    EXPECT_FALSE(window.action(QStringLiteral("processSelected"))->isEnabled());
}

} // namespace
} // namespace sondrel::ui
