#include "Id3TagBuilder.h"

#include "DateTimeFrame.h"
#include "GenreFrame.h"
#include "IntegerFrame.h"
#include "LocalizedTextFrame.h"
#include "PartOfTotalFrame.h"
#include "PictureFrame.h"
#include "TagBytes.h"
#include "YearFrame.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace sondrel::tags {
namespace {

using namespace test;

Id3Tag tagOf(Id3Version version)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.properties.version = version;
    return tag;
}

Bytes build(const Id3Tag& tag)
{
    TagResult<Bytes> bytes = Id3TagBuilder::build(tag);
    EXPECT_TRUE(bytes.ok()) << bytes.error().description();
    return bytes.ok() ? std::move(bytes).value() : Bytes();
}

// The frames of a built tag (no padding), as identifier and body.
std::vector<std::pair<std::string, Bytes>> framesOf(const Bytes& tagBytes, Id3Version version)
{
    const std::size_t header = version == Id3Version::version2 ? 6 : 10;
    const std::size_t idSize = version == Id3Version::version2 ? 3 : 4;
    std::vector<std::pair<std::string, Bytes>> frames;
    std::size_t position = 10;
    while (position + header <= tagBytes.size() && tagBytes[position] != 0) {
        std::size_t size = 0;
        for (std::size_t index = idSize; index < idSize + (header == 6 ? 3 : 4); ++index)
            size = size << (version == Id3Version::version4 ? 7 : 8) | tagBytes[position + index];
        const auto begin = tagBytes.begin() + static_cast<std::ptrdiff_t>(position);
        frames.emplace_back(std::string(begin, begin + static_cast<std::ptrdiff_t>(idSize)),
            Bytes(begin + static_cast<std::ptrdiff_t>(header),
                begin + static_cast<std::ptrdiff_t>(header + size)));
        position += header + size;
    }
    return frames;
}

const Bytes kWorkedCommentBody = Bytes { 0x01 } + ascii("eng") + kBom + utf16("Sondrel Quality Check")
    + Bytes { 0, 0 } + kBom + utf16("Detected bitrate: 320 kbps");

TEST(Id3TagBuilderTest, CommentFrameMatchesTheWorkedExampleInEveryVersion)
{
    ASSERT_EQ(kWorkedCommentBody.size(), 104u);
    const Bytes version3Frame
        = ascii("COMM") + Bytes { 0x00, 0x00, 0x00, 0x68, 0x00, 0x00 } + kWorkedCommentBody;
    ASSERT_EQ(version3Frame.size(), 114u);

    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[sondrelCommentName()] = sondrelComment(320);
    const Bytes version3 = build(tag);
    const Bytes expected
        = ascii("ID3") + Bytes { 3, 0, 0 } + synchsafe(114 + 2048) + version3Frame + Bytes(2048, 0);
    EXPECT_EQ(version3, expected);
    // 114 + 2048 = 2162 needs two synchsafe bytes: 0x10 0x72.
    EXPECT_EQ(Bytes(version3.begin() + 6, version3.begin() + 10), (Bytes { 0x00, 0x00, 0x10, 0x72 }));

    tag.properties.version = Id3Version::version4;
    const Bytes version4 = build(tag);
    EXPECT_EQ(Bytes(version4.begin() + 10, version4.begin() + 124), version3Frame);
    EXPECT_EQ(version4[3], 4);

    tag.properties.version = Id3Version::version2;
    const Bytes version2 = build(tag);
    const Bytes version2Frame = ascii("COM") + Bytes { 0x00, 0x00, 0x68 } + kWorkedCommentBody;
    EXPECT_EQ(version2,
        (ascii("ID3") + Bytes { 2, 0, 0 } + synchsafe(110 + 2048) + version2Frame + Bytes(2048, 0)));
}

TEST(Id3TagBuilderTest, WritesFramesInTheFixedOrderWithPreservedFramesLast)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    const auto text = [](std::string content) { return std::make_shared<TextFrame>(std::move(content)); };
    // Inserted out of order: the written order must not depend on the map's.
    tag.frames[FrameName(FrameKind::grouping)] = text("Peak time");
    tag.frames[FrameName::unsynchronizedLyrics(FrameLanguage::eng)]
        = std::make_shared<LocalizedTextFrame>(FrameLanguage::eng, "", "la la");
    tag.frames[FrameName::comment(FrameLanguage::fra)]
        = std::make_shared<LocalizedTextFrame>(FrameLanguage::fra, "", "oui");
    tag.frames[sondrelCommentName()] = sondrelComment(128);
    tag.frames[FrameName(FrameKind::recordingYear)] = std::make_shared<YearFrame>(1999);
    tag.frames[FrameName(FrameKind::beatsPerMinute)] = std::make_shared<IntegerFrame>(124);
    tag.frames[FrameName(FrameKind::discPosition)] = std::make_shared<PartOfTotalFrame>(1, 2);
    tag.frames[FrameName(FrameKind::composer)] = text("Composer");
    tag.frames[FrameName::attachedPicture(PictureType::backCover)]
        = std::make_shared<PictureFrame>(kPng, PictureType::backCover, PictureFormat::png);
    tag.frames[FrameName::attachedPicture(PictureType::frontCover)]
        = std::make_shared<PictureFrame>(kJfif, PictureType::frontCover, PictureFormat::jpeg);
    tag.frames[FrameName(FrameKind::trackPosition)] = std::make_shared<PartOfTotalFrame>(3, std::nullopt);
    tag.frames[FrameName(FrameKind::genre)] = std::make_shared<GenreFrame>(std::nullopt, "House");
    tag.frames[FrameName(FrameKind::title)] = text("Title");
    tag.frames[FrameName(FrameKind::artist)] = text("Artist");
    tag.frames[FrameName(FrameKind::albumArtist)] = text("Album Artist");
    tag.frames[FrameName(FrameKind::album)] = text("Album");
    tag.preservedFrames.push_back(
        { Id3Version::version3, "TXXX", {}, Bytes { 0 } + ascii("REPLAYGAIN\0-6.5 dB"sv) });
    tag.preservedFrames.push_back({ Id3Version::version3, "PRIV", { 0x40, 0x00 }, ascii("owner\0data"sv) });

    const auto frames = framesOf(build(tag), Id3Version::version3);
    std::vector<std::string> identifiers;
    for (const auto& [identifier, body] : frames)
        identifiers.push_back(identifier);
    EXPECT_EQ(identifiers,
        (std::vector<std::string> { "TALB", "TPE2", "TPE1", "TIT2", "TCON", "TRCK", "APIC", "APIC", "TCOM",
            "TBPM", "TPOS", "COMM", "COMM", "USLT", "TYER", "GRP1", "TXXX", "PRIV" }));
    EXPECT_EQ(frames[6].second[12], 3) << "front cover (3) before back cover (4)";
    EXPECT_EQ(Bytes(frames[11].second.begin() + 1, frames[11].second.begin() + 4), ascii("eng"))
        << "eng before fra";
}

TEST(Id3TagBuilderTest, PreservedFramesAreCopiedWithTheirFlagsOnlyIntoTheirOwnVersion)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[FrameName(FrameKind::title)] = std::make_shared<TextFrame>("New title");
    const Bytes privBody = ascii("com.example\0"sv) + Bytes { 0x00, 0xFF, 0x80 };
    tag.preservedFrames.push_back({ Id3Version::version3, "PRIV", { 0x40, 0x80 }, privBody });
    // An undecodable title carried over would duplicate the modelled one.
    tag.preservedFrames.push_back({ Id3Version::version3, "TIT2", {}, Bytes { 1, 0x41 } });
    tag.preservedFrames.push_back({ Id3Version::version4, "TXXX", {}, Bytes { 3, 'a', 0, 'b' } });

    const Bytes bytes = build(tag);
    const Bytes expectedPriv = frame(Id3Version::version3, "PRIV", privBody, { 0x40, 0x80 });
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), expectedPriv.begin(), expectedPriv.end()), bytes.end());
    const auto frames = framesOf(bytes, Id3Version::version3);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].first, "TIT2");
    EXPECT_EQ(frames[1].first, "PRIV");

    tag.properties.version = Id3Version::version4;
    const auto version4Frames = framesOf(build(tag), Id3Version::version4);
    ASSERT_EQ(version4Frames.size(), 2u);
    EXPECT_EQ(version4Frames[1].first, "TXXX");
}

TEST(Id3TagBuilderTest, TextBodiesAreUtf16WithByteOrderMarkAndTerminator)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[FrameName(FrameKind::title)]
        = std::make_shared<TextFrame>("D\xC3\xA9j\xC3\xA0 \xF0\x9F\x8E\xB5"); // Déjà 🎵
    tag.frames[FrameName(FrameKind::artist)] = std::make_shared<TextFrame>("bad \xFF byte");
    const auto frames = framesOf(build(tag), Id3Version::version3);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].second,
        (Bytes { 0x01, 0xFF, 0xFE, 'D', 0, 0xE9, 0, 'j', 0, 0xE0, 0, ' ', 0, 0x3C, 0xD8, 0xB5, 0xDF, 0, 0 }));
    EXPECT_EQ(frames[0].second,
        (Bytes { 0x01 } + kBom + utf16("bad ") + Bytes { 0xFD, 0xFF } + utf16(" byte") + Bytes { 0, 0 }));
}

TEST(Id3TagBuilderTest, TextIsNeverWrittenBehindAnEncodingByteThatCannotHoldIt)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[FrameName(FrameKind::genre)]
        = std::make_shared<GenreFrame>(std::nullopt, std::string("\xC3\x89lectro")); // Électro
    tag.frames[FrameName::attachedPicture(PictureType::frontCover, "\xE2\x98\x83")] // ☃
        = std::make_shared<PictureFrame>(kJfif, PictureType::frontCover, PictureFormat::jpeg, "\xE2\x98\x83");
    tag.frames[FrameName::attachedPicture(PictureType::backCover, "\xC3\xA9")] // é
        = std::make_shared<PictureFrame>(kPng, PictureType::backCover, PictureFormat::png, "\xC3\xA9");
    const auto frames = framesOf(build(tag), Id3Version::version3);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(
        frames[0].second, (Bytes { 0x01 } + kBom + Bytes { 0xC9, 0 } + utf16("lectro") + Bytes { 0, 0 }));
    EXPECT_EQ(frames[1].second,
        (Bytes { 1 } + ascii("image/jpeg") + Bytes { 0, 3 } + kBom + Bytes { 0x03, 0x26, 0, 0 } + kJfif))
        << "a description ISO-8859-1 cannot hold goes as UTF-16";
    EXPECT_EQ(frames[2].second, (Bytes { 0 } + ascii("image/png") + Bytes { 0, 4, 0xE9, 0 } + kPng));
}

TEST(Id3TagBuilderTest, ValueFramesNeedTheirWholeValue)
{
    // Texts of complete values are checked by the parser's round trip; these are the other cases.
    Id3Tag tag = tagOf(Id3Version::version4);
    tag.frames[FrameName(FrameKind::beatsPerMinute)] = std::make_shared<IntegerFrame>(std::nullopt);
    tag.frames[FrameName(FrameKind::recordingYear)] = std::make_shared<YearFrame>(2024); // no TYER in 2.4
    auto moment = std::make_shared<DateTimeFrame>();
    moment->year = 2024, moment->month = 2, moment->day = 29, moment->hour = 23;
    tag.frames[FrameName(FrameKind::recordingDateTime)] = moment;
    tag.frames[FrameName(FrameKind::title)] = std::make_shared<TextFrame>("t");
    EXPECT_EQ(framesOf(build(tag), Id3Version::version4).size(), 1u);

    moment->minute = 59; // 2024-02-29T23:59:00Z
    EXPECT_EQ(framesOf(build(tag), Id3Version::version4)[1],
        (std::pair { std::string("TDRC"), Bytes { 0 } + ascii("1709251140") + Bytes { 0 } }));
    moment->month = 14; // 2025-02-29, which carries over to 2025-03-01: 366 days later
    EXPECT_EQ(framesOf(build(tag), Id3Version::version4)[1].second,
        Bytes { 0 } + ascii(std::to_string(1709251140 + 366 * 86400)) + Bytes { 0 });
}

TEST(Id3TagBuilderTest, PicturesAndUnknownLanguagesKeepTheirFixedLayout)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[FrameName::attachedPicture(PictureType::frontCover)]
        = std::make_shared<PictureFrame>(kJfif, PictureType::frontCover, PictureFormat::jpeg);
    tag.frames[FrameName::comment(FrameLanguage::unknown)]
        = std::make_shared<LocalizedTextFrame>(FrameLanguage::unknown, "", "x");
    const auto frames = framesOf(build(tag), Id3Version::version3);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].second, (Bytes { 0 } + ascii("image/jpeg") + Bytes { 0, 3, 0 } + kJfif));
    EXPECT_EQ(
        Bytes(frames[1].second.begin(), frames[1].second.begin() + 6), Bytes { 0x01 } + ascii("XXX") + kBom);

    tag.properties.version = Id3Version::version2;
    tag.frames[FrameName::attachedPicture(PictureType::frontCover)]
        = std::make_shared<PictureFrame>(kPng, PictureType::artist, PictureFormat::png);
    EXPECT_EQ(framesOf(build(tag), Id3Version::version2)[0],
        (std::pair { std::string("PIC"), Bytes { 0 } + ascii("PNG") + Bytes { 8, 0 } + kPng }));
}

TEST(Id3TagBuilderTest, FailsWithInvalidTagDataWhenNothingCanBeWritten)
{
    Id3Tag tag = Id3Tag::emptyVersion3();
    EXPECT_EQ(Id3TagBuilder::build(tag).error(), TagEditorError::invalidTagData);

    tag.frames[FrameName(FrameKind::title)] = nullptr;
    tag.frames[FrameName(FrameKind::artist)] = std::make_shared<IntegerFrame>(5); // wrong class for the kind
    tag.frames[FrameName(FrameKind::recordingDateTime)] = std::make_shared<DateTimeFrame>(); // no TDRC in 2.3
    tag.preservedFrames.push_back({ Id3Version::version4, "TXXX", {}, Bytes { 0, 'a', 0 } });
    EXPECT_EQ(Id3TagBuilder::build(tag).error(), TagEditorError::invalidTagData);

    tag.properties.version = Id3Version::version4;
    tag.frames[FrameName(FrameKind::sizeInBytes)] = std::make_shared<IntegerFrame>(1000); // no TSIZ in 2.4
    const auto frames = framesOf(build(tag), Id3Version::version4);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].first, "TXXX");
}

TEST(Id3TagBuilderTest, RefusesTagsThatReachTwoHundredFiftySixMegabytes)
{
    // Header 10, APIC header 10, body 14 + picture, padding 2048: 2082 bytes around the picture.
    constexpr std::size_t kLimit = std::size_t { 1 } << 28;
    auto picture = std::make_shared<PictureFrame>(Bytes(), PictureType::other, PictureFormat::jpeg);
    picture->picture.reserve(kLimit - 2082);
    picture->picture.resize(kLimit - 2082 - 1);
    Id3Tag tag = Id3Tag::emptyVersion3();
    tag.frames[FrameName::attachedPicture(PictureType::other)] = picture;
    EXPECT_EQ(Id3TagBuilder::build(tag)->size(), kLimit - 1);
    picture->picture.push_back(0);
    EXPECT_EQ(Id3TagBuilder::build(tag).error(), TagEditorError::tagTooBig);
    tag.frames.clear();
    picture.reset();

    // A version 2.2 frame states its size in three bytes; a PIC body is the picture and 6 bytes.
    Id3Tag version2 = tagOf(Id3Version::version2);
    auto small = std::make_shared<PictureFrame>(Bytes((1 << 24) - 7), PictureType::other, PictureFormat::png);
    version2.frames[FrameName::attachedPicture(PictureType::other)] = small;
    EXPECT_EQ(Id3TagBuilder::build(version2)->size(), 10 + 6 + (1u << 24) - 1 + 2048);
    small->picture.push_back(0);
    EXPECT_EQ(Id3TagBuilder::build(version2).error(), TagEditorError::tagTooBig);
}

} // namespace
} // namespace sondrel::tags
