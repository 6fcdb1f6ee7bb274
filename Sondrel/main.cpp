#include "ApplicationShell.h"
#include "CommandLine.h"
#include "MainWindow.h"

#include <QApplication>

#include <malloc.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string_view>

namespace {

constexpr int kUsageError = 2;

// `sondrel` alone, or with one argument that is neither an option nor a subcommand (a folder,
// as a desktop file's %f or a file manager's "Open With" passes it).
bool wantsWindow(int argc, char** argv)
{
    if (argc == 1)
        return true;
    return argc == 2 && argv[1][0] != '-' && !sondrel::app::isSubcommand(argv[1]);
}

int runWindow(int argc, char** argv)
{
    // Qt aborts when it finds no display; say so in one line instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::cerr << "sondrel: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                     "the subcommands analyze, scan, process, spectrogram and cache need none.\n";
        return kUsageError;
    }
    std::optional<std::filesystem::path> folder;
    if (argc == 2) {
        std::error_code error;
        folder = std::filesystem::absolute(argv[1], error);
        if (error || !std::filesystem::is_directory(*folder, error)) {
            std::cerr << "sondrel: " << argv[1] << ": not a folder\n";
            return kUsageError;
        }
    }
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
    QApplication::setDesktopFileName(QString::fromLatin1(sondrel::ui::shell::kApplicationId));
    // Every window carries the icon itself, so it shows even where the desktop file and the
    // themed icon are not installed (a build tree, a bare X server).
    QApplication::setWindowIcon(sondrel::ui::shell::applicationIcon());
    sondrel::ui::MainWindow window;
    if (folder)
        window.openLibrary(*folder);
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Discovery builds records on short-lived worker threads; with an arena per thread their
    // long-lived allocations scatter, and a 100,000-file library takes about 40 MB more.
    mallopt(M_ARENA_MAX, 2);
    if (wantsWindow(argc, argv))
        return runWindow(argc, argv);
    return sondrel::app::runCommandLine(argc, argv);
}
