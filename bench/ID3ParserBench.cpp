// Tag reading during discovery: files per second through ID3Parser::parse on a folder of
// small tagged MP3 files that sit in the page cache, so the figure is the parser plus the
// system calls, not the disk.

#include "ID3Parser.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

using sondrel::core::ID3Parser;
namespace fs = std::filesystem;

constexpr int kFileCount = 10000;
constexpr std::size_t kAudioBytes = 4096;

void appendFrame(std::string& body, std::string_view id, std::string_view utf8Text)
{
    const auto size = static_cast<std::uint32_t>(utf8Text.size() + 1);
    body += id;
    for (const int shift : { 24, 16, 8, 0 })
        body += static_cast<char>((size >> shift) & 0xFF);
    body += std::string_view("\0\0\3", 3); // no flags, UTF-8
    body += utf8Text;
}

// An ID3v2.3 tag with the three text frames and two others, then 320 kbps MPEG-1 Layer III
// frame headers over silence.
std::string tinyMp3(int index)
{
    std::string body;
    appendFrame(body, "TXXX", "encoder settings");
    appendFrame(body, "TIT2", "Track " + std::to_string(index));
    appendFrame(body, "TPE1", "Benchmark Artist");
    appendFrame(body, "TALB", "Benchmark Album " + std::to_string(index / 12));
    appendFrame(body, "TCON", "House");
    body.append(64, '\0'); // padding, as taggers leave it

    const auto size = static_cast<std::uint32_t>(body.size());
    std::string file = "ID3";
    file += std::string_view("\3\0\0", 3);
    for (const int shift : { 21, 14, 7, 0 })
        file += static_cast<char>((size >> shift) & 0x7F);
    file += body;
    std::string audio(kAudioBytes, '\0');
    audio.replace(0, 4, std::string_view("\xFF\xFB\xE0\x00", 4)); // index 14: 320 kbps
    return file + audio;
}

struct Library {
    fs::path folder;
    std::vector<fs::path> files;

    Library()
    {
        folder = fs::temp_directory_path() / ("sondrel-id3-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        files.reserve(kFileCount);
        for (int index = 0; index < kFileCount; ++index) {
            files.push_back(folder / ("track-" + std::to_string(index) + ".mp3"));
            const std::string bytes = tinyMp3(index);
            std::ofstream(files.back(), std::ios::binary)
                .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
    }
    ~Library()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

void ID3ParserParse(benchmark::State& state)
{
    static const Library library;
    // One untimed pass warms the page cache and the dentry cache, and checks the files.
    for (const fs::path& file : library.files) {
        if (ID3Parser::parse(file).bitrate != 320) {
            state.SkipWithError("benchmark file not read as expected");
            return;
        }
    }
    for (auto _ : state) {
        for (const fs::path& file : library.files)
            benchmark::DoNotOptimize(ID3Parser::parse(file));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(library.files.size()));
}

BENCHMARK(ID3ParserParse)->Unit(benchmark::kMillisecond);

} // namespace
