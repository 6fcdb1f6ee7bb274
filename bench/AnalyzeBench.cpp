// Cost of judging a file: decoding the three excerpts alone (the floor), the whole
// analysis, and the FFT segment processor on one excerpt.

#include "AudioDecoder.h"
#include "FixtureGenerator.h"
#include "SpectrumAnalyzer.h"
#include "fft/FastFFTProcessor.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <numbers>
#include <random>

namespace {

using namespace sondrel::core;
namespace fs = std::filesystem;

constexpr double kSeconds = 180.0;

// Three-minute files, written once per run into a temporary folder.
const fs::path& benchFile(const std::string& format)
{
    static std::map<std::string, fs::path> files;
    static const fs::path folder = [] {
        auto dir = fs::temp_directory_path() / ("sondrel-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::atexit([] { std::error_code ec; fs::remove_all(fs::temp_directory_path() / ("sondrel-bench-" + std::to_string(::getpid())), ec); });
        return dir;
    }();
    auto [it, inserted] = files.try_emplace(format, folder / ("music-180s." + format));
    if (inserted) {
        const std::string error = sondrel::fixtures::writeBenchmarkFile(it->second, format, kSeconds);
        if (!error.empty()) {
            std::fprintf(stderr, "cannot write %s: %s\n", it->second.c_str(), error.c_str());
            std::exit(1);
        }
    }
    return it->second;
}

void DecodeExcerpts(benchmark::State& state, const std::string& format)
{
    const fs::path& path = benchFile(format);
    for (auto _ : state) {
        auto decoder = openAudioFile(path);
        if (!decoder) {
            state.SkipWithError(decoder.error().description.c_str());
            return;
        }
        AudioDecoder& d = **decoder;
        AudioBuffer buffer(d.channelCount(), 16384);
        const std::uint64_t third = d.lengthInFrames() / 3;
        for (std::uint64_t position : {std::uint64_t{0}, third, 2 * third}) {
            if (!d.seek(position) || !d.read(16384, buffer)) {
                state.SkipWithError("read failed");
                return;
            }
            benchmark::DoNotOptimize(buffer.channel(0).data());
        }
    }
}

void AnalyzeFile(benchmark::State& state, const std::string& format)
{
    const fs::path& path = benchFile(format);
    for (auto _ : state) {
        auto analyzer = SpectrumAnalyzer::make();
        auto result = analyzer->analyzeFileComplete(path);
        if (!result) {
            state.SkipWithError(result.error().description.c_str());
            return;
        }
        benchmark::DoNotOptimize(result->cutoff);
    }
}

void FftSegment(benchmark::State& state)
{
    std::vector<float> samples(16384);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (float& s : samples)
        s = noise(random);
    auto processor = FastFFTProcessor::make(4096);
    for (auto _ : state)
        benchmark::DoNotOptimize(processor->analyzeSegment(samples, 44100.0f));
}

void registerAll()
{
    for (const char* format : {"wav", "flac", "mp3", "m4a"}) {
        benchmark::RegisterBenchmark((std::string("DecodeExcerpts/") + format).c_str(), DecodeExcerpts,
                                     std::string(format))
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark((std::string("AnalyzeFile/") + format).c_str(), AnalyzeFile,
                                     std::string(format))
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
    }
    benchmark::RegisterBenchmark("FftSegment", FftSegment)->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
