#include "AnalysisCache.h"
#include "BenchFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace {

using sondrel::core::AnalysisCache;
using sondrel::core::AnalysisResult;
using sondrel::core::ClippingInfo;
using sondrel::core::QualityRating;
namespace fs = std::filesystem;

// A cache file of `entries` realistic entries, one in ten with an override, written once per
// process and size.
fs::path benchFolder(int entries)
{
    static std::map<int, fs::path> folders;
    if (const auto found = folders.find(entries); found != folders.end())
        return found->second;
    const fs::path folder = [kEntries = entries] {
        const fs::path path = sondrel::bench::benchFolder() / ("cache-" + std::to_string(kEntries));
        fs::create_directories(path);
        std::ofstream out(path / "analysis_cache.json", std::ios::binary);
        out << '{';
        for (int i = 0; i < kEntries; ++i) {
            if (i > 0)
                out << ',';
            out << "\"/home/dj/Music/Library/Artist " << i % 700 << "/Album " << i % 90 << "/" << i % 20
                << " Track Title Number " << i << ".mp3|" << 1712345678 + i << ".123456|" << 8000000 + i * 37
                << "\":{\"cutoffFrequency\":" << 15500 + i % 5000 << ".5"
                << ",\"estimatedBitrate\":" << 128 + 64 * (i % 4) << ",\"rating\":\"256kbps\""
                << ",\"confidence\":0.8225806,\"clippedSamples\":" << i % 13
                << ",\"totalSamples\":3175200,\"peakAmplitude\":0.99874" << i % 10
                << ",\"cachedAt\":734038478.125";
            if (i % 10 == 0)
                out << ",\"userOverride\":{\"djReady\":true,\"qualityRating\":\"320kbps\",\"timestamp\":"
                       "734038500.0}";
            out << '}';
        }
        out << '}';
        return path;
    }();
    folders.emplace(entries, folder);
    return folder;
}

void BM_LoadEntries(benchmark::State& state)
{
    const int kEntries = static_cast<int>(state.range(0));
    const fs::path file = benchFolder(kEntries) / "analysis_cache.json";
    for (auto _ : state) {
        AnalysisCache cache(file);
        if (cache.count() != static_cast<std::size_t>(kEntries))
            state.SkipWithError("entries lost on load");
    }
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(file));
}
BENCHMARK(BM_LoadEntries)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SaveEntries(benchmark::State& state)
{
    const fs::path folder = benchFolder(static_cast<int>(state.range(0)));
    const fs::path source = folder / "analysis_cache.json";
    const fs::path file = folder / "saved.json";
    fs::copy_file(source, file, fs::copy_options::overwrite_existing);
    const fs::path track = folder / "track.mp3";
    std::ofstream(track) << "audio";
    AnalysisCache cache(file);
    const AnalysisResult result { 19500.0f, 320, QualityRating::high, 0.8225806f,
        ClippingInfo { 3, 441000, 0.99f } };
    for (auto _ : state) {
        // One change makes the whole cache due; flush() copies, encodes, writes, fsyncs, renames.
        cache.set(track, result);
        cache.flush();
    }
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(file));
}
BENCHMARK(BM_SaveEntries)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
