// What the read-ahead buys with a cold page cache: 200 five-minute files analysed two at a
// time, as a scan does, with and without the next four files handed to the prefetcher.
// "MB" counts what the process read (rchar), analyses and read-aheads together.

#include "BenchFolder.h"
#include "FilePrefetcher.h"
#include "FixtureGenerator.h"
#include "SpectrumAnalyzer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace sondrel::core;

constexpr int kFiles = 200;
constexpr int kAnalyses = 2;
constexpr double kSeconds = 300.0;

const std::vector<fs::path>& library()
{
    static const std::vector<fs::path> files = [] {
        const fs::path folder = sondrel::bench::benchFolder() / "read-ahead";
        fs::create_directories(folder);
        const char* formats[] = { "mp3", "m4a", "flac", "wav" };
        std::vector<fs::path> paths;
        for (const char* format : formats) {
            const fs::path source = folder / (std::string("source.") + format);
            if (!sondrel::fixtures::writeBenchmarkFile(source, format, kSeconds).empty())
                std::abort();
        }
        for (int i = 0; i < kFiles; ++i) {
            const char* format = formats[i % 4];
            paths.push_back(folder / ("track-" + std::to_string(i) + "." + format));
            fs::copy_file(folder / (std::string("source.") + format), paths.back());
        }
        return paths;
    }();
    return files;
}

// Drops the files' pages from the page cache, as after a reboot.
void evict(const std::vector<fs::path>& files)
{
    for (const fs::path& path : files) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void analyseAll(const std::vector<fs::path>& files, bool readAhead)
{
    FilePrefetcher prefetcher;
    std::atomic<std::size_t> next { 0 };
    std::vector<std::jthread> workers;
    for (int w = 0; w < kAnalyses; ++w) {
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < files.size();) {
                // The files that wait their turn behind the running analyses.
                if (readAhead) {
                    const std::size_t from = std::min(files.size(), i + kAnalyses);
                    const std::size_t to
                        = std::min(files.size(), from + FilePrefetcher::kMaxConcurrentPrefetches);
                    prefetcher.prefetch(std::span(files).subspan(from, to - from));
                }
                auto analyzer = SpectrumAnalyzer::make();
                benchmark::DoNotOptimize(analyzer->analyzeFileComplete(files[i]));
            }
        });
    }
}

void ColdScan(benchmark::State& state)
{
    const auto& files = library();
    const bool readAhead = state.range(0) != 0;
    std::uint64_t bytes = 0;
    std::uint64_t fromDisk = 0;
    for (auto _ : state) {
        state.PauseTiming();
        evict(files);
        const std::uint64_t before = sondrel::bench::ioCounter("rchar:");
        const std::uint64_t diskBefore = sondrel::bench::ioCounter("read_bytes:");
        state.ResumeTiming();
        analyseAll(files, readAhead);
        bytes = sondrel::bench::ioCounter("rchar:") - before;
        fromDisk = sondrel::bench::ioCounter("read_bytes:") - diskBefore;
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
    state.counters["readMB"] = static_cast<double>(bytes) / 1048576.0;
    state.counters["diskMB"] = static_cast<double>(fromDisk) / 1048576.0;
}

} // namespace

BENCHMARK(ColdScan)
    ->ArgName("readAhead")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
