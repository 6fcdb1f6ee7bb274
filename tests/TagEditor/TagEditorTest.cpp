#include "TagEditor.h"

#include "LocalizedTextFrame.h"
#include "SondrelCore/FixtureFolder.h"
#include "TagBytes.h"
#include "TextFrame.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <sys/stat.h>

namespace sondrel::tags {
namespace {

namespace fs = std::filesystem;
using namespace test;
constexpr auto v2 = Id3Version::version2;
constexpr auto v3 = Id3Version::version3;
constexpr auto v4 = Id3Version::version4;

// The 114-byte comment frame of a version 2.3 or 2.4 tag, for 320 kbps.
const Bytes kComment320 = ascii("COMM") + Bytes { 0, 0, 0, 104, 0, 0, 1 } + ascii("eng") + kBom
    + utf16("Sondrel Quality Check") + Bytes { 0, 0 } + kBom + utf16("Detected bitrate: 320 kbps");

bool contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class TagEditorTest : public ::testing::Test {
protected:
    fs::path fileWith(const std::string& name, const Bytes& bytes)
    {
        const fs::path path = m_folder / name;
        writeFile(path, bytes);
        return path;
    }

    // What the metadata editor does: replace the English comment in one read and write.
    TagStatus updateComment(const fs::path& path, int kbps)
    {
        return m_editor.update(
            path, [kbps](Id3Tag& tag) { tag.frames[sondrelCommentName()] = sondrelComment(kbps); });
    }

    Id3Tag readTag(const fs::path& path)
    {
        TagResult<std::optional<Id3Tag>> read = m_editor.read(path);
        EXPECT_TRUE(read.ok() && read->has_value()) << path;
        return read.ok() && read->has_value() ? std::move(**read) : Id3Tag {};
    }

    sondrel::test::FixtureFolder m_folder;
    TagEditor m_editor;
};

TEST_F(TagEditorTest, AcceptsOnlyTheMp3ExtensionInAnyLetterCase)
{
    const Bytes bytes = tag(v3, frame(v3, "TIT2", Bytes { 0, 'x' })) + fakeAudio(100);
    const fs::path wav = fileWith("song.wav", bytes);
    EXPECT_EQ(m_editor.read(wav).error(), TagEditorError::invalidFileFormat);
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[sondrelCommentName()] = sondrelComment(320);
    EXPECT_EQ(m_editor.write(tag, wav).error(), TagEditorError::invalidFileFormat);
    EXPECT_EQ(readFile(wav), bytes);
    EXPECT_EQ(m_editor.read(m_folder / "missing.flac").error(), TagEditorError::invalidFileFormat);

    const fs::path upper = fileWith("Song.MP3", bytes);
    EXPECT_TRUE(m_editor.read(upper).ok());
    EXPECT_TRUE(m_editor.write(tag, upper).ok());
}

TEST_F(TagEditorTest, FileWithoutATagReadsAsCorruptedOrAsNoTag)
{
    Bytes audio = fakeAudio(5000);
    audio[6] = audio[7] = audio[8] = audio[9] = 0x40; // announces far more than 5000 bytes
    EXPECT_EQ(m_editor.read(fileWith("long-claim.mp3", audio)).error(), TagEditorError::corruptedFile);
    audio[6] = audio[7] = audio[8] = 0;
    audio[9] = 0x10;
    const TagResult<std::optional<Id3Tag>> none = m_editor.read(fileWith("short-claim.mp3", audio));
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none->has_value());
    EXPECT_EQ(m_editor.read(fileWith("tiny.mp3", ascii("ID3\3\0"sv))).error(), TagEditorError::corruptedFile);
    EXPECT_EQ(m_editor.read(m_folder / "missing.mp3").error(), TagEditorError::corruptedFile);
    EXPECT_EQ(m_editor.read(m_folder.path()).error(), TagEditorError::invalidFileFormat);
}

TEST_F(TagEditorTest, CommentIntoAnUntaggedFileGoesInFrontOfEveryByte)
{
    const Bytes audio = fakeAudio(3000);
    const fs::path path = fileWith("untagged.mp3", audio);
    ASSERT_TRUE(updateComment(path, 320).ok());

    const Bytes expected
        = ascii("ID3") + Bytes { 3, 0, 0 } + synchsafe(114 + 2048) + kComment320 + Bytes(2048, 0) + audio;
    EXPECT_EQ(readFile(path), expected);
    EXPECT_EQ(folderListing(m_folder.path()), std::vector<std::string> { "untagged.mp3" });

    const Id3Tag back = readTag(path);
    EXPECT_EQ(back.properties, (Id3TagProperties { 114 + 2048, v3 }));
    ASSERT_EQ(back.frames.size(), 1u);
    const auto* comment = dynamic_cast<const LocalizedTextFrame*>(back.frames.begin()->second.get());
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(back.frames.begin()->first, sondrelCommentName());
    EXPECT_EQ(comment->contentDescription, "Sondrel Quality Check");
    EXPECT_EQ(comment->content, "Detected bitrate: 320 kbps");
}

TEST_F(TagEditorTest, RewriteKeepsModelledAndUnmodelledFramesAndIsStable)
{
    const Bytes txxx = frame(v3, "TXXX", Bytes { 0 } + ascii("REPLAYGAIN_TRACK_GAIN\0-7.10 dB"sv));
    const Bytes priv = frame(v3, "PRIV", ascii("Traktor4\0"sv) + Bytes { 0x00, 0xFF, 0x10, 0x80 });
    const Bytes geob = frame(
        v3, "GEOB", Bytes { 0 } + ascii("application/octet-stream\0\0Serato Markers2\0"sv) + Bytes(40, 0xAB));
    const Bytes popm
        = frame(v3, "POPM", ascii("dj@example.org\0"sv) + Bytes { 196, 0, 0, 0, 7 }, { 0x40, 0x00 });
    const Bytes ufid = frame(v3, "UFID", ascii("http://musicbrainz.org\0"sv) + ascii("c0ffee"));
    const Bytes tkey = frame(v3, "TKEY", Bytes { 0 } + ascii("8A"));
    const Bytes bpm = frame(v3, "TBPM", Bytes { 0 } + ascii("127.98"));
    const Bytes exifCover = frame(
        v3, "APIC", Bytes { 0 } + ascii("image/jpeg\0\3\0"sv) + Bytes { 0xFF, 0xD8, 0xFF, 0xE1, 9, 9 });
    const Bytes unknown = frame(v3, "XSOP", Bytes { 0 } + ascii("Artist, The"));
    const Bytes unmodelled = txxx + priv + geob + popm + ufid + tkey + bpm + exifCover + unknown;
    const Bytes original
        = tag(v3,
              frame(v3, "TIT2", Bytes { 0 } + ascii("Title")) + txxx + priv
                  + frame(v3, "TPE1", Bytes { 0 } + ascii("Artist")) + geob + popm + ufid + tkey + bpm
                  + exifCover + unknown + frame(v3, "COMM", Bytes { 0 } + ascii("eng\0Old comment"sv)),
              64)
        + fakeAudio(2000);
    const fs::path path = fileWith("tagged.mp3", original);

    ASSERT_TRUE(updateComment(path, 192).ok());
    const Bytes first = readFile(path);
    // Artist and title in their order, as they were, the new comment, then the rest exactly as it was.
    const Bytes frames
        = frame(v3, "TPE1", Bytes { 0 } + ascii("Artist")) + frame(v3, "TIT2", Bytes { 0 } + ascii("Title"));
    EXPECT_EQ(
        Bytes(first.begin() + 10, first.begin() + 10 + static_cast<std::ptrdiff_t>(frames.size())), frames);
    EXPECT_TRUE(contains(first, unmodelled));
    EXPECT_TRUE(contains(first, frame(v3, "COMM", Bytes { 0 } + ascii("eng\0Old comment"sv))))
        << "a comment of another description stays";
    EXPECT_TRUE(std::equal(first.end() - 2000, first.end(), original.end() - 2000));

    const Id3Tag back = readTag(path);
    EXPECT_EQ(back.frames.size(), 4u);
    EXPECT_EQ(back.preservedFrames.size(), 9u);

    // The same comment again: byte for byte the same file.
    ASSERT_TRUE(updateComment(path, 192).ok());
    EXPECT_EQ(readFile(path), first);
    EXPECT_EQ(folderListing(m_folder.path()), std::vector<std::string> { "tagged.mp3" });
}

// Other taggers pad numbers with zeros and leave first values empty; a frame we do not change
// goes back byte for byte, and only the one we change is written anew.
TEST_F(TagEditorTest, FramesWeDoNotChangeKeepTheirBytes)
{
    const Bytes v3Frames = frame(v3, "TRCK", Bytes { 0 } + ascii("03/12"))
        + frame(v3, "TPOS", Bytes { 0 } + ascii("1/02")) + frame(v3, "TBPM", Bytes { 0 } + ascii("0128"))
        + frame(v3, "TCON", Bytes { 0 } + ascii("(013)")) + frame(v3, "TLEN", Bytes { 0 } + ascii("0245000"))
        + frame(v3, "TYER", Bytes { 0 } + ascii("0999")) + frame(v3, "TPE1", Bytes { 0, 0 } + ascii("Second"))
        + frame(v3, "TDAT", Bytes { 0 } + ascii("0102\0"sv));
    const Bytes title = frame(v3, "TIT2", Bytes { 0 } + ascii("Title"));
    const fs::path v3Path = fileWith("v3.mp3", tag(v3, v3Frames + title, 50) + fakeAudio(700));
    const Bytes v4Frames = frame(v4, "TRCK", Bytes { 0 } + ascii("07"))
        + frame(v4, "TIT2", Bytes { 3 } + ascii("Caf\xC3\xA9"));
    const fs::path v4Path = fileWith("v4.mp3", tag(v4, v4Frames, 50) + fakeAudio(700));

    ASSERT_TRUE(updateComment(v3Path, 128).ok());
    ASSERT_TRUE(updateComment(v4Path, 128).ok());
    const Bytes v3Written = readFile(v3Path);
    for (std::size_t at = 0; at < v3Frames.size();) {
        const std::size_t size = 10 + v3Frames[at + 7];
        const Bytes one(v3Frames.begin() + static_cast<std::ptrdiff_t>(at),
            v3Frames.begin() + static_cast<std::ptrdiff_t>(at + size));
        EXPECT_TRUE(contains(v3Written, one)) << std::string(one.begin(), one.begin() + 4);
        at += size;
    }
    EXPECT_TRUE(contains(v3Written, title));
    EXPECT_TRUE(contains(v3Written, utf16("Detected bitrate: 128 kbps")));
    EXPECT_TRUE(contains(readFile(v4Path), frame(v4, "TRCK", Bytes { 0 } + ascii("07"))));
    EXPECT_TRUE(contains(readFile(v4Path), frame(v4, "TIT2", Bytes { 3 } + ascii("Caf\xC3\xA9"))));

    // A changed title is written anew; the numbers beside it stay as they were.
    ASSERT_TRUE(m_editor
                    .update(v3Path,
                        [](Id3Tag& tag) {
                            tag.frames[FrameName(FrameKind::title)] = std::make_shared<TextFrame>("New");
                        })
                    .ok());
    const Bytes changed = readFile(v3Path);
    EXPECT_FALSE(contains(changed, title));
    EXPECT_TRUE(contains(changed, frame(v3, "TIT2", Bytes { 1 } + kBom + utf16("New") + Bytes { 0, 0 })));
    EXPECT_TRUE(contains(changed, frame(v3, "TRCK", Bytes { 0 } + ascii("03/12"))));
}

TEST_F(TagEditorTest, TagsAreWrittenBackInTheirOwnVersion)
{
    const std::string longTitle(150, 'T'); // a body over 127 bytes: synchsafe and plain sizes differ
    const fs::path version4
        = fileWith("v4.mp3", tag(v4, frame(v4, "TIT2", Bytes { 3 } + ascii(longTitle))) + fakeAudio(500));
    ASSERT_TRUE(updateComment(version4, 256).ok());
    const Bytes written4 = readFile(version4);
    EXPECT_EQ(written4[3], 4);
    EXPECT_EQ(Bytes(written4.begin() + 10, written4.begin() + 20),
        (ascii("TIT2") + synchsafe(1 + 150) + Bytes { 0, 0 }));

    const fs::path version2 = fileWith("v2.mp3",
        tag(v2,
            frame(v2, "TT2", Bytes { 0 } + ascii("Title")) + frame(v2, "TXX", Bytes { 0 } + ascii("k\0v"sv)))
            + fakeAudio(500));
    ASSERT_TRUE(updateComment(version2, 320).ok());
    const Bytes written2 = readFile(version2);
    const Bytes expectedFrames = frame(v2, "TT2", Bytes { 0 } + ascii("Title")) + ascii("COM")
        + Bytes { 0, 0, 104 } + Bytes(kComment320.begin() + 10, kComment320.end())
        + frame(v2, "TXX", Bytes { 0 } + ascii("k\0v"sv));
    EXPECT_EQ(written2, tag(v2, expectedFrames, 2048) + fakeAudio(500));
}

TEST_F(TagEditorTest, TagsOfAnyRevisionAndWithAFooterAreReplacedWhole)
{
    Bytes revised = tag(v3, frame(v3, "TIT2", Bytes { 0, 'x' }));
    revised[4] = 0x01;
    Bytes footed = tag(v4, frame(v4, "TIT2", Bytes { 0, 'y' }), 0, 0x10);
    Bytes footer = Bytes(footed.begin(), footed.begin() + 10);
    footer[0] = '3', footer[1] = 'D', footer[2] = 'I';
    footed = footed + footer;
    for (const auto& [name, oldTag] :
        { std::pair { "revised.mp3", revised }, std::pair { "footed.mp3", footed } }) {
        const fs::path path = fileWith(name, oldTag + fakeAudio(700));
        ASSERT_TRUE(updateComment(path, 320).ok()) << name;
        const Bytes written = readFile(path);
        const Id3Tag back = readTag(path);
        EXPECT_EQ(back.frames.size(), 2u) << name;
        EXPECT_EQ(written.size(), 10 + back.properties.size + 700) << name << ": one tag, then the audio";
        EXPECT_TRUE(std::equal(written.end() - 700, written.end(), fakeAudio(700).begin())) << name;
    }
}

TEST_F(TagEditorTest, TagsTheWalkCannotReadFaithfullyAreLeftUntouched)
{
    // Declared size past the end of the file.
    const Bytes truncated
        = ascii("ID3\3\0\0"sv) + synchsafe(5000) + frame(v3, "TIT2", Bytes { 0, 'x' }) + fakeAudio(300);
    // Unsynchronised, and with an extended header (whose CRC flag makes the walk stop at once).
    const Bytes unsynchronised
        = tag(v3, frame(v3, "TIT2", Bytes { 0, 0xFF, 0x00, 0xE0 }), 0, 0x80) + fakeAudio(300);
    const Bytes extended
        = tag(v3,
              Bytes { 0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0, 1, 2, 3, 4 } + frame(v3, "TXXX", Bytes { 0, 'a', 0 }),
              0, 0x40)
        + fakeAudio(300);
    // Bytes that are neither frames nor zeros in the padding, which a rewrite would drop.
    const Bytes junk
        = tag(v3, frame(v3, "TIT2", Bytes { 0, 'x' }) + Bytes(20, 0) + ascii("JUNKJUNK") + Bytes(20, 0))
        + fakeAudio(300);
    // A declared size that runs 5000 bytes into the audio after the padding.
    const Bytes titleFrame = frame(v3, "TIT2", Bytes { 0, 'x' });
    const Bytes intoAudio = ascii("ID3\3\0\0"sv)
        + synchsafe(static_cast<std::uint32_t>(titleFrame.size() + 100 + 5000)) + titleFrame + Bytes(100, 0)
        + fakeAudio(8000);
    for (const auto& [name, bytes] : { std::pair { "truncated.mp3", truncated },
             std::pair { "unsync.mp3", unsynchronised }, std::pair { "extended.mp3", extended },
             std::pair { "junk.mp3", junk }, std::pair { "into-audio.mp3", intoAudio } }) {
        const fs::path path = fileWith(name, bytes);
        EXPECT_EQ(updateComment(path, 320).error(), TagEditorError::corruptedFile) << name;
        EXPECT_EQ(readFile(path), bytes) << name;
    }
    EXPECT_EQ(m_editor.read(m_folder / "truncated.mp3").error(), TagEditorError::corruptedFile);
    EXPECT_EQ(m_editor.read(m_folder / "unsync.mp3").error(), TagEditorError::corruptedFile);
    EXPECT_EQ(folderListing(m_folder.path()),
        (std::vector<std::string> {
            "extended.mp3", "into-audio.mp3", "junk.mp3", "truncated.mp3", "unsync.mp3" }));
}

TEST_F(TagEditorTest, WritesIntoADestinationFolderItCreates)
{
    const Bytes original = tag(v3, frame(v3, "TIT2", Bytes { 0, 'x' }), 30) + fakeAudio(400);
    const fs::path source = fileWith("source.mp3", original);
    ::chmod(source.c_str(), 0604);
    const fs::path destination = m_folder / "new" / "folder" / "copy.mp3";
    Id3Tag tag = readTag(source);
    tag.frames[sondrelCommentName()] = sondrelComment(320);
    ASSERT_TRUE(m_editor.write(tag, source, destination).ok());
    EXPECT_EQ(tag.properties.size, 12u + 114u + 2048u); // the title frame as it was
    EXPECT_EQ(readFile(source), original);
    const Bytes copy = readFile(destination);
    EXPECT_EQ(copy.size(), 10 + tag.properties.size + 400);
    EXPECT_TRUE(std::equal(copy.end() - 400, copy.end(), original.end() - 400));
    EXPECT_EQ(fs::status(destination).permissions(), static_cast<fs::perms>(0604));
}

TEST_F(TagEditorTest, KeepsPermissionBitsAndWritesThroughSymbolicLinks)
{
    const fs::path target = fileWith("target.mp3", fakeAudio(600));
    ::chmod(target.c_str(), 0640);
    const fs::path link = m_folder / "link.mp3";
    fs::create_symlink(target, link);
    ASSERT_TRUE(updateComment(link, 128).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::file_size(target), 10 + 114 + 2048 + 600);
    EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0640));
}

TEST_F(TagEditorTest, InMemoryOperationsMatchTheFileOperations)
{
    const Bytes original = tag(v4,
                               frame(v4, "APIC", Bytes { 0 } + ascii("image/jpeg\0\4\0"sv) + kJfif)
                                   + frame(v4, "TXXX", Bytes { 3, 'k', 0, 'v' }))
        + fakeAudio(900);
    TagResult<std::optional<Id3Tag>> read = m_editor.read(original);
    ASSERT_TRUE(read.ok() && read->has_value());
    Id3Tag tag = **read;
    tag.frames[sondrelCommentName()] = sondrelComment(320);
    const TagResult<Bytes> inMemory = m_editor.write(tag, original);
    ASSERT_TRUE(inMemory.ok());

    const fs::path path = fileWith("same.mp3", original);
    ASSERT_TRUE(updateComment(path, 320).ok());
    EXPECT_EQ(readFile(path), *inMemory);
}

} // namespace
} // namespace sondrel::tags
