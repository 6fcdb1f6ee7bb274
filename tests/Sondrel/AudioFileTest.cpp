#include "AudioFile.h"
#include "AnalysisCache.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
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

// ID3v2.3: frames with plain 32-bit sizes and ISO-8859-1 text, then a 320 kbps MPEG-1 Layer III header.
std::vector<std::uint8_t> taggedMp3(
    const std::string& title, const std::string& artist, const std::string& album)
{
    std::vector<std::uint8_t> frames;
    for (const auto& [id, text] :
        { std::pair<std::string, std::string> { "TIT2", title }, { "TPE1", artist }, { "TALB", album } }) {
        frames.insert(frames.end(), id.begin(), id.end());
        frames.insert(frames.end(), { 0, 0, 0, static_cast<std::uint8_t>(text.size() + 1), 0, 0, 0 });
        frames.insert(frames.end(), text.begin(), text.end());
    }
    std::vector<std::uint8_t> bytes
        = { 'I', 'D', '3', 3, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(frames.size()) };
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    bytes.insert(bytes.end(), { 0xFF, 0xFB, 0xE0, 0x00 });
    bytes.resize(bytes.size() + 2000, 0);
    return bytes;
}

void setModificationTime(const fs::path& path, std::int64_t seconds, std::int64_t nanoseconds)
{
    const timespec times[2]
        = { { 0, UTIME_OMIT }, { static_cast<time_t>(seconds), static_cast<long>(nanoseconds) } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

const core::AnalysisResult kCached { 20500.0f, 320, core::QualityRating::high, 0.8f,
    core::ClippingInfo { 0, 0, 0.9f } };

// A folder, a cache in it and a tagged MP3 whose stamp is known.
class AudioFileTest : public testing::Test {
protected:
    AudioFileTest() { writeBytes(m_track, taggedMp3("Windowlicker", "Aphex Twin", "Windowlicker EP")); }

    FixtureFolder m_folder;
    core::AnalysisCache m_cache { m_folder / "cache" / "analysis_cache.json" };
    const fs::path m_track = m_folder / "track.mp3";
};

TEST_F(AudioFileTest, TakesFormatSizeNameAndTagsFromTheFile)
{
    writeBytes(m_folder / "Live Set.AIF", std::vector<std::uint8_t>(1234, 0x55));

    const AudioFile file(m_folder / "Live Set.AIF");
    EXPECT_EQ(file.url(), m_folder / "Live Set.AIF");
    EXPECT_EQ(file.name(), "Live Set.AIF");
    EXPECT_EQ(file.format(), core::AudioFormat::aiff);
    EXPECT_EQ(file.fileSize(), 1234);
    EXPECT_EQ(file.status(), ScanStatus::pending());
    EXPECT_FALSE(file.result());
    EXPECT_EQ(AudioFile("/nowhere/notes.txt").format(), core::AudioFormat::mp3);

    // Tags and the claimed bitrate come from the tag reader.
    const AudioFile tagged(m_track);
    EXPECT_EQ(tagged.title(), "Windowlicker");
    EXPECT_EQ(tagged.artist(), "Aphex Twin");
    EXPECT_EQ(tagged.album(), "Windowlicker EP");
    EXPECT_EQ(tagged.claimedBitrate(), 320);
}

TEST_F(AudioFileTest, ItsStampKeysItAsTheCacheDoesAndUnreadableItemsHaveNoSizeOrTags)
{
    writeBytes(m_folder / "track.flac", std::vector<std::uint8_t>(700, 0x22));
    const fs::path link = m_folder / "link.mp3";
    fs::create_symlink(m_track, link);
    for (const fs::path& path : { m_track, m_folder / "track.flac", link }) {
        const AudioFile file(path);
        ASSERT_TRUE(file.stamp()) << path;
        EXPECT_EQ(core::AnalysisCache::cacheKey(path, *file.stamp()), core::AnalysisCache::cacheKey(path))
            << path;
    }
    EXPECT_EQ(AudioFile(link).fileSize(), static_cast<std::int64_t>(fs::file_size(m_track)));
    // A folder has a key like any item, but no size to show; neither it nor a missing file has tags.
    fs::create_directory(m_folder / "Album.mp3");
    EXPECT_TRUE(AudioFile(m_folder / "Album.mp3").stamp());
    EXPECT_FALSE(AudioFile(m_folder / "missing.mp3").stamp());
    for (const fs::path& path : { m_folder / "missing.mp3", m_folder / "Album.mp3" }) {
        const AudioFile file(path);
        EXPECT_EQ(file.fileSize(), 0) << path;
        EXPECT_FALSE(file.title() || file.artist() || file.album() || file.claimedBitrate()) << path;
    }
}

TEST_F(AudioFileTest, ANameThatIsNotUtf8KeepsItsBytesInThePath)
{
    const AudioFile file(fs::path("/nowhere/caf\xE9 \xFF.mp3"));
    EXPECT_EQ(file.url().native(), "/nowhere/caf\xE9 \xFF.mp3");
    EXPECT_EQ(file.name(), "caf\xEF\xBF\xBD \xEF\xBF\xBD.mp3");
}

TEST_F(AudioFileTest, EveryRecordHasItsOwnIdentifierAndCopiesAreIndependentValues)
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

core::ChangeTime changeTimeOf(const fs::path& path)
{
    struct stat info { };
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return { info.st_ctim.tv_sec, info.st_ctim.tv_nsec };
}

TEST_F(AudioFileTest, DiscoveryTakesTagsFromAMatchingEntryAndReadsAFileChangedSinceAgain)
{
    const core::FileStamp stamp = *core::AnalysisCache::stampOf(m_track);
    // Tags unlike the file's own show where the record's came from.
    const auto cached = std::make_shared<const core::ID3Parser::Metadata>(
        core::ID3Parser::Metadata { "From the cache", std::nullopt, "Cached album", 128 });
    m_cache.set(m_track, kCached);
    m_cache.addTags(*core::AnalysisCache::cacheKey(m_track), cached, changeTimeOf(m_track));

    const AudioFile::Discovered unchanged = AudioFile::discover(m_track, m_cache);
    EXPECT_EQ(unchanged.file.title(), "From the cache");
    EXPECT_FALSE(unchanged.file.artist());
    EXPECT_EQ(unchanged.file.claimedBitrate(), 128);
    EXPECT_EQ(unchanged.file.stamp(), stamp);
    EXPECT_EQ(unchanged.file.fileSize(), stamp.size);
    EXPECT_EQ(unchanged.file.format(), core::AudioFormat::mp3);
    ASSERT_TRUE(unchanged.entry);
    EXPECT_EQ(unchanged.entry->toAnalysisResult(), kCached);

    // Same size, another modification time (the key keeps about a microsecond); then the old
    // time, another size.
    setModificationTime(m_track, stamp.seconds, (stamp.nanoseconds + 1'000'000) % 1'000'000'000);
    const AudioFile::Discovered touched = AudioFile::discover(m_track, m_cache);
    std::vector<std::uint8_t> longer = taggedMp3("Windowlicker", "Aphex Twin", "Windowlicker EP");
    longer.push_back(0);
    writeBytes(m_track, longer);
    setModificationTime(m_track, stamp.seconds, stamp.nanoseconds);
    const AudioFile::Discovered resized = AudioFile::discover(m_track, m_cache);
    for (const AudioFile::Discovered* changed : { &touched, &resized }) {
        EXPECT_EQ(changed->file.title(), "Windowlicker");
        EXPECT_EQ(changed->file.artist(), "Aphex Twin");
        EXPECT_EQ(changed->file.claimedBitrate(), 320);
        EXPECT_FALSE(changed->entry);
    }
    EXPECT_EQ(resized.file.fileSize(), stamp.size + 1);
}

// Tag editors offer to keep a file's modification time; an edit that also keeps its size leaves
// the cache key as it was, but not the file's change time.
TEST_F(AudioFileTest, ATagEditThatKeepsTheSizeAndTheModificationTimeIsReadAgain)
{
    const core::FileStamp stamp = *core::AnalysisCache::stampOf(m_track);
    m_cache.set(m_track, kCached);
    EXPECT_EQ(AudioFile::discover(m_track, m_cache).file.title(), "Windowlicker");
    ASSERT_TRUE(m_cache.entry(m_track)->tagsChanged);

    // The change time moves at the kernel's clock tick, a few milliseconds at most.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeBytes(m_track, taggedMp3("Windowlicked", "Aphex Twin", "Windowlicker EP"));
    setModificationTime(m_track, stamp.seconds, stamp.nanoseconds);
    ASSERT_EQ(core::AnalysisCache::stampOf(m_track), stamp);
    const AudioFile::Discovered edited = AudioFile::discover(m_track, m_cache);
    EXPECT_EQ(edited.file.title(), "Windowlicked");
    ASSERT_TRUE(edited.entry);
    EXPECT_EQ(edited.entry->toAnalysisResult(), kCached);
    EXPECT_EQ(m_cache.entry(m_track)->tags->title, "Windowlicked");
    EXPECT_EQ(m_cache.entry(m_track)->tagsChanged, changeTimeOf(m_track));
    // And the next listing takes the new tags from the cache.
    EXPECT_EQ(AudioFile::discover(m_track, m_cache).file.tags(), m_cache.entry(m_track)->tags);
}

TEST_F(AudioFileTest, DiscoveryReadsAFileWhoseEntryHasNoTagsAndGivesTheEntryThem)
{
    const fs::path unknown = m_folder / "unknown.mp3";
    writeBytes(unknown, taggedMp3("Flim", "Aphex Twin", "Come to Daddy"));
    // As an older version stored it.
    m_cache.set(m_track, kCached);
    m_cache.flush();

    const AudioFile::Discovered found = AudioFile::discover(m_track, m_cache);
    EXPECT_EQ(found.file.title(), "Windowlicker");
    EXPECT_EQ(found.file.album(), "Windowlicker EP");
    ASSERT_TRUE(found.entry);
    EXPECT_EQ(found.entry->toAnalysisResult(), kCached);
    EXPECT_TRUE(m_cache.isDirty());
    const auto entry = m_cache.entry(m_track);
    ASSERT_TRUE(entry && entry->tags);
    EXPECT_EQ(entry->tags->title, "Windowlicker");
    EXPECT_EQ(entry->tags->bitrate, 320);
    EXPECT_EQ(entry->toAnalysisResult(), kCached);

    // Without an entry: read, and the cache gains nothing.
    const AudioFile::Discovered fresh = AudioFile::discover(unknown, m_cache);
    EXPECT_EQ(fresh.file.title(), "Flim");
    EXPECT_FALSE(fresh.entry);
    EXPECT_EQ(m_cache.count(), 1u);
}

} // namespace
} // namespace sondrel::app
