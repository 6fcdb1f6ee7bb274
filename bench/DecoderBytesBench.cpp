// Bytes one analysis reads from a 5-minute file, per format: what a first scan costs a
// slow drive. Counted with the process's rchar, so the page cache does not hide them.

#include "AudioIo.h"
#include "BenchFolder.h"
#include "SpectrumAnalyzer.h"

#include <benchmark/benchmark.h>

#include <map>

namespace {

namespace fs = std::filesystem;
namespace fx = sondrel::fixtures;
using namespace sondrel::core;

constexpr int kRate = 44100;
constexpr std::size_t kFrames = 300 * kRate;

struct Case {
    const char* name;
    fx::EncodeOptions options;
};

const fs::path& fileFor(const Case& c)
{
    static std::map<std::string, fs::path> made;
    auto [it, added] = made.try_emplace(c.name);
    if (added) {
        static const fx::Signal music = fx::makeMusicLike(kFrames, kRate, 2, 300);
        it->second = sondrel::bench::benchFolder()
            / (std::string(c.name) + std::string(fx::fileExtension(c.options.container)));
        if (!fx::writeAudioFile(it->second, music, c.options).empty())
            std::abort();
    }
    return it->second;
}

Case caseOf(int index)
{
    fx::EncodeOptions vbr { fx::Container::Mp3, fx::SampleFormat::S16, 0, {} };
    vbr.vbrQuality = 0;
    fx::EncodeOptions vbrWithoutTable = vbr;
    vbrWithoutTable.xingHeader = false;
    const Case cases[] = {
        { "mp3-cbr320", { fx::Container::Mp3, fx::SampleFormat::S16, 320, {} } },
        { "mp3-v0", vbr },
        { "mp3-v0-no-xing", vbrWithoutTable },
        { "m4a-256", { fx::Container::M4a, fx::SampleFormat::S16, 256, {} } },
        { "flac", { fx::Container::Flac, fx::SampleFormat::S16, 0, {} } },
        { "wav", { fx::Container::Wav, fx::SampleFormat::S16, 0, {} } },
    };
    return cases[index];
}

void BytesPerAnalysis(benchmark::State& state)
{
    const Case c = caseOf(static_cast<int>(state.range(0)));
    const fs::path& path = fileFor(c);
    state.SetLabel(c.name);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const std::uint64_t before = sondrel::bench::ioCounter("rchar:");
        auto analyzer = SpectrumAnalyzer::make();
        benchmark::DoNotOptimize(analyzer->analyzeFileComplete(path));
        bytes = sondrel::bench::ioCounter("rchar:") - before;
    }
    const auto size = static_cast<double>(fs::file_size(path));
    state.counters["KB"] = static_cast<double>(bytes) / 1024.0;
    state.counters["percent"] = 100.0 * static_cast<double>(bytes) / size;
    state.counters["fileMB"] = size / 1048576.0;
}

} // namespace

BENCHMARK(BytesPerAnalysis)->DenseRange(0, 5)->Iterations(20)->Unit(benchmark::kMillisecond);
