#include "ProcessCommand.h"

#include "AppSettings.h"
#include "LibraryPath.h"
#include "MixxxLibrary.h"
#include "Processing.h"
#include "ScanCommand.h"
#include "ScannerViewModel.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <istream>
#include <ostream>
#include <string>
#include <unistd.h>

namespace sondrel::app {
namespace {

constexpr const char* kWarningTitle = "This will break Rekordbox links";
constexpr const char* kWarningMessage
    = "Renaming, moving, or deleting files will break links in Rekordbox and other DJ software. You'll need "
      "to relocate the files in your DJ library after processing.";

std::atomic<bool> g_stopTagging { false };

void onInterruptWhileProcessing(int)
{
    g_stopTagging.store(true);
}

// The records named by `only`: paths absolute, relative to the library folder, or relative to
// the current folder, compared in LibraryPath's form.
std::optional<QSet<QUuid>> scopeOf(const ProcessOptions& options, const std::filesystem::path& folder,
    const std::vector<AudioFile>& files, std::ostream& err, bool& unknown)
{
    if (options.only.empty())
        return std::nullopt;
    QSet<QUuid> scope;
    for (const auto& wanted : options.only) {
        auto path = LibraryPath::inside(folder, wanted.is_absolute() ? wanted : folder / wanted);
        if (!path && wanted.is_relative())
            path = LibraryPath::inside(folder, wanted);
        bool found = false;
        for (const AudioFile& file : files) {
            if (path && file.url() == *path) {
                scope.insert(file.id());
                found = true;
            }
        }
        if (!found) {
            err << wanted.string() << ": not a file of the library\n";
            unknown = true;
        }
    }
    return scope;
}

// The database opens, has a schema we know, and (unless only planning) no Mixxx has it open.
bool mixxxLibraryUsable(const MixxxCrateRequest& crate, bool dryRun, std::ostream& err)
{
    const MixxxLibrary library(crate.database);
    if (Status usable = library.check(); !usable) {
        err << usable.error().description << '\n';
        return false;
    }
    if (auto mixxx = library.runningMixxx(); mixxx && !dryRun) {
        err << "Mixxx is running (" << *mixxx << "); quit it first, or it will write its library back over "
            << "the crate\n";
        return false;
    }
    return true;
}

} // namespace

int runProcess(
    const ProcessOptions& options, std::istream& in, bool interactive, std::ostream& out, std::ostream& err)
{
    std::error_code ec;
    const std::filesystem::path folder = LibraryPath::normalised(options.folder);
    if (!std::filesystem::is_directory(folder, ec)) {
        err << options.folder.string() << ": not a folder\n";
        return 2;
    }
    if (options.moveTo && options.trash) {
        err << "--move and --trash cannot go together: a failed file goes either into a folder or to the "
               "Trash\n";
        return 2;
    }
    if (options.moveTo && !std::filesystem::is_directory(*options.moveTo, ec)) {
        err << options.moveTo->string() << ": not a folder\n";
        return 2;
    }
    std::optional<MixxxCrateRequest> crate;
    if (options.crate) {
        crate = MixxxCrateRequest { *options.crate,
            LibraryPath::normalised(options.mixxxDatabase.value_or(MixxxLibrary::defaultDatabase())) };
        if (!mixxxLibraryUsable(*crate, options.dryRun, err))
            return 2;
    }
    const bool breaksLinks = options.rename || options.moveTo || options.trash;
    if ((breaksLinks || crate) && !options.dryRun && !options.yes) {
        const std::string crateNote = crate ? "The failed files will be added to the Mixxx crate \""
                + crate->name + "\" in " + crate->database.string() + " (a copy of it is kept beside it).\n"
                                            : std::string();
        if (!interactive) {
            if (breaksLinks)
                err << kWarningTitle << ". " << kWarningMessage << "\n";
            err << crateNote
                << "Refusing to make changes without --yes when standard input is not a terminal.\n";
            return 2;
        }
        if (breaksLinks)
            err << kWarningTitle << "\n" << kWarningMessage << "\n";
        err << crateNote << "Continue? [y/N] ";
        std::string answer;
        std::getline(in, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            err << "Nothing was changed.\n";
            return 2;
        }
    }

    const QualityThreshold threshold = options.threshold.value_or(AppSettings::shared().qualityThreshold());
    ScannerViewModel model(scanServices(false, threshold, 0));
    const ScanRun scan = scanLibrary(model, folder, std::nullopt, ::isatty(STDERR_FILENO) != 0, err);
    if (scan.interrupted)
        return 130;

    bool unknown = false;
    ProcessingRequest request;
    request.scope = scopeOf(options, folder, model.allFiles(), err, unknown);
    if (unknown)
        return 2;
    request.rename = options.rename;
    request.move = options.moveTo.has_value();
    if (options.moveTo)
        request.destination = LibraryPath::normalised(*options.moveTo);
    request.trash = options.trash;
    request.updateTags = options.tag;
    request.crate = crate;

    if (options.dryRun) {
        std::vector<AudioFile> files = model.allFiles();
        std::sort(files.begin(), files.end(),
            [](const AudioFile& a, const AudioFile& b) { return a.url().native() < b.url().native(); });
        for (const std::string& line : Processing::plan(request, files))
            out << line << '\n';
        return 0;
    }
    // Ctrl-C no longer kills the process: the tag phase finishes the file being written and stops,
    // and the results so far are printed.
    g_stopTagging = false;
    request.stopTagging = &g_stopTagging;
    struct sigaction action { };
    action.sa_handler = onInterruptWhileProcessing;
    sigemptyset(&action.sa_mask);
    struct sigaction previous { };
    sigaction(SIGINT, &action, &previous);
    ProcessingResults results;
    model.process(request, [&](const ProcessingResults& done) {
        results = done;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    sigaction(SIGINT, &previous, nullptr);
    for (const std::string& line : results.lines())
        out << line << '\n';
    if (g_stopTagging.load())
        return 130;
    return results.hasIssues() || scan.skippedFolders > 0 ? 1 : 0;
}

} // namespace sondrel::app
