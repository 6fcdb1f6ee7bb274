#include "Id3TagParser.h"

#include "Id3TagBuilder.h"

#include "DateTimeFrame.h"
#include "LocalizedTextFrame.h"
#include "PictureFrame.h"
#include "TagBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace sondrel::tags {
namespace {

using namespace test;
constexpr auto v2 = Id3Version::version2;
constexpr auto v3 = Id3Version::version3;
constexpr auto v4 = Id3Version::version4;

const Bytes kExif { 0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0x00, 0xFF, 0xD9 };

Id3Tag parsed(const Bytes& bytes)
{
    TagResult<std::optional<Id3Tag>> tag = Id3TagParser::parse(bytes);
    EXPECT_TRUE(tag.ok() && tag->has_value());
    return tag.ok() && tag->has_value() ? std::move(**tag) : Id3Tag {};
}

template <typename Frame> const Frame* frameAt(const Id3Tag& tag, FrameName name)
{
    const auto found = tag.frames.find(name);
    return found == tag.frames.end() ? nullptr : dynamic_cast<const Frame*>(found->second.get());
}

std::string textAt(const Id3Tag& tag, FrameKind kind)
{
    const auto* text = frameAt<TextFrame>(tag, FrameName(kind));
    return text ? text->content : "<none>";
}

std::vector<std::string> preservedIdentifiers(const Id3Tag& tag)
{
    std::vector<std::string> identifiers;
    for (const PreservedFrame& frame : tag.preservedFrames)
        identifiers.push_back(frame.identifier);
    return identifiers;
}

TEST(Id3TagParserTest, ReadsTextFramesOfEveryVersionAndEncoding)
{
    const Id3Tag version2 = parsed(tag(v2, frame(v2, "TT2", Bytes { 0 } + ascii("Caf\xE9\0"sv)), 20));
    EXPECT_EQ(version2.properties, (Id3TagProperties { 32, v2 }));
    EXPECT_EQ(textAt(version2, FrameKind::title), "Caf\xC3\xA9");
    const auto* title = frameAt<TextFrame>(version2, FrameName(FrameKind::title));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->id3Identifier, "TT2");
    EXPECT_EQ(title->size, 6u + 6u);

    const Id3Tag version3 = parsed(tag(v3,
        frame(v3, "TPE1", Bytes { 1 } + kBom + utf16("DJ") + Bytes { 0, 0 })
            + frame(v3, "TIT2", Bytes { 3, 0xC3, 0xA9 }),
        10));
    EXPECT_EQ(textAt(version3, FrameKind::artist), "DJ");
    EXPECT_EQ(textAt(version3, FrameKind::title), "\xC3\x83\xC2\xA9") << "0x03 is not UTF-8 before 2.4";

    const Id3Tag version4 = parsed(tag(v4,
        frame(v4, "TIT2", Bytes { 3, 0, 0xC3, 0xA9, 0 })
            + frame(v4, "TALB", Bytes { 1, 0xFE, 0xFF, 0, 'B' })));
    EXPECT_EQ(textAt(version4, FrameKind::title), "\xC3\xA9");
    EXPECT_EQ(textAt(version4, FrameKind::album), "B");
}

TEST(Id3TagParserTest, TextThatDoesNotDecodeIsPreservedNotModelled)
{
    const Id3Tag result = parsed(tag(v4,
        frame(v4, "TIT2", Bytes { 3, 0xC3 }) // truncated UTF-8
            + frame(v4, "TPE1", Bytes { 1, 'A', 0 }) // UTF-16 without BOM
            + frame(v4, "TALB", Bytes { 1, 0xFF, 0xFE, 0x00, 0xDC }) // lone surrogate
            + frame(v4, "TCOM", Bytes { 0 }))); // nothing after encoding
    EXPECT_TRUE(result.frames.empty());
    EXPECT_EQ(preservedIdentifiers(result), (std::vector<std::string> { "TIT2", "TPE1", "TALB", "TCOM" }));
}

TEST(Id3TagParserTest, CommentsSplitDescriptionAndContentAtTheLastSeparator)
{
    const Bytes utf16Comment
        = Bytes { 1 } + ascii("eng") + kBom + utf16("Desc") + Bytes { 0, 0 } + kBom + utf16("Text");
    const Bytes latinComment = Bytes { 0 } + ascii("deu") + Bytes { 0 } + ascii("Gut");
    const Bytes oddLanguage
        = Bytes { 1 } + ascii("XYZ") + kBom + utf16("a") + Bytes { 0, 0 } + kBom + Bytes { 'b' };
    const Id3Tag result = parsed(tag(v3,
        frame(v3, "COMM", utf16Comment) + frame(v3, "COMM", latinComment) + frame(v3, "USLT", oddLanguage)));

    const auto* english = frameAt<LocalizedTextFrame>(result, FrameName::comment(FrameLanguage::eng));
    ASSERT_NE(english, nullptr);
    EXPECT_EQ(english->language, FrameLanguage::eng);
    EXPECT_EQ(english->contentDescription, "Desc");
    EXPECT_EQ(english->content, "Text");
    const auto* german = frameAt<LocalizedTextFrame>(result, FrameName::comment(FrameLanguage::deu));
    ASSERT_NE(german, nullptr);
    EXPECT_EQ(german->contentDescription, "");
    EXPECT_EQ(german->content, "Gut");
    const auto* lyrics
        = frameAt<LocalizedTextFrame>(result, FrameName::unsynchronizedLyrics(FrameLanguage::unknown));
    ASSERT_NE(lyrics, nullptr);
    EXPECT_EQ(lyrics->contentDescription, "a");
    EXPECT_EQ(lyrics->content, "Invalid content") << "odd-length UTF-16";
}

TEST(Id3TagParserTest, LaterFrameOfTheSameNameReplacesTheEarlierOne)
{
    const Id3Tag result = parsed(tag(v3,
        frame(v3, "TIT2", Bytes { 0 } + ascii("First")) + frame(v3, "TIT2", Bytes { 0 } + ascii("Second"))));
    EXPECT_EQ(textAt(result, FrameKind::title), "Second");
    EXPECT_TRUE(result.preservedFrames.empty());
}

TEST(Id3TagParserTest, RecognisesJfifAndPngPicturesOnlyInTheLayoutTheOffsetsAssume)
{
    const auto apic = [](std::string_view mediaType, std::uint8_t type, const Bytes& description,
                          const Bytes& data) {
        return frame(v3, "APIC", Bytes { 0 } + ascii(mediaType) + Bytes { 0, type } + description + data);
    };
    const Id3Tag result = parsed(tag(v3,
        apic("image/jpeg", 3, ascii("Cover\0"sv), kJfif) + apic("image/png", 4, Bytes { 0 }, kPng)
            + apic("image/jpeg", 5, Bytes { 0 }, kExif) // EXIF first
            + apic("image/gif", 6, Bytes { 0 }, ascii("GIF89a"))
            + apic("image/jpg", 7, Bytes { 0 }, kJfif) // offsets do not fit
            + apic("image/jpeg", 21, Bytes { 0 }, kJfif) // no such type
            + apic("image/jpeg", 8, Bytes { 0 }, ascii("x") + kJfif)));

    const auto* front = frameAt<PictureFrame>(result, FrameName::attachedPicture(PictureType::frontCover));
    ASSERT_NE(front, nullptr);
    EXPECT_EQ(front->picture, kJfif);
    EXPECT_EQ(front->format, PictureFormat::jpeg);
    const auto* back = frameAt<PictureFrame>(result, FrameName::attachedPicture(PictureType::backCover));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->picture, kPng);
    EXPECT_EQ(back->format, PictureFormat::png);
    EXPECT_EQ(result.frames.size(), 2u);
    EXPECT_EQ(result.preservedFrames.size(), 5u);

    const Id3Tag version2 = parsed(tag(v2,
        frame(v2, "PIC",
            Bytes { 1 } + ascii("JPG") + Bytes { 3 } + kBom + utf16("d") + Bytes { 0, 0 } + kJfif)));
    const auto* cover = frameAt<PictureFrame>(version2, FrameName::attachedPicture(PictureType::frontCover));
    ASSERT_NE(cover, nullptr);
    EXPECT_EQ(cover->picture, kJfif);
}

TEST(Id3TagParserTest, ValueFramesParseOnlyFromTextTheirRewriteReproduces)
{
    const auto latin = [](std::string_view id, std::string_view text) {
        return frame(v3, id, Bytes { 0 } + ascii(text) + Bytes { 0 });
    };
    // In the order the builder writes them, so that the rebuilt frames must equal these.
    const Bytes canonical = latin("TCON", "(13)Pop") + latin("TRCK", "3/12") + latin("TBPM", "124")
        + latin("TPOS", "1") + latin("TYER", "1999") + latin("TDAT", "0312") + latin("TIME", "2359");
    const Id3Tag values = parsed(tag(v3, canonical));
    EXPECT_EQ(values.frames.size(), 7u);
    EXPECT_TRUE(values.preservedFrames.empty());
    const Bytes rebuilt = Id3TagBuilder::build(values).value();
    EXPECT_EQ(
        Bytes(rebuilt.begin() + 10, rebuilt.begin() + 10 + static_cast<std::ptrdiff_t>(canonical.size())),
        canonical);

    // A vinyl side as track, a fractional BPM, a time with a colon, a genre refinement, a
    // non-ASCII genre and an ISO 8601 timestamp would come back changed: they stay as they are.
    const Id3Tag odd = parsed(tag(
        v3, latin("TRCK", "A1") + latin("TBPM", "127.5") + latin("TIME", "12:30") + latin("TCON", "(RX)")));
    EXPECT_TRUE(odd.frames.empty());
    EXPECT_EQ(odd.preservedFrames.size(), 4u);
    const Id3Tag version4 = parsed(tag(v4,
        frame(v4, "TCON",
            Bytes { 3 }
                + ascii("Fran\xC3\xA7"
                        "ais"))
            + frame(v4, "TDRC", Bytes { 3 } + ascii("2021-05-01"))));
    EXPECT_TRUE(version4.frames.empty());
    EXPECT_EQ(version4.preservedFrames.size(), 2u);

    const Id3Tag seconds = parsed(tag(v4, frame(v4, "TDRC", Bytes { 0 } + ascii("1709251140"))));
    const auto* moment = frameAt<DateTimeFrame>(seconds, FrameName(FrameKind::recordingDateTime));
    ASSERT_NE(moment, nullptr);
    EXPECT_EQ(std::tuple(*moment->year, *moment->month, *moment->day, *moment->hour, *moment->minute),
        std::tuple(2024, 2, 29, 23, 59));
}

TEST(Id3TagParserTest, KeepsUnknownAndSpeciallyCodedFramesAsTheyStand)
{
    const Bytes txxx = Bytes { 0 } + ascii("REPLAYGAIN_TRACK_GAIN\0-7.1 dB"sv);
    const Bytes compressed = bigEndian(6, 4) + Bytes { 0x78, 0x9C, 1, 2, 3 };
    const Id3Tag result = parsed(tag(v3,
        frame(v3, "TXXX", txxx) + frame(v3, "TIT2", compressed, { 0x00, 0x80 })
            + frame(v3, "PRIV", ascii("owner\0"sv), { 0x40, 0x00 }) + frame(v3, "TT2\x01", Bytes { 1 }),
        100));
    EXPECT_TRUE(result.frames.empty()) << "a compressed title is not text";
    ASSERT_EQ(result.preservedFrames.size(), 3u) << "padding and ill-formed identifiers are not frames";
    EXPECT_EQ(result.preservedFrames[0], (PreservedFrame { v3, "TXXX", { 0, 0 }, txxx }));
    EXPECT_EQ(result.preservedFrames[1], (PreservedFrame { v3, "TIT2", { 0x00, 0x80 }, compressed }));
    EXPECT_EQ(result.preservedFrames[2].flags, (std::array<std::uint8_t, 2> { 0x40, 0x00 }));
}

TEST(Id3TagParserTest, WalkUsesTheWholeTagAndStopsAtAFrameRunningPastIt)
{
    // One frame filling the tag exactly, no padding, and a tiny last frame in the final 10 bytes.
    EXPECT_EQ(textAt(parsed(tag(v3, frame(v3, "TIT2", Bytes { 0 } + ascii("Only frame")))), FrameKind::title),
        "Only frame");
    const Id3Tag tiny = parsed(tag(
        v2, frame(v2, "TP1", Bytes { 0 } + ascii("Artist")) + frame(v2, "TT2", Bytes { 0, 'T', 'i', 't' })));
    EXPECT_EQ(textAt(tiny, FrameKind::title), "Tit");

    Bytes overrun = frame(v3, "TIT2", Bytes { 0, 'a' }) + frame(v3, "TPE1", Bytes { 0, 'b' });
    overrun[12 + 7] = 200; // TPE1 claims 200 bytes
    // Audio behind the tag would have room for the claimed 200 bytes: the tag's end bounds the walk.
    const Id3Tag cut = parsed(tag(v3, overrun + frame(v3, "TALB", Bytes { 0, 'c' })) + Bytes(500, 'a'));
    EXPECT_EQ(textAt(cut, FrameKind::title), "a");
    EXPECT_EQ(cut.frames.size(), 1u);
    EXPECT_TRUE(cut.preservedFrames.empty());
}

TEST(Id3TagParserTest, HostileTagsNeitherOverReadNorHang)
{
    const std::vector<Bytes> inputs {
        {},
        ascii("ID3"),
        ascii("ID3\4\0\0\x7F\x7F\x7F\x7F"sv), // 256 MB announced, 10 given
        tag(v4, Bytes(1000, 0)), // padding only
        tag(v3, Bytes(1000, 0xFF)), // every size field huge
        tag(v3, frame(v3, "APIC", Bytes { 0 } + ascii("image/jpeg"))), // picture cut after the media type
        tag(v3,
            frame(v3, "APIC",
                Bytes { 1 } + ascii("image/jpeg\0\3"sv) + Bytes { 'a' } + kJfif)), // no terminator
        tag(v3, frame(v3, "COMM", Bytes { 1, 'e' })),
        tag(v2, ascii("TT2\0\0\0TT2\0\0\0TAL\0\0\0"sv)), // zero-size frames
        tag(v4, frame(v4, "TDRC", Bytes { 0 } + ascii("-999999999999960"))),
    };
    for (const Bytes& input : inputs) {
        const auto result = Id3TagParser::parse(input);
        if (result.ok() && result->has_value()) {
            EXPECT_LE((*result)->preservedFrames.size(), input.size());
        }
    }
}

} // namespace
} // namespace sondrel::tags
