#include "MainWindow.h"

#include "ApplicationShell.h"
#include "DetailPanel.h"
#include "FileListView.h"
#include "LibraryFixture.h"
#include "ListExportPanel.h"
#include "LoadingOverlay.h"
#include "PlayerBar.h"
#include "SidebarView.h"
#include "SpectrogramView.h"
#include "StatusBar.h"

#include "AudioIo.h"
#include "Signals.h"

#include <QAction>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <fstream>

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

// A window over a library of its own, with a player that plays silently.
using test::waitUntil;

class LibraryWindowTest : public test::LibraryFixture {
protected:
    LibraryWindowTest()
        : m_window(services(), [] { return std::make_unique<app::SilentAudioOutput>(); })
    {
    }

    // A real, short WAV file with a cached verdict.
    std::filesystem::path makeTrack(const std::string& relative, const core::AnalysisResult& cached)
    {
        const auto path = m_library / relative;
        std::filesystem::create_directories(path.parent_path());
        EXPECT_EQ(fixtures::writeAudioFile(path, fixtures::makeTone(8000 * 3, 8000, 2, 1), {}), "");
        m_cache.set(path, cached);
        return path;
    }

    void openLibrary(const std::filesystem::path& folder)
    {
        app::ScannerViewModel& model = m_window.viewModel();
        runUntil(model, &app::ScannerViewModel::discoveryFinished, [&] { m_window.openLibrary(folder); });
        runUntil(model, &app::ScannerViewModel::scanFinished, [&] { model.startScan(); });
    }

    // Selects the file as a click on its row would; it is loaded into the player.
    void select(const std::string& name)
    {
        for (const auto& file : m_window.viewModel().allFiles()) {
            if (file.name() == name)
                m_window.fileList()->selectFiles({ file.id() });
        }
        ASSERT_TRUE(waitUntil([&] { return m_window.player().hasPlayer(); }));
    }

    // Shows the window over the library, scanned, with the file selected.
    void openAndSelect(const std::string& name)
    {
        m_window.show();
        openLibrary(m_library);
        select(name);
    }

    [[nodiscard]] bool showsTrack()
    {
        return m_window.player().currentFile().has_value() || !m_window.spectrogram()->isHidden();
    }

    MainWindow m_window;
};

// Nothing of a library stays on screen or in the player once its file is gone or another
// library is open.
TEST_F(LibraryWindowTest, PanelStripAndPlayerLetGoOfFilesThatAreGone)
{
    makeTrack("low.wav", test::resultRated(core::QualityRating::poor, 15000.0f));
    makeTrack("other.wav", test::resultRated(core::QualityRating::high));
    openAndSelect("low.wav");
    ASSERT_FALSE(m_window.detailPanel()->isHidden());
    ASSERT_TRUE(showsTrack());
    EXPECT_EQ(m_window.action(QStringLiteral("processSelected"))->text(), "Process 1");

    // Renamed by a run: its record, and the selection, are gone.
    bool done = false;
    m_window.viewModel().renameFailedFiles(std::nullopt, [&](const app::ProcessingResults&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    ASSERT_TRUE(waitUntil([&] { return m_window.detailPanel()->isHidden(); }));
    EXPECT_FALSE(showsTrack());
    ASSERT_TRUE(waitUntil(
        [&] { return m_window.action(QStringLiteral("processSelected"))->text() == "Process 0"; }));

    // Another library: the previous one's file is not shown or played.
    select("other.wav");
    ASSERT_TRUE(showsTrack());
    const auto second = m_folder.path() / "second";
    std::filesystem::create_directories(second);
    std::ofstream(second / "b.mp3") << "not really audio";
    m_window.openLibrary(second);
    EXPECT_TRUE(m_window.detailPanel()->isHidden());
    EXPECT_FALSE(showsTrack());
}

// At the smallest size with the detail panel open, the search field is whole, its clear button
// shows, and the sidebar keeps room for folder names.
TEST_F(LibraryWindowTest, TheSmallestWindowKeepsSearchAndSidebarUsable)
{
    makeTrack("Deep House Classics/a.wav", test::resultRated(core::QualityRating::high));
    m_window.resize(1000, 600);
    openAndSelect("a.wav");
    ASSERT_FALSE(m_window.detailPanel()->isHidden());
    auto* search = m_window.fileList()->findChild<QLineEdit*>();
    search->setText(QStringLiteral("house"));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_GE(m_window.sidebar()->width(), 150);
    EXPECT_GE(m_window.detailPanel()->width(), 280);
    const QRect field(search->mapTo(m_window.fileList(), QPoint(0, 0)), search->size());
    EXPECT_TRUE(m_window.fileList()->rect().contains(field))
        << field.x() << "," << field.y() << " " << field.width() << "x" << field.height() << " in "
        << m_window.fileList()->width();
    EXPECT_GE(search->width(), 150);
    bool clearShown = false;
    for (auto* button : search->findChildren<QWidget*>()) {
        if (button->isVisible() && button->x() > search->width() / 2)
            clearShown = true;
    }
    EXPECT_TRUE(clearShown);
    auto* tree = m_window.sidebar()->findChild<QTreeWidget*>();
    EXPECT_GE(tree->columnWidth(0), 90);
}

// File > "Export List...": the rows the table shows (Show Failed here), in its order, as a
// playlist whose lines lead to the files; the library chooser then starts in the library.
TEST_F(LibraryWindowTest, ExportListWritesTheShownRowsAndChoosersStartInTheLibrary)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path().c_str());
    makeTrack("Set, \"Vol 1\"/fake one.wav", test::resultRated(core::QualityRating::poor, 15000.0f));
    makeTrack("Set, \"Vol 1\"/good.wav", test::resultRated(core::QualityRating::high));
    makeTrack("fake two.wav", test::resultRated(core::QualityRating::poor, 15000.0f));
    m_window.show();
    openLibrary(m_library);
    m_window.fileList()->setShowFailedOnly(true);
    const auto shown = m_window.fileList()->filteredFiles();
    ASSERT_EQ(shown.size(), 2u);

    m_window.action(QStringLiteral("exportList"))->trigger();
    auto* panel = m_window.findChild<ListExportPanel*>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->directory().absolutePath(), QString::fromStdString(m_library.string()));
    const auto target = m_folder.path() / "fakes.m3u8";
    bool written = false;
    QObject::connect(panel, &ListExportPanel::written, [&](const QString&, const QString& error) {
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        written = true;
    });
    panel->selectFile(QString::fromStdString(target.string()));
    static_cast<QDialog*>(panel)->accept();
    ASSERT_TRUE(waitUntil([&] { return written; }));

    std::ifstream in(target);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "#EXTM3U");
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(lines[1 + 2 * i], "#EXTINF:3," + shown[i].url().stem().string());
        EXPECT_EQ(lines[2 + 2 * i], shown[i].url().string());
        EXPECT_TRUE(std::filesystem::exists(lines[2 + 2 * i]));
    }

    m_window.action(QStringLiteral("selectLibrary"))->trigger();
    QFileDialog* chooser = nullptr;
    for (auto* dialog : m_window.findChildren<QFileDialog*>()) {
        if (dialog->windowTitle() == "Select your music library")
            chooser = dialog;
    }
    ASSERT_TRUE(chooser);
    EXPECT_EQ(chooser->directory().absolutePath(), QString::fromStdString(m_library.string()));
    chooser->reject();
}

// Delete asks as "Move to Trash" does, with Cancel as the default: Return or Cancel trash nothing.
TEST_F(LibraryWindowTest, DeleteKeyAsksAndCancelKeepsTheFile)
{
    const auto path = makeTrack("keep me.wav", test::resultRated(core::QualityRating::poor, 15000.0f));
    openAndSelect("keep me.wav");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.fileList()->table(), &press);
    auto* question = m_window.fileList()->findChild<QMessageBox*>();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text(), "Move 1 file to Trash?");
    ASSERT_TRUE(question->defaultButton());
    EXPECT_EQ(question->defaultButton()->text(), "Cancel");
    question->defaultButton()->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(m_window.viewModel().allFiles().size(), 1u);
}

// The player's spectrogram button shows and hides the strip; the strip's line sits where the
// player is: it moves with playback and jumps with a seek.
TEST_F(LibraryWindowTest, TheSpectrogramStripTogglesAndItsPlayheadFollowsThePlayer)
{
    makeTrack("a.wav", test::resultRated(core::QualityRating::high));
    openAndSelect("a.wav");
    EXPECT_FALSE(m_window.spectrogram()->isHidden());
    QToolButton* toggle = nullptr;
    for (auto* button : m_window.playerBar()->findChildren<QToolButton*>()) {
        if (button->toolTip() == "Toggle spectrogram")
            toggle = button;
    }
    ASSERT_TRUE(toggle);
    toggle->click();
    EXPECT_TRUE(m_window.spectrogram()->isHidden());
    toggle->click();
    EXPECT_FALSE(m_window.spectrogram()->isHidden());
    EXPECT_FALSE(m_window.spectrogram()->playhead());
    auto& player = m_window.player();
    player.play();
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 0.3; }));
    ASSERT_TRUE(m_window.spectrogram()->playhead());
    EXPECT_DOUBLE_EQ(*m_window.spectrogram()->playhead(), player.progress());
    player.pause();
    player.seek(1.5);
    EXPECT_DOUBLE_EQ(*m_window.spectrogram()->playhead(), 0.5);
    ASSERT_TRUE(waitUntil([&] { return player.currentTime() == 1.5; }));
    EXPECT_DOUBLE_EQ(*m_window.spectrogram()->playhead(), 0.5);
}

// What the Help menu's actions did is said, not only printed: without a launcher (the offscreen
// platform has none) each reports a failure the window shows.
TEST(ApplicationShellNoticeTest, ActionsWithoutALauncherSayWhy)
{
    std::vector<std::pair<QString, bool>> said;
    const shell::Report report = [&](const QString& message, bool failed) { said.emplace_back(message, failed); };
    shell::reportIssue(report);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].second);
    EXPECT_TRUE(said[0].first.contains(QString::fromLatin1(shell::kSupportAddress))) << said[0].first.toStdString();
    shell::openHelp(report);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_TRUE(said[1].second);
}

} // namespace
} // namespace sondrel::ui
