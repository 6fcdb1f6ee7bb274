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
    EXPECT_TRUE(tag.ok() && tag->has_value()) << (tag.ok() ? "no tag" : tag.error().description());
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
    EXPECT_EQ(textAt(version3, FrameKind::title), "\xC3\xA9") << "taggers write UTF-8 into 2.3 too";

    // "Café 東京" in UTF-16 big-endian without a mark (0x02), as 2.4 allows.
    const Bytes cafeTokyo { 0, 'C', 0, 'a', 0, 'f', 0, 0xE9, 0, ' ', 0x67, 0x71, 0x4E, 0xAC };
    const Id3Tag version4 = parsed(tag(v4,
        frame(v4, "TIT2", Bytes { 3, 0, 0xC3, 0xA9, 0 }) + frame(v4, "TALB", Bytes { 1, 0xFE, 0xFF, 0, 'B' })
            + frame(v4, "TPE1", Bytes { 2 } + cafeTokyo + Bytes { 0, 0 })));
    EXPECT_EQ(textAt(version4, FrameKind::title), "\xC3\xA9");
    EXPECT_EQ(textAt(version4, FrameKind::album), "B");
    EXPECT_EQ(textAt(version4, FrameKind::artist), "Caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC");
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

TEST(Id3TagParserTest, CommentsAreSplitAtTheirEncodingsTerminatorAndKeyedByDescription)
{
    const Bytes bigEndianBom { 0xFE, 0xFF };
    const Id3Tag result = parsed(tag(v3,
        frame(v3, "COMM",
            Bytes { 1 } + ascii("eng") + kBom + utf16("Energy") + Bytes { 0, 0 } + kBom + utf16("8"))
            + frame(v3, "COMM", Bytes { 0 } + ascii("eng") + ascii("iTunNORM\0 000"sv))
            + frame(v3, "COMM", Bytes { 0 } + ascii("fra") + ascii("Mood\0Joyeux"sv))
            + frame(v3, "COMM",
                Bytes { 1 } + ascii("deu") + bigEndianBom + Bytes { 0, 'D' } + Bytes { 0, 0 } + bigEndianBom
                    + Bytes { 0, 'T' })
            // Content holding U+0000 and U+FEFF: bytes that look like a separator are content.
            + frame(v3, "USLT",
                Bytes { 1 } + ascii("eng") + kBom + Bytes { 0, 0 } + kBom + utf16("a")
                    + Bytes { 0, 0, 0xFF, 0xFE } + utf16("b"))
            + frame(v3, "USLT", Bytes { 3 } + ascii("eng") + ascii("Verse\0\xC3\xA9"sv))
            + frame(v3, "USLT", Bytes { 0 } + ascii("XYZ") + ascii("\0odd language"sv))));

    const auto text = [&](FrameName name) {
        const auto* frame = frameAt<LocalizedTextFrame>(result, std::move(name));
        return frame ? frame->contentDescription + "|" + frame->content : std::string("<none>");
    };
    EXPECT_EQ(text(FrameName::comment(FrameLanguage::eng, "Energy")), "Energy|8");
    EXPECT_EQ(text(FrameName::comment(FrameLanguage::eng, "iTunNORM")), "iTunNORM| 000");
    EXPECT_EQ(text(FrameName::comment(FrameLanguage::fra, "Mood")), "Mood|Joyeux");
    EXPECT_EQ(text(FrameName::comment(FrameLanguage::deu, "D")), "D|T");
    EXPECT_EQ(text(FrameName::unsynchronizedLyrics(FrameLanguage::eng)),
        std::string("|a\0\xEF\xBB\xBF"
                    "b",
            7));
    EXPECT_EQ(text(FrameName::unsynchronizedLyrics(FrameLanguage::eng, "Verse")), "Verse|\xC3\xA9");
    EXPECT_EQ(result.frames.size(), 6u);
    EXPECT_EQ(preservedIdentifiers(result), std::vector<std::string> { "USLT" })
        << "a language it cannot write back";
}

TEST(Id3TagParserTest, TagsThatCannotBeReadToTheirLastByteAreRefused)
{
    const Bytes title = frame(v3, "TIT2", Bytes { 0 } + ascii("First"));
    Bytes overrun = title + frame(v3, "TPE1", Bytes { 0, 'b' });
    overrun[title.size() + 7] = 200; // TPE1 claims 200 bytes
    Bytes version5 = tag(v3, title);
    version5[3] = 5;
    Bytes badFooter = tag(v4, frame(v4, "TIT2", Bytes { 0, 'x' }), 0, 0x10) + ascii("ID3") + Bytes(7, 0);
    const std::vector<std::pair<std::string, Bytes>> refused {
        { "two titles", tag(v3, title + frame(v3, "TIT2", Bytes { 0 } + ascii("Second"))) },
        { "two equal comments",
            tag(v3,
                frame(v3, "COMM", Bytes { 0 } + ascii("engd\0a"sv))
                    + frame(v3, "COMM", Bytes { 0 } + ascii("engd\0b"sv))) },
        // Audio behind the tag would have room for the claimed 200 bytes: the tag's end bounds the walk.
        { "frame past the tag's end",
            tag(v3, overrun + frame(v3, "TALB", Bytes { 0, 'c' })) + Bytes(500, 'a') },
        { "bytes that are no frame", tag(v3, title + ascii("tit2\0\0\0\1\0\0x"sv)) },
        { "version 5", version5 },
        { "footer missing", badFooter },
        { "unsynchronised", tag(v3, title, 0, 0x80) },
    };
    for (const auto& [what, bytes] : refused) {
        const TagResult<std::optional<Id3Tag>> result = Id3TagParser::parse(bytes);
        ASSERT_FALSE(result.ok()) << what;
        EXPECT_EQ(result.error(), TagEditorError::corruptedFile) << what;
        EXPECT_TRUE(result.error().description().starts_with("The tag cannot be read faithfully")) << what;
    }
}

TEST(Id3TagParserTest, ReadsVersion4FrameSizesThatITunesWroteAsPlainNumbers)
{
    const Bytes cover = Bytes { 0 } + ascii("image/jpeg\0\3\0"sv) + kJfif + Bytes(3018 - 27, 0x11);
    const auto plainFrame = [](std::string_view id, const Bytes& body) {
        return ascii(id) + bigEndian(static_cast<std::uint32_t>(body.size()), 4) + Bytes { 0, 0 } + body;
    };
    const Id3Tag result
        = parsed(tag(v4, plainFrame("APIC", cover) + plainFrame("TPE1", Bytes { 0 } + ascii("Artist")), 64));
    const auto* picture = frameAt<PictureFrame>(result, FrameName::attachedPicture(PictureType::frontCover));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->picture.size(), 3018u - 14u);
    EXPECT_EQ(textAt(result, FrameKind::artist), "Artist");

    // Sizes of 128 bytes and more differ in the two readings; one of plain sizes whose bytes are
    // all valid synchsafe digits is told apart by where the walk ends.
    const Bytes text = Bytes { 0 } + Bytes(255, 'a');
    const Id3Tag plain = parsed(tag(v4, plainFrame("TIT2", text) + plainFrame("TPE1", Bytes { 0, 'b' })));
    EXPECT_EQ(textAt(plain, FrameKind::title), std::string(255, 'a'));
    EXPECT_EQ(textAt(plain, FrameKind::artist), "b");
}

TEST(Id3TagParserTest, PicturesAreKeyedByTypeAndDescriptionAndKeepBoth)
{
    const auto apic = [](std::string_view mediaType, std::uint8_t type, const Bytes& description,
                          const Bytes& data, std::uint8_t encoding = 0) {
        return frame(
            v3, "APIC", Bytes { encoding } + ascii(mediaType) + Bytes { 0, type } + description + data);
    };
    const Id3Tag result = parsed(tag(v3,
        apic("image/jpeg", 3, ascii("Cover A\0"sv), kJfif)
            + apic("image/png", 3, kBom + utf16("Cover B") + Bytes { 0, 0 }, kPng, 1)
            + apic("image/jpeg", 5, Bytes { 0 }, kExif) // EXIF first
            + apic("image/gif", 6, Bytes { 0 }, ascii("GIF89a")) + apic("image/jpg", 7, Bytes { 0 }, kJfif)
            + apic("image/jpeg", 21, Bytes { 0 }, kJfif) // no such type
            + apic("image/jpeg", 8, Bytes { 0 }, ascii("x") + kJfif)));

    const auto* first
        = frameAt<PictureFrame>(result, FrameName::attachedPicture(PictureType::frontCover, "Cover A"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::tuple(first->picture, first->format, first->description, first->mimeType),
        std::tuple(kJfif, PictureFormat::jpeg, std::string("Cover A"), std::string("image/jpeg")));
    const auto* second
        = frameAt<PictureFrame>(result, FrameName::attachedPicture(PictureType::frontCover, "Cover B"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::tuple(second->picture, second->format, second->mimeType),
        std::tuple(kPng, PictureFormat::png, std::string("image/png")));
    const auto* odd = frameAt<PictureFrame>(result, FrameName::attachedPicture(PictureType::leadArtist));
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->mimeType, "image/jpg");
    EXPECT_EQ(result.frames.size(), 3u);
    EXPECT_EQ(result.preservedFrames.size(), 4u);

    const Id3Tag version2 = parsed(tag(v2,
        frame(v2, "PIC",
            Bytes { 1 } + ascii("JPG") + Bytes { 3 } + kBom + utf16("d") + Bytes { 0, 0 } + kJfif)));
    const auto* cover
        = frameAt<PictureFrame>(version2, FrameName::attachedPicture(PictureType::frontCover, "d"));
    ASSERT_NE(cover, nullptr);
    EXPECT_EQ(cover->picture, kJfif);

    // Both come back with type, description, media type and bytes.
    const Id3Tag back = parsed(Id3TagBuilder::build(result).value());
    EXPECT_EQ(back.frames.size(), 3u);
    EXPECT_EQ(back.preservedFrames, result.preservedFrames);
    for (const auto& [name, frame] : result.frames) {
        const auto* before = dynamic_cast<const PictureFrame*>(frame.get());
        const auto* after = frameAt<PictureFrame>(back, name);
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(std::tie(before->picture, before->description, before->mimeType, before->type),
            std::tie(after->picture, after->description, after->mimeType, after->type));
    }
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
            + frame(v3, "PRIV", ascii("owner\0"sv), { 0x40, 0x00 }),
        100));
    EXPECT_TRUE(result.frames.empty()) << "a compressed title is not text";
    ASSERT_EQ(result.preservedFrames.size(), 3u) << "padding is not a frame";
    EXPECT_EQ(result.preservedFrames[0], (PreservedFrame { v3, "TXXX", { 0, 0 }, txxx }));
    EXPECT_EQ(result.preservedFrames[1], (PreservedFrame { v3, "TIT2", { 0x00, 0x80 }, compressed }));
    EXPECT_EQ(result.preservedFrames[2].flags, (std::array<std::uint8_t, 2> { 0x40, 0x00 }));
}

TEST(Id3TagParserTest, WalkUsesTheWholeTag)
{
    // One frame filling the tag exactly, no padding, and a tiny last frame in the final 10 bytes.
    EXPECT_EQ(textAt(parsed(tag(v3, frame(v3, "TIT2", Bytes { 0 } + ascii("Only frame")))), FrameKind::title),
        "Only frame");
    const Id3Tag tiny = parsed(tag(
        v2, frame(v2, "TP1", Bytes { 0 } + ascii("Artist")) + frame(v2, "TT2", Bytes { 0, 'T', 'i', 't' })));
    EXPECT_EQ(textAt(tiny, FrameKind::title), "Tit");
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
