// Cost of writing the detected-bitrate comment into a 10 MB MP3: read the tag, set the comment,
// write the file back through a temporary file that is flushed to disk and renamed over it.
// The figure includes the fsync, so it depends on the disk under the temporary folder.

#include "AudioIo.h"
#include "LocalizedTextFrame.h"
#include "Signals.h"
#include "TagEditor.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

using namespace sondrel::tags;
namespace fs = std::filesystem;
namespace fixtures = sondrel::fixtures;

constexpr int kSampleRate = 44100;
// 320 kbps: 40000 bytes per second, so 262 s make 10 MiB.
constexpr std::size_t kFrames = std::size_t { 262 } * kSampleRate;

struct BenchFile {
    fs::path folder;
    fs::path path;
    std::string error;

    BenchFile()
    {
        folder = fs::temp_directory_path() / ("sondrel-tag-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        path = folder / "music-10MB-mp3-cbr320.mp3";
        fixtures::Id3Tags tags;
        tags.version = 3;
        tags.title = "Benchmark Track";
        tags.artist = "Benchmark Artist";
        tags.album = "Benchmark Album";
        tags.comment = "DJ software data";
        error = fixtures::writeAudioFile(path, fixtures::makeMusicLike(kFrames, kSampleRate, 2, 7),
            { fixtures::Container::Mp3, fixtures::SampleFormat::S16, 320, tags });
    }
    ~BenchFile()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    BenchFile(const BenchFile&) = delete;
    BenchFile& operator=(const BenchFile&) = delete;
};

void TagRewrite10MB(benchmark::State& state)
{
    static const BenchFile file;
    if (!file.error.empty()) {
        state.SkipWithError(("cannot write benchmark file: " + file.error).c_str());
        return;
    }
    const TagEditor editor;
    int bitrate = 128;
    std::uintmax_t written = 0;
    for (auto _ : state) {
        TagResult<std::optional<Id3Tag>> read = editor.read(file.path);
        Id3Tag tag = read.ok() && read->has_value() ? std::move(**read) : Id3Tag::emptyVersion3();
        tag.frames[FrameName::comment(FrameLanguage::eng)]
            = std::make_shared<LocalizedTextFrame>(FrameLanguage::eng, "Sondrel Quality Check",
                "Detected bitrate: " + std::to_string(bitrate) + " kbps");
        bitrate = bitrate == 128 ? 320 : 128;
        if (const TagStatus status = editor.write(tag, file.path); !status) {
            state.SkipWithError(status.error().description().c_str());
            return;
        }
        written += fs::file_size(file.path);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(written));
    state.counters["bytes_written"]
        = benchmark::Counter(static_cast<double>(written), benchmark::Counter::kAvgIterations);
}

BENCHMARK(TagRewrite10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
