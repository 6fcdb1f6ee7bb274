// The library window on a large library (20,000 files unless told): the time from opening the
// window on a library whose every verdict is cached to the first rows drawn and to every verdict
// shown, the GUI thread's longest stall (how late a 10 ms timer fires at worst) during that
// discovery and during a scan with every verdict cached, and the peak memory. Up to 20,000
// files it then clears the cache and measures discovery and scan again with nothing cached.
//
//   build/bench/sondrel_library_window_bench [FILES]
//
// The files are hard links to one small generated WAV, too short to analyse: the scan's work per
// file is a decoder's refusal, so what is measured is the window's bookkeeping, not the analysis.

#include "AnalysisCache.h"
#include "BenchFolder.h"
#include "FileListView.h"
#include "MainWindow.h"
#include "ScannerViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTableView>
#include <QTimer>

#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

using namespace sondrel;

namespace {

void writeWav(const std::filesystem::path& path, std::uint32_t frames)
{
    const std::uint32_t dataBytes = frames * 2;
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    const std::string silence(dataBytes, '\0');
    out.write(silence.data(), static_cast<std::streamsize>(silence.size()));
}

// How late a 10 ms timer on the GUI thread fires, at worst, between start() and worst().
class StallProbe {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_worst = std::max(m_worst, now - m_last - 10);
            m_last = now;
        });
    }
    void start()
    {
        m_worst = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start(10);
    }
    qint64 worst()
    {
        m_timer.stop();
        return m_worst;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

bool runUntil(const std::function<bool()>& done, int seconds = 900)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Waits for the table's first paint with rows in it.
class FirstRows : public QObject {
public:
    explicit FirstRows(QTableView& table)
        : m_table(table)
    {
        table.viewport()->installEventFilter(this);
    }
    bool drawn() const { return m_drawn; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_table.model()->rowCount() > 0)
            m_drawn = true;
        return false;
    }

private:
    QTableView& m_table;
    bool m_drawn = false;
};

} // namespace

int main(int argc, char** argv)
{
    // As the application does.
    mallopt(M_ARENA_MAX, 2);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const auto root = bench::benchFolder();
    const auto library = root / "library";
    qputenv("XDG_DATA_HOME", (root / "data").c_str());
    qputenv("XDG_CONFIG_HOME", (root / "config").c_str());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    std::vector<std::filesystem::path> files;
    for (int i = 0; i < count; ++i) {
        // A file takes at most 65,000 links on ext4.
        const auto source = root / ("source-" + std::to_string(i / 50000) + ".wav");
        if (i % 50000 == 0)
            writeWav(source, 1000);
        const auto folder
            = library / ("Artist " + std::to_string(i / 200)) / ("Album " + std::to_string(i / 20));
        std::filesystem::create_directories(folder);
        files.push_back(folder / ("Track " + std::to_string(i) + ".wav"));
        std::filesystem::create_hard_link(source, files.back());
    }
    // Every verdict in the cache, as after an earlier scan.
    {
        core::AnalysisCache cache(root / "data" / "Sondrel" / "analysis_cache.json");
        for (std::size_t i = 0; i < files.size(); ++i) {
            core::AnalysisResult result { i % 3 ? 20500.0f : 16000.0f, i % 3 ? 320 : 128,
                i % 3 ? core::QualityRating::high : core::QualityRating::poor, 0.8f, { 0, 49152, 0.5f } };
            cache.set(files[i], result);
        }
        cache.flush();
    }

    // Opening the window on the cached library, as `sondrel FOLDER` does.
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication application(argc, argv);
    std::optional<ui::MainWindow> window;
    window.emplace();
    FirstRows firstRows(*window->fileList()->table());
    window->openLibrary(library);
    window->show();
    runUntil([&] { return firstRows.drawn(); });
    const qint64 firstRowsMs = sinceStart.elapsed();

    StallProbe probe;
    app::ScannerViewModel& model = window->viewModel();
    probe.start();
    bool discovered = false;
    QObject::connect(&model, &app::ScannerViewModel::discoveryFinished, [&] { discovered = true; });
    const auto decided = [&] {
        const auto& counts = model.cachedCounts();
        return counts.passed + counts.failed >= count;
    };
    runUntil([&] { return decided() || discovered || !model.isDiscovering(); });
    // Verdicts that only a scan brings (no verdicts at discovery) are timed with that scan below.
    const std::optional<qint64> verdictsMs = decided() ? std::optional(sinceStart.elapsed()) : std::nullopt;
    runUntil([&] { return discovered || !model.isDiscovering(); });
    const qint64 cachedDiscoveryStall = probe.worst();

    bool scanned = false;
    QObject::connect(&model, &app::ScannerViewModel::scanFinished, [&] { scanned = true; });
    probe.start();
    model.startScan();
    QElapsedTimer cachedScan;
    cachedScan.start();
    runUntil([&] { return scanned; });
    const qint64 cachedScanStall = probe.worst();
    const qint64 cachedScanMs = cachedScan.elapsed();
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);

    std::printf("files: %d\n", count);
    std::printf(
        "first rows drawn, every verdict cached: %lld ms after start\n", static_cast<long long>(firstRowsMs));
    if (verdictsMs)
        std::printf("every cached verdict shown: %lld ms after start\n", static_cast<long long>(*verdictsMs));
    else
        std::printf("every cached verdict shown: only after a scan\n");
    std::printf("longest GUI stall, discovery (cached library): %lld ms\n",
        static_cast<long long>(cachedDiscoveryStall));
    std::printf("longest GUI stall, scan with every verdict cached: %lld ms (scan took %lld ms)\n",
        static_cast<long long>(cachedScanStall), static_cast<long long>(cachedScanMs));
    std::printf("peak memory: %ld MB\n", usage.ru_maxrss / 1024);
    std::fflush(stdout);
    if (count > 20000)
        return 0;

    // The same library with nothing cached: every file goes through the decoder.
    core::AnalysisCache::shared().clear();
    core::AnalysisCache::shared().flush();
    window.reset();
    window.emplace();
    window->show();
    app::ScannerViewModel& fresh = window->viewModel();
    discovered = false;
    scanned = false;
    QObject::connect(&fresh, &app::ScannerViewModel::discoveryFinished, [&] { discovered = true; });
    QObject::connect(&fresh, &app::ScannerViewModel::scanFinished, [&] { scanned = true; });
    probe.start();
    QElapsedTimer phase;
    phase.start();
    window->openLibrary(library);
    runUntil([&] { return discovered; });
    const qint64 discoveryStall = probe.worst();
    const qint64 discoveryMs = phase.elapsed();
    probe.start();
    phase.restart();
    fresh.startScan();
    runUntil([&] { return scanned; });
    const qint64 scanStall = probe.worst();
    const qint64 scanMs = phase.elapsed();

    std::printf("longest GUI stall, discovery: %lld ms (discovery took %lld ms)\n",
        static_cast<long long>(discoveryStall), static_cast<long long>(discoveryMs));
    std::printf("longest GUI stall, scan: %lld ms (scan took %lld ms)\n", static_cast<long long>(scanStall),
        static_cast<long long>(scanMs));
    return 0;
}
