#include "ScanCommand.h"

#include "AnalysisCache.h"
#include "AppSettings.h"
#include "FilePrefetcher.h"
#include "JsonSupport.h"
#include "LibraryPath.h"
#include "ListExport.h"
#include "ScannerViewModel.h"
#include "TerminalText.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <ostream>
#include <unistd.h>

namespace sondrel::app {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_interrupts { 0 };

void onInterrupt(int)
{
    // The second Ctrl-C does not wait for the scan to wind down.
    if (g_interrupts.fetch_add(1) >= 1)
        ::_exit(130);
}

// Prints the files without copying them: the table takes its widths in a first pass.
void printResults(const std::vector<const AudioFile*>& files, const ScanOptions& options,
    QualityThreshold threshold, std::ostream& out)
{
    if (options.output != ScanOptions::Output::table) {
        const auto format = options.output == ScanOptions::Output::json ? ListExport::Format::jsonLines
            : options.output == ScanOptions::Output::csv                ? ListExport::Format::csv
                                                                        : ListExport::Format::m3u8;
        ListExport::write(format, files, threshold, out);
        return;
    }
    const std::vector<std::string>& header = ListExport::columnTitles();
    // Widths in terminal columns; control characters are shown escaped.
    const auto cells = [&](const AudioFile& file) {
        std::vector<std::string> row = ListExport::columns(file, threshold);
        for (std::string& cell : row)
            cell = TerminalText::escapedControls(cell);
        return row;
    };
    std::vector<std::size_t> widths(header.size(), 0);
    const auto widen = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::min<std::size_t>(std::max(widths[i], TerminalText::displayWidth(row[i])), 40);
    };
    widen(header);
    for (const AudioFile* file : files)
        widen(cells(*file));
    const auto printRow = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += (i ? "  " : "") + (i + 1 < row.size() ? TerminalText::padded(row[i], widths[i]) : row[i]);
        out << line << '\n';
    };
    printRow(header);
    for (const AudioFile* file : files)
        printRow(cells(*file));
}

// One line on a terminal, redrawn in place at most ten times a second.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled)
        : m_enabled(enabled)
    {
    }

    void show(const ScannerViewModel& model)
    {
        if (!m_enabled)
            return;
        const auto now = Clock::now();
        if (now - m_lastDraw < std::chrono::milliseconds(100))
            return;
        m_lastDraw = now;
        std::string text;
        if (model.isDiscovering()) {
            text = "Discovering: " + std::to_string(model.discoveredFileCount()) + " audio files found";
        } else if (model.isScanning()) {
            const auto& c = model.cachedCounts();
            const int done = c.passed + c.failed + c.error;
            const int total = done + c.pending + c.scanning;
            if (!m_scanStart) {
                m_scanStart = now;
                m_doneAtStart = done;
            }
            const double seconds = std::chrono::duration<double>(now - *m_scanStart).count();
            const double rate = seconds > 0.5 ? (done - m_doneAtStart) / seconds : 0.0;
            char buffer[160];
            std::snprintf(buffer, sizeof buffer, "Scanning %d of %d files  %3.0f%%  %.1f files/s", done,
                total, 100.0 * model.scanProgress(), rate);
            text = buffer;
            if (rate > 0) {
                const int left = static_cast<int>((total - done) / rate);
                std::snprintf(buffer, sizeof buffer, "  %d:%02d left", left / 60, left % 60);
                text += buffer;
            }
        }
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        m_drawn = true;
    }

    void clear()
    {
        if (m_drawn)
            std::fprintf(stderr, "\r\033[K");
        m_drawn = false;
    }

private:
    bool m_enabled;
    bool m_drawn = false;
    Clock::time_point m_lastDraw {};
    std::optional<Clock::time_point> m_scanStart;
    int m_doneAtStart = 0;
};

} // namespace

ScannerViewModel::Services scanServices(bool noCache, QualityThreshold threshold, int jobs)
{
    ScannerViewModel::Services services;
    services.cache = noCache ? nullptr : &core::AnalysisCache::shared();
    // Standard output carries the data (JSON, CSV) of a command.
    if (services.cache)
        services.cache->reportSaveFailuresTo(std::cerr);
    services.prefetcher = &core::FilePrefetcher::shared();
    services.threshold = [threshold] { return threshold; };
    services.concurrentAnalyses = jobs;
    // The scan that follows discovery applies the cached verdicts itself.
    services.verdictsOnDiscovery = false;
    services.recordsAreFresh = true;
    return services;
}

ScanRun scanLibrary(ScannerViewModel& model, const std::filesystem::path& folder,
    const std::optional<std::filesystem::path>& subfolder, bool showProgress, std::ostream& err)
{
    ProgressLine progress(showProgress);
    int skippedFolders = 0;
    auto skipped = QObject::connect(&model, &ScannerViewModel::folderSkipped,
        [&](const std::filesystem::path& skippedFolder, const std::string& reason) {
            progress.clear();
            err << "Skipped folder "
                << TerminalText::escapedControls(core::json::validUtf8(skippedFolder.string())) << ": "
                << reason << '\n';
            ++skippedFolders;
        });
    auto shown = QObject::connect(
        &model, &ScannerViewModel::discoveredFileCountChanged, [&] { progress.show(model); });
    auto counted
        = QObject::connect(&model, &ScannerViewModel::cachedCountsChanged, [&] { progress.show(model); });

    bool completed = false;
    auto discovered = QObject::connect(&model, &ScannerViewModel::discoveryFinished, [&] {
        if (subfolder)
            model.setSelectedFolder(FolderNode::create(*subfolder, 1, model.rootNode()));
        model.startScan();
        // Nothing to scan: the run is complete as it stands.
        if (!model.isScanning()) {
            completed = true;
            QCoreApplication::quit();
        }
    });
    auto scanned = QObject::connect(&model, &ScannerViewModel::scanFinished, [&] {
        completed = g_interrupts.load() == 0;
        QCoreApplication::quit();
    });

    g_interrupts = 0;
    struct sigaction action { };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous { };
    sigaction(SIGINT, &action, &previous);
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (g_interrupts.load() > 0 && model.isScanning())
            model.cancelScan();
        else if (g_interrupts.load() > 0 && !model.isScanning())
            QCoreApplication::quit();
    });
    interruptWatch.start(50);

    model.setLibrary(folder);
    QCoreApplication::exec();
    interruptWatch.stop();
    sigaction(SIGINT, &previous, nullptr);
    progress.clear();
    for (const auto& connection : { shown, counted, discovered, scanned, skipped })
        QObject::disconnect(connection);
    return { completed, g_interrupts.load() > 0, skippedFolders };
}

std::optional<std::filesystem::path> resolveSubfolder(
    const std::filesystem::path& folder, const std::filesystem::path& subfolder)
{
    std::error_code ec;
    auto path = LibraryPath::inside(folder, subfolder.is_absolute() ? subfolder : folder / subfolder);
    if (!path || !std::filesystem::is_directory(*path, ec))
        return std::nullopt;
    return path;
}

int runScan(const ScanOptions& options, std::ostream& out, std::ostream& err, bool showProgress)
{
    std::error_code ec;
    const std::filesystem::path folder = LibraryPath::normalised(options.folder);
    if (!std::filesystem::is_directory(folder, ec)) {
        err << options.folder.string() << ": not a folder\n";
        return 2;
    }
    std::optional<std::filesystem::path> subfolder;
    if (options.subfolder) {
        subfolder = resolveSubfolder(folder, *options.subfolder);
        if (!subfolder) {
            err << options.subfolder->string() << ": not a folder of the library\n";
            return 2;
        }
        // The walk follows no links, so a link out of the library would scan nothing.
        const std::filesystem::path real = std::filesystem::canonical(*subfolder, ec);
        const std::filesystem::path relative
            = real.lexically_relative(std::filesystem::canonical(folder, ec));
        if (ec || relative.empty() || *relative.begin() == "..") {
            err << options.subfolder->string() << ": leads to " << real.string() << ", outside the library "
                << folder.string() << "; scan that folder as a library of its own\n";
            return 2;
        }
    }

    const QualityThreshold threshold = options.threshold.value_or(AppSettings::shared().qualityThreshold());
    ScannerViewModel model(scanServices(options.noCache, threshold, options.jobs));
    const ScanRun run = scanLibrary(model, folder, subfolder, showProgress, err);

    std::vector<AudioFile> inFolder;
    if (subfolder)
        inFolder = model.filesInFolder(*subfolder);
    const std::vector<AudioFile>& files = subfolder ? inFolder : model.allFiles();
    bool anyBad = false;
    std::vector<const AudioFile*> shown;
    for (const AudioFile& file : files) {
        const auto kind = file.status().kind();
        anyBad = anyBad || kind == ScanStatus::Kind::failed || kind == ScanStatus::Kind::error;
        if (!options.failedOnly || kind == ScanStatus::Kind::failed)
            shown.push_back(&file);
    }
    std::sort(shown.begin(), shown.end(),
        [](const AudioFile* a, const AudioFile* b) { return a->url().native() < b->url().native(); });
    printResults(shown, options, threshold, out);
    out.flush();
    err << model.statusMessage() << '\n';

    if (run.interrupted) {
        if (!options.noCache)
            core::AnalysisCache::shared().flush();
        return 130;
    }
    if (!run.completed || run.skippedFolders > 0)
        return 1;
    return anyBad ? 1 : 0;
}

} // namespace sondrel::app
