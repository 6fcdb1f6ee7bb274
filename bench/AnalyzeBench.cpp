// Cost of judging a file: decoding the three excerpts alone (the floor), the whole
// analysis, and the FFT segment processor on one excerpt.

#include "AudioDecoder.h"
#include "BenchFolder.h"
#include "FixtureGenerator.h"
#include "SpectrogramGenerator.h"
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

// Files written once per run into a temporary folder: three minutes, or as long as asked.
const fs::path& benchFile(const std::string& format, double seconds = kSeconds)
{
    static std::map<std::string, fs::path> files;
    static const fs::path folder = sondrel::bench::benchFolder();
    const std::string name = "music-" + std::to_string(static_cast<int>(seconds)) + "s." + format;
    auto [it, inserted] = files.try_emplace(name, folder / name);
    if (inserted) {
        const std::string error = sondrel::fixtures::writeBenchmarkFile(it->second, format, seconds);
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
        for (std::uint64_t position : { std::uint64_t { 0 }, third, 2 * third }) {
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

// The spectrogram reads the whole file; its floor is decoding the whole file.
void DecodeWhole(benchmark::State& state, const std::string& format)
{
    const fs::path& path = benchFile(format, 300.0);
    for (auto _ : state) {
        auto decoder = openAudioFile(path);
        AudioBuffer buffer((*decoder)->channelCount(), 16384);
        while (true) {
            auto read = (*decoder)->read(16384, buffer);
            if (!read || *read == 0)
                break;
        }
    }
}

void Spectrogram(benchmark::State& state, const std::string& format)
{
    const fs::path& path = benchFile(format, 300.0);
    const SpectrogramGenerator generator(4096, 2000);
    for (auto _ : state) {
        auto data = generator.generate(path);
        if (!data) {
            state.SkipWithError(data.error().description.c_str());
            return;
        }
        benchmark::DoNotOptimize(data->magnitudes.data());
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
    for (const char* format : { "wav", "flac", "mp3", "m4a" }) {
        benchmark::RegisterBenchmark(
            (std::string("DecodeExcerpts/") + format).c_str(), DecodeExcerpts, std::string(format))
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(
            (std::string("AnalyzeFile/") + format).c_str(), AnalyzeFile, std::string(format))
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
    }
    benchmark::RegisterBenchmark("FftSegment", FftSegment)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("DecodeWhole/mp3-300s", DecodeWhole, std::string("mp3"))
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("Spectrogram/mp3-300s", Spectrogram, std::string("mp3"))
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime();
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
