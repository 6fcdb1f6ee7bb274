// Round trips on tags written by FFmpeg's mp3 muxer through the project's fixture generator.

#include "TagEditor.h"

#include "AudioIo.h"
#include "LocalizedTextFrame.h"
#include "PictureFrame.h"
#include "Signals.h"
#include "SondrelCore/FixtureFolder.h"
#include "TagBytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace sondrel::tags {
namespace {

namespace fs = std::filesystem;
using namespace test;

// A JFIF JPEG as far as the tag is concerned; the muxer does not decode it.
Bytes coverBytes()
{
    Bytes bytes { 0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01 };
    for (int index = 0; index < 3000; ++index)
        bytes.push_back(static_cast<std::uint8_t>(index * 13 + 5));
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    return bytes;
}

std::string textOf(const Id3Tag& tag, FrameKind kind)
{
    const auto found = tag.frames.find(FrameName(kind));
    const auto* text
        = found == tag.frames.end() ? nullptr : dynamic_cast<const TextFrame*>(found->second.get());
    return text ? text->content : "<none>";
}

class TagEditorFfmpegTest : public ::testing::TestWithParam<fixtures::Id3Tags> {
protected:
    void SetUp() override
    {
        if (!fixtures::encoderAvailable(fixtures::Container::Mp3))
            GTEST_SKIP() << "this FFmpeg has no MP3 encoder";
    }

    sondrel::test::FixtureFolder m_folder;
    TagEditor m_editor;
};

TEST_P(TagEditorFfmpegTest, CommentRewriteKeepsEveryFrameAndTheAudio)
{
    const fixtures::Id3Tags& tags = GetParam();
    const fs::path path
        = m_folder / ("stereo-44100-mp3-cbr320-id3v2" + std::to_string(tags.version) + ".mp3");
    const std::string error = fixtures::writeAudioFile(path, fixtures::makeMusicLike(88200, 44100, 2, 11),
        { fixtures::Container::Mp3, fixtures::SampleFormat::S16, 320, tags });
    ASSERT_EQ(error, "");
    const Bytes original = readFile(path);
    ASSERT_EQ(Bytes(original.begin(), original.begin() + 3), ascii("ID3"));
    ASSERT_EQ(original[3], tags.version);

    TagResult<std::optional<Id3Tag>> read = m_editor.read(path);
    ASSERT_TRUE(read.ok() && read->has_value());
    Id3Tag tag = **read;
    EXPECT_EQ(textOf(tag, FrameKind::title), tags.title);
    EXPECT_EQ(textOf(tag, FrameKind::artist), tags.artist);
    EXPECT_EQ(textOf(tag, FrameKind::album), tags.album);
    const auto cover = tag.frames.find(FrameName::attachedPicture(PictureType::frontCover));
    ASSERT_NE(cover, tag.frames.end());
    EXPECT_EQ(dynamic_cast<const PictureFrame&>(*cover->second).picture, tags.attachedPictureBytes);
    // FFmpeg keeps the comment in a user-defined text frame, which the editor does not model.
    const std::vector<PreservedFrame> preserved = tag.preservedFrames;
    const auto userText = std::find_if(preserved.begin(), preserved.end(),
        [](const PreservedFrame& frame) { return frame.identifier == "TXXX"; });
    ASSERT_NE(userText, preserved.end());
    const std::string comment(tags.comment);
    EXPECT_NE(std::search(userText->body.begin(), userText->body.end(), comment.begin(), comment.end()),
        userText->body.end());

    tag.frames[sondrelCommentName()] = std::make_shared<LocalizedTextFrame>(
        FrameLanguage::eng, "Sondrel Quality Check", "Detected bitrate: 128 kbps");
    ASSERT_TRUE(m_editor.write(tag, path).ok());
    const Bytes rewritten = readFile(path);

    // The audio after the tag is untouched.
    const auto oldAudio = original.begin() + static_cast<std::ptrdiff_t>(tagLengthOf(original));
    const auto newAudio = rewritten.begin() + static_cast<std::ptrdiff_t>(tagLengthOf(rewritten));
    EXPECT_EQ(rewritten.end() - newAudio, original.end() - oldAudio);
    EXPECT_TRUE(std::equal(oldAudio, original.end(), newAudio, rewritten.end()));

    TagResult<std::optional<Id3Tag>> back = m_editor.read(path);
    ASSERT_TRUE(back.ok() && back->has_value());
    EXPECT_EQ((*back)->properties.version, tag.properties.version);
    EXPECT_EQ(textOf(**back, FrameKind::title), tags.title);
    EXPECT_EQ(textOf(**back, FrameKind::album), tags.album);
    EXPECT_EQ((*back)->frames.size(), tag.frames.size());
    EXPECT_EQ((*back)->preservedFrames, preserved);
    const auto* written
        = dynamic_cast<const LocalizedTextFrame*>((*back)->frames.at(sondrelCommentName()).get());
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->content, "Detected bitrate: 128 kbps");
}

fixtures::Id3Tags taggedBy(int version, bool pictureBeforeText)
{
    fixtures::Id3Tags tags;
    tags.version = version;
    tags.title = "Sunrise (Extended Mix)";
    tags.artist = "DJ K\xC3\xB6nig"; // König: Latin-1 in 2.3, UTF-8 in 2.4
    tags.album = "Warehouse Sessions";
    tags.comment = "ReplayGain and beat grid live here";
    tags.attachedPictureBytes = coverBytes();
    tags.pictureBeforeText = pictureBeforeText;
    return tags;
}

INSTANTIATE_TEST_SUITE_P(Versions, TagEditorFfmpegTest,
    ::testing::Values(taggedBy(3, false), taggedBy(4, false)),
    [](const auto& version) { return "Id3v2" + std::to_string(version.param.version); });

} // namespace
} // namespace sondrel::tags
