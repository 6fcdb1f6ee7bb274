#include "AudioFile.h"
#include "AnalysisCache.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace sondrel::app {
namespace {

namespace fs = std::filesystem;
using sondrel::test::FixtureFolder;

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(AudioFileTest, TakesFormatSizeAndNameFromTheFile)
{
    FixtureFolder folder;
    writeBytes(folder / "Live Set.AIF", std::vector<std::uint8_t>(1234, 0x55));

    const AudioFile file(folder / "Live Set.AIF");
    EXPECT_EQ(file.url(), folder / "Live Set.AIF");
    EXPECT_EQ(file.name(), "Live Set.AIF");
    EXPECT_EQ(file.format(), core::AudioFormat::aiff);
    EXPECT_EQ(file.fileSize(), 1234);
    EXPECT_EQ(file.status(), ScanStatus::pending());
    EXPECT_FALSE(file.result());
    EXPECT_EQ(AudioFile("/nowhere/notes.txt").format(), core::AudioFormat::mp3);
}

TEST(AudioFileTest, TakesTagsAndClaimedBitrateFromTheTagReader)
{
    // ID3v2.3: frames with plain 32-bit sizes and ISO-8859-1 text, then a 320 kbps MPEG-1 Layer III header.
    std::vector<std::uint8_t> frames;
    for (const auto& [id, text] : { std::pair<std::string, std::string> { "TIT2", "Windowlicker" },
             { "TPE1", "Aphex Twin" }, { "TALB", "Windowlicker EP" } }) {
        frames.insert(frames.end(), id.begin(), id.end());
        frames.insert(frames.end(), { 0, 0, 0, static_cast<std::uint8_t>(text.size() + 1), 0, 0, 0 });
        frames.insert(frames.end(), text.begin(), text.end());
    }
    std::vector<std::uint8_t> bytes
        = { 'I', 'D', '3', 3, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(frames.size()) };
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    bytes.insert(bytes.end(), { 0xFF, 0xFB, 0xE0, 0x00 });
    bytes.resize(bytes.size() + 2000, 0);
    FixtureFolder folder;
    writeBytes(folder / "track.mp3", bytes);

    const AudioFile file(folder / "track.mp3");
    EXPECT_EQ(file.title(), "Windowlicker");
    EXPECT_EQ(file.artist(), "Aphex Twin");
    EXPECT_EQ(file.album(), "Windowlicker EP");
    EXPECT_EQ(file.claimedBitrate(), 320);
}

TEST(AudioFileTest, UnreadableItemsGiveSizeZeroAndNoTags)
{
    FixtureFolder folder;
    fs::create_directory(folder / "Album.mp3");
    for (const fs::path& path : { folder / "missing.mp3", folder / "Album.mp3" }) {
        const AudioFile file(path);
        EXPECT_EQ(file.fileSize(), 0) << path;
        EXPECT_FALSE(file.title() || file.artist() || file.album() || file.claimedBitrate()) << path;
    }
}

TEST(AudioFileTest, ItsStampMakesTheSameCacheKeyAsTheFileOnDisk)
{
    FixtureFolder folder;
    writeBytes(folder / "track.mp3", std::vector<std::uint8_t>(3000, 0x11));
    writeBytes(folder / "track.flac", std::vector<std::uint8_t>(700, 0x22));
    const fs::path link = folder / "link.mp3";
    fs::create_symlink(folder / "track.mp3", link);
    for (const fs::path& path : { folder / "track.mp3", folder / "track.flac", link }) {
        const AudioFile file(path);
        ASSERT_TRUE(file.stamp()) << path;
        EXPECT_EQ(core::AnalysisCache::cacheKey(path, *file.stamp()), core::AnalysisCache::cacheKey(path))
            << path;
    }
    EXPECT_EQ(AudioFile(link).fileSize(), 3000);
    // A folder has a key like any item, but no size to show.
    fs::create_directory(folder / "Album.mp3");
    EXPECT_TRUE(AudioFile(folder / "Album.mp3").stamp());
    EXPECT_FALSE(AudioFile(folder / "missing.mp3").stamp());
}

TEST(AudioFileTest, ANameThatIsNotUtf8KeepsItsBytesInThePath)
{
    const AudioFile file(fs::path("/nowhere/caf\xE9 \xFF.mp3"));
    EXPECT_EQ(file.url().native(), "/nowhere/caf\xE9 \xFF.mp3");
    EXPECT_EQ(file.name(), "caf\xEF\xBF\xBD \xEF\xBF\xBD.mp3");
}

TEST(AudioFileTest, EveryRecordHasItsOwnIdentifierAndCopiesAreIndependentValues)
{
    const AudioFile first("/nowhere/a.mp3");
    EXPECT_FALSE(first.id().isNull());
    EXPECT_NE(AudioFile("/nowhere/a.mp3").id(), first.id());

    AudioFile copy = first;
    EXPECT_EQ(copy, first);
    copy.setStatus(ScanStatus::failed());
    EXPECT_NE(copy, first);
    EXPECT_EQ(first.status(), ScanStatus::pending());
}

} // namespace
} // namespace sondrel::app
