// The move step of processing: 500 small files moved to another folder on the same file
// system through the numbered move, as a run moves failed files out of a library. Each
// iteration moves the whole set one way; the next moves it back.

#include "BenchFolder.h"
#include "FileOperations.h"
#include "SystemFileOperations.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFileCount = 500;
constexpr std::size_t kFileBytes = 4096;

void MoveFiveHundredFiles(benchmark::State& state)
{
    const fs::path root = sondrel::bench::benchFolder() / "move-five-hundred-files";
    fs::path here = root / "library";
    fs::path there = root / "failed";
    fs::create_directories(here);
    fs::create_directories(there);
    std::vector<std::string> names;
    const std::string bytes(kFileBytes, '\x55');
    for (int index = 0; index < kFileCount; ++index) {
        char name[32];
        std::snprintf(name, sizeof name, "Track %03d.mp3", index);
        names.emplace_back(name);
        std::ofstream(here / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    sondrel::app::SystemFileOperations operations;
    for (auto _ : state) {
        for (const std::string& name : names) {
            auto moved = sondrel::app::moveWithNumbering(operations, here / name, there);
            if (!moved) {
                state.SkipWithError("a move failed");
                return;
            }
            benchmark::DoNotOptimize(moved);
        }
        std::swap(here, there);
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);

    std::error_code ignored;
    fs::remove_all(root, ignored);
}

} // namespace

BENCHMARK(MoveFiveHundredFiles)->Unit(benchmark::kMillisecond);
