#include "ID3Parser.h"

#include "FixtureFolder.h"
#include "Id3Bytes.h"

#include "AudioIo.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel::core {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using Metadata = ID3Parser::Metadata;
using namespace sondrel::test;

// --- Hand-built tags -------------------------------------------------------------------------

// Encoding byte followed by the text's bytes.
Bytes text(std::uint8_t encoding, const Bytes& bytes)
{
    return Bytes { encoding } + bytes;
}

Bytes utf8(std::string_view value)
{
    return text(3, ascii(value));
}

Bytes tagHeader(std::uint8_t majorVersion, const Bytes& sizeField)
{
    return ascii("ID3") + Bytes { majorVersion, 0, 0 } + sizeField;
}

// MPEG-1 Layer III, no CRC, 44.1 kHz, no padding, stereo.
Bytes layer3Header(std::uint8_t bitrateIndex)
{
    return { 0xFF, 0xFB, static_cast<std::uint8_t>(bitrateIndex << 4), 0x00 };
}

Bytes threeTextFramesV23()
{
    return frame(3, "TIT2", utf8("Title")) + frame(3, "TPE1", utf8("Artist"))
        + frame(3, "TALB", utf8("Album"));
}

Metadata expected(std::optional<std::string> title, std::optional<std::string> artist,
    std::optional<std::string> album, std::optional<std::int64_t> bitrate)
{
    return Metadata { std::move(title), std::move(artist), std::move(album), bitrate };
}

class ID3ParserTest : public ::testing::Test {
protected:
    [[nodiscard]] fs::path write(const std::string& name, const Bytes& bytes) const
    {
        const fs::path path = m_dir / name;
        writeFile(path, bytes);
        return path;
    }

    // bytes, then zeros (a sparse hole) up to size.
    [[nodiscard]] fs::path writeSized(const std::string& name, const Bytes& bytes, std::uintmax_t size) const
    {
        const fs::path path = write(name, bytes);
        fs::resize_file(path, size);
        return path;
    }

    [[nodiscard]] Metadata parseBytes(const Bytes& bytes) const
    {
        return ID3Parser::parse(write("track.mp3", bytes));
    }

    const FixtureFolder m_folder;
    const fs::path& m_dir = m_folder.path();
};

// --- Which files are read --------------------------------------------------------------------

TEST_F(ID3ParserTest, ReadsOnlyFilesWithMp3ExtensionInAnyCase)
{
    const Bytes file = tag(3, threeTextFramesV23()) + layer3Header(9);
    for (const char* name : { "a.mp3", "b.MP3", "c.Mp3" })
        EXPECT_EQ(ID3Parser::parse(write(name, file)), expected("Title", "Artist", "Album", 128)) << name;
    for (const char* name : { "track.flac", "track.mp3.part", "mp3", "track.mp3 " })
        EXPECT_EQ(ID3Parser::parse(write(name, file)), Metadata::empty) << name;
}

// --- Text frames and encodings ---------------------------------------------------------------

// Which rule each encoding byte reads by; the rules themselves are TextDecodingTest's.
TEST_F(ID3ParserTest, DecodesLatin1AndBothUtf16Forms)
{
    struct Case {
        const char* what;
        Bytes content;
        std::optional<std::string> title;
    };
    const Case cases[] = {
        { "latin-1", text(0, { 'C', 'a', 'f', 0xE9, ' ', 0xFF, 0x00 }), "Caf\xC3\xA9 \xC3\xBF" },
        { "utf-16 little-endian mark", text(1, { 0xFF, 0xFE, 'H', 0, 0xE9, 0, 0, 0 }), "H\xC3\xA9" },
        { "utf-16 without mark is big-endian", text(1, { 0, 'H', 0, 0xE9 }), "H\xC3\xA9" },
        // Encoding 2 has no mark: a leading FF FE is the character U+FFFE, not a byte-order switch.
        { "utf-16be keeps leading FF FE", text(2, { 0xFF, 0xFE, 0, 'H' }), "\xEF\xBF\xBEH" },
        { "unknown encoding byte reads utf-8", text(9, ascii("Ti\xC3\xA9")), "Ti\xC3\xA9" },
    };
    for (const Case& c : cases) {
        const Bytes body = frame(3, "TIT2", c.content) + frame(3, "TPE1", utf8("Artist"));
        const Metadata metadata = parseBytes(tag(3, body));
        EXPECT_EQ(metadata.title, c.title) << c.what;
        EXPECT_EQ(metadata.artist, "Artist") << c.what;
    }
}

TEST_F(ID3ParserTest, GivesNoTextForBytesInvalidInTheirEncodingAndKeepsWalking)
{
    const std::pair<const char*, Bytes> cases[] = {
        { "utf-16 odd length", text(1, { 0xFF, 0xFE, 'H', 0, 'i' }) },
        { "unknown encoding byte reads utf-8", text(9, { 0xC0, 0xAF }) },
        { "utf-16 lone low surrogate", text(2, { 0xDF, 0xB5, 0, 'H' }) },
        { "utf-8 truncated sequence", text(3, { 'A', 0xC3 }) },
    };
    for (const auto& [what, content] : cases) {
        const Metadata metadata
            = parseBytes(tag(3, frame(3, "TIT2", content) + frame(3, "TALB", utf8("Album"))));
        EXPECT_EQ(metadata.title, std::nullopt) << what;
        EXPECT_EQ(metadata.album, "Album") << what;
    }
}

TEST_F(ID3ParserTest, FrameWithOnlyTheEncodingByteGivesEmptyTextButEmptyFrameGivesNone)
{
    const Bytes body = frame(3, "TIT2", { 3 }) + frame(3, "TPE1", { 1 }) + frame(3, "TALB", {});
    const Metadata metadata = parseBytes(tag(3, body));
    EXPECT_EQ(metadata.title, "");
    EXPECT_EQ(metadata.artist, "");
    // A zero-size frame ends the walk before any album frame is decoded.
    EXPECT_EQ(metadata.album, std::nullopt);
}

TEST_F(ID3ParserTest, TrimsOnlyNulCharactersFromBothEnds)
{
    const Bytes body = frame(3, "TIT2", utf8(std::string("\0\0 Intro \0\0", 11)))
        + frame(3, "TPE1", text(1, { 0xFF, 0xFE, 0, 0, 'A', 0, 0, 0, 'B', 0, 0, 0 }))
        + frame(3, "TALB", text(0, { 0, '\t', 'X', 0 }));
    const Metadata metadata = parseBytes(tag(3, body));
    EXPECT_EQ(metadata.title, " Intro ");
    EXPECT_EQ(metadata.artist, std::string("A\0B", 3)); // a NUL between values stays
    EXPECT_EQ(metadata.album, "\tX");
}

// --- Frame walk --------------------------------------------------------------------------------

TEST_F(ID3ParserTest, LaterFrameWithTheSameIdentifierReplacesTheEarlierOne)
{
    const Bytes replaced = frame(3, "TIT2", utf8("First")) + frame(3, "TIT2", utf8("Second"));
    EXPECT_EQ(parseBytes(tag(3, replaced)).title, "Second");
    const Bytes invalidLater = frame(3, "TIT2", utf8("First")) + frame(3, "TIT2", text(3, { 0xFF }));
    EXPECT_EQ(parseBytes(tag(3, invalidLater)).title, std::nullopt);
    // Once all three fields are present the walk stops: a later title is never reached.
    EXPECT_EQ(parseBytes(tag(3, threeTextFramesV23() + frame(3, "TIT2", utf8("Too late")))).title, "Title");
}

TEST_F(ID3ParserTest, SkipsOtherFramesAndStopsAtPadding)
{
    const Bytes body = frame(3, "TXXX", text(0, ascii("comment\0long"sv))) + frame(3, "TIT2", utf8("Title"))
        + frame(3, "COMM", text(0, ascii("eng\0Text"sv))) + frame(3, "TPE1", utf8("Artist")) + Bytes(64, 0)
        + frame(3, "TALB", utf8("Behind padding"));
    EXPECT_EQ(parseBytes(tag(3, body) + layer3Header(14)), expected("Title", "Artist", std::nullopt, 320));
}

TEST_F(ID3ParserTest, ReadsVersion22FramesWithThreeByteIdentifiersAndNoFramesFromVersionsZeroAndOne)
{
    const Bytes body = frame(2, "PIC", Bytes(300, 0xAB)) + frame(2, "TT2", utf8("Title"))
        + frame(2, "TP1", text(0, ascii("Artist"))) + frame(2, "TAL", text(1, { 0xFE, 0xFF, 0, 'A' }));
    EXPECT_EQ(parseBytes(tag(2, body) + layer3Header(11)), expected("Title", "Artist", "A", 192));
    // Four-letter identifiers mean nothing in a version 2.2 tag.
    EXPECT_EQ(parseBytes(tag(2, threeTextFramesV23())).title, std::nullopt);
    // Major versions 0 and 1 have no frames to read.
    for (const std::uint8_t version : { std::uint8_t { 0 }, std::uint8_t { 1 } }) {
        const Metadata metadata = parseBytes(tag(version, threeTextFramesV23()) + layer3Header(9));
        EXPECT_EQ(metadata, expected(std::nullopt, std::nullopt, std::nullopt, 128)) << int { version };
    }
}

TEST_F(ID3ParserTest, ReadsTitleAfterLargePictureFrameInVersion24Tag)
{
    // 300 bytes is 0x00 0x00 0x02 0x2C synchsafe, which a plain reading takes as 556.
    const Bytes body = frame(4, "APIC", Bytes(300, 0x5A)) + frame(4, "TIT2", utf8("Title"))
        + frame(4, "TPE1", utf8("Artist")) + frame(4, "TALB", utf8("Album"));
    EXPECT_EQ(parseBytes(tag(4, body) + layer3Header(13)), expected("Title", "Artist", "Album", 256));
}

TEST_F(ID3ParserTest, ReadsFramesWhereverTheyCrossTheFirstKilobytesOfTheTag)
{
    // A frame before the title moves the title's header, then its text, across the first few
    // kilobytes of the tag, which are read first; the rest must be read when the walk needs it.
    for (const std::size_t filler : { 8150u, 8170u, 8180u, 8190u, 16000u }) {
        const Bytes body = frame(3, "TXXX", Bytes(filler, 0x41)) + threeTextFramesV23();
        EXPECT_EQ(parseBytes(tag(3, body, 2000) + layer3Header(9)), expected("Title", "Artist", "Album", 128))
            << filler;
    }
    // All three early, a picture and padding behind them: the same answer from the first read.
    const Bytes early = threeTextFramesV23() + frame(3, "APIC", Bytes(40000, 0x5A));
    EXPECT_EQ(parseBytes(tag(3, early, 4096) + layer3Header(11)), expected("Title", "Artist", "Album", 192));
}

TEST_F(ID3ParserTest, AnOpenFileReadsLikeItsPath)
{
    const fs::path path = write("open.mp3", tag(4, threeTextFramesV23()) + layer3Header(14));
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    EXPECT_EQ(ID3Parser::parseOpenFile(descriptor), ID3Parser::parse(path));
    EXPECT_EQ(ID3Parser::parseOpenFile(descriptor), expected("Title", "Artist", "Album", 320));
    ::close(descriptor);
}

// --- Tag size ----------------------------------------------------------------------------------

TEST_F(ID3ParserTest, SeeksAudioBehindTheDeclaredTagSizeWithItsTopBitsWalkingOnlyTheFirst256KiB)
{
    constexpr std::uint32_t kDeclared = 300000;
    Bytes body = frame(3, "TIT2", utf8("Title")) + frame(3, "TXXX", Bytes(270000, 0x20))
        + frame(3, "TPE1", utf8("A"));
    body.resize(kDeclared, 0);
    // A header where the capped read ends must not be taken for the audio.
    const Bytes decoy = layer3Header(14);
    std::copy(decoy.begin(), decoy.end(), body.begin() + 262144);
    const Bytes file = tagHeader(3, synchsafe(kDeclared)) + body + layer3Header(9);
    EXPECT_EQ(parseBytes(file), expected("Title", std::nullopt, std::nullopt, 128));

    // 0x81 in the last size byte counts as 129, not 1, so the audio header sits at 139.
    const Bytes small = frame(3, "TIT2", utf8("Title")) + Bytes(129 - 16, 0);
    EXPECT_EQ(parseBytes(tagHeader(3, { 0, 0, 0, 0x81 }) + small + layer3Header(10)),
        expected("Title", std::nullopt, std::nullopt, 160));
}

// --- Claimed bitrate ---------------------------------------------------------------------------

TEST_F(ID3ParserTest, ReadsEveryMpeg1Layer3BitrateFromTheHeaderBehindTheTag)
{
    constexpr std::array<std::int64_t, 15> kKbps
        = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 };
    for (std::uint8_t index = 1; index <= 14; ++index) {
        EXPECT_EQ(parseBytes(tag(3, threeTextFramesV23()) + layer3Header(index)).bitrate, kKbps[index])
            << int { index };
        EXPECT_EQ(parseBytes(layer3Header(index)).bitrate, kKbps[index])
            << "untagged, index " << int { index };
    }
    // Protection, sampling rate, padding and mode bits play no part.
    EXPECT_EQ(parseBytes(Bytes { 0xFF, 0xFA, 0x9F, 0xFF }).bitrate, 128);
}

TEST_F(ID3ParserTest, FallsBackToFileSizeWithoutAUsableHeaderExactlyBehindTheTag)
{
    // 7,000,000 bytes over 210 s is 266 kbps: the guess is 256, which no header below claims.
    constexpr std::uintmax_t kSize = 7000000;
    const Bytes tagBytes = tag(3, threeTextFramesV23());
    const std::pair<const char*, Bytes> cases[] = {
        { "free format", layer3Header(0) },
        { "bad index 15", layer3Header(15) },
        { "MPEG-2 Layer III", { 0xFF, 0xF3, 0x90, 0x00 } },
        { "MPEG-1 Layer II", { 0xFF, 0xFD, 0x90, 0x00 } },
        { "MPEG-1 Layer I", { 0xFF, 0xFF, 0x90, 0x00 } },
        { "MPEG-2.5", { 0xFF, 0xE3, 0x90, 0x00 } },
        { "reserved MPEG version", { 0xFF, 0xEB, 0x90, 0x00 } },
        { "no frame sync", { 0xFF, 0x7B, 0x90, 0x00 } },
        { "header one byte late", Bytes { 0x00 } + layer3Header(9) },
        { "no audio at all", {} },
    };
    for (const auto& [what, audio] : cases) {
        const Metadata metadata = ID3Parser::parse(writeSized("track.mp3", tagBytes + audio, kSize));
        EXPECT_EQ(metadata, expected("Title", "Artist", "Album", 256)) << what;
    }
}

TEST_F(ID3ParserTest, GuessesBitrateFromFileSizeWithTiesGoingToTheLowerRate)
{
    const std::pair<std::uintmax_t, std::int64_t> cases[] = {
        { 0, 128 },
        { 4226249, 128 }, // 160 kbps, halfway between 128 and 192
        { 4226250, 192 },
        { 5000000, 192 },
        { 5906249, 192 }, // 224
        { 5906250, 256 },
        { 7586249, 256 }, // 288
        { 7586250, 320 },
        { std::uintmax_t { 1 } << 40, 320 },
    };
    for (const auto& [size, kbps] : cases) {
        const Metadata metadata = ID3Parser::parse(writeSized("track.mp3", {}, size));
        EXPECT_EQ(metadata, expected(std::nullopt, std::nullopt, std::nullopt, kbps)) << size;
    }
}

// --- Hostile input -----------------------------------------------------------------------------

TEST_F(ID3ParserTest, GivesEmptyMetadataForWhatCannotBeOpenedAsAFile)
{
    EXPECT_EQ(ID3Parser::parse(m_dir / "missing.mp3"), Metadata::empty);
    fs::create_directory(m_dir / "folder.mp3");
    EXPECT_EQ(ID3Parser::parse(m_dir / "folder.mp3"), Metadata::empty);
    // A FIFO has no writer: opening it must neither block nor read.
    const fs::path fifo = m_dir / "pipe.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ID3Parser::parse(fifo), Metadata::empty);
}

TEST_F(ID3ParserTest, TreatsFilesShorterThanATagHeaderAsUntaggedAndAnEmptyTagAsEmpty)
{
    const Metadata untagged = expected(std::nullopt, std::nullopt, std::nullopt, 128);
    EXPECT_EQ(parseBytes({}), untagged);
    EXPECT_EQ(parseBytes(ascii("ID3")), untagged);
    EXPECT_EQ(parseBytes(tagHeader(3, { 0, 0, 1 })), untagged);
    EXPECT_EQ(
        parseBytes(ascii("ID2") + Bytes { 3, 0, 0, 0, 0, 0, 10 } + frame(3, "TIT2", utf8("T"))), untagged);
    // A whole header with an empty or missing body: a tag, with no fields at all.
    EXPECT_EQ(parseBytes(tag(3, {})), Metadata::empty);
    EXPECT_EQ(parseBytes(tag(4, {}) + layer3Header(9)), Metadata::empty);
    EXPECT_EQ(parseBytes(tagHeader(3, synchsafe(1000))), Metadata::empty);
}

TEST_F(ID3ParserTest, ReadsWhatIsThereWhenTheDeclaredTagSizeRunsPastTheEndOfTheFile)
{
    const Bytes file = tagHeader(3, { 0x7F, 0x7F, 0x7F, 0x7F }) + frame(3, "TIT2", utf8("Title"))
        + frame(3, "TPE1", utf8("Art"));
    EXPECT_EQ(parseBytes(file), expected("Title", "Art", std::nullopt, 128));
    // Top bits set in every size byte: the largest size the header can declare.
    EXPECT_EQ(parseBytes(tagHeader(3, { 0xFF, 0xFF, 0xFF, 0xFF }) + threeTextFramesV23()),
        expected("Title", "Artist", "Album", 128));
}

TEST_F(ID3ParserTest, EndsTheWalkAtFrameSizesOrHeadersPastTheEndOfTheTag)
{
    const Bytes huge4 = { 0xFF, 0xFF, 0xFF, 0xFF };
    const Bytes v23
        = frame(3, "TIT2", utf8("Title")) + ascii("TPE1") + huge4 + Bytes { 0, 0 } + utf8("Artist");
    EXPECT_EQ(parseBytes(tag(3, v23)), expected("Title", std::nullopt, std::nullopt, 128));
    const Bytes v24
        = frame(4, "TIT2", utf8("Title")) + ascii("TPE1") + huge4 + Bytes { 0, 0 } + utf8("Artist");
    EXPECT_EQ(parseBytes(tag(4, v24)), expected("Title", std::nullopt, std::nullopt, 128));
    const Bytes v22
        = frame(2, "TT2", utf8("Title")) + ascii("TP1") + Bytes { 0xFF, 0xFF, 0xFF } + utf8("Artist");
    EXPECT_EQ(parseBytes(tag(2, v22)), expected("Title", std::nullopt, std::nullopt, 128));
    // One byte too many for the body.
    const Bytes overByOne
        = frame(3, "TIT2", utf8("Title")) + ascii("TPE1") + bigEndian(8, 4) + Bytes { 0, 0 } + utf8("Artist");
    EXPECT_EQ(parseBytes(tag(3, overByOne)).artist, std::nullopt);
    // A frame header cut off by the end of the tag.
    const Bytes body = frame(3, "TIT2", utf8("Title")) + ascii("TPE1") + Bytes { 0, 0, 0 };
    EXPECT_EQ(parseBytes(tag(3, body)), expected("Title", std::nullopt, std::nullopt, 128));
    // Exactly one header plus content: the smallest body that yields a field.
    EXPECT_EQ(parseBytes(tag(3, frame(3, "TIT2", { 0 }))).title, "");
    EXPECT_EQ(parseBytes(tag(2, frame(2, "TT2", { 0 }))).title, "");
}

// --- Tags written by FFmpeg's mp3 muxer ----------------------------------------------------------

// 0.2 s of stereo silence through libmp3lame at CBR 320 kbps, tagged as asked.
std::string writeTaggedMp3(const fs::path& path, const fixtures::Id3Tags& tags)
{
    if (!fixtures::encoderAvailable(fixtures::Container::Mp3))
        return "this FFmpeg has no MP3 encoder";
    fixtures::EncodeOptions options;
    options.container = fixtures::Container::Mp3;
    options.bitrateKbps = 320;
    options.id3 = tags;
    return fixtures::writeAudioFile(path, fixtures::makeSilence(8820, 44100, 2), options);
}

TEST_F(ID3ParserTest, ReadsTagsWrittenByFfmpegMp3Muxer)
{
    // FFmpeg writes ASCII text as ISO-8859-1 and anything else as UTF-16 with a byte-order mark.
    // The muxer's Info frame comes first behind the tag and claims the stream's 320 kbps.
    const fs::path v23 = m_dir / "stereo-44100-mp3-cbr320-id3v23.mp3";
    ASSERT_EQ(writeTaggedMp3(
                  v23, { 3, "Caf\xC3\xA9 Noir", "Sondrel Test Artist", "\xE2\x99\xAB Fixtures", {}, {} }),
        "");
    EXPECT_EQ(ID3Parser::parse(v23),
        expected("Caf\xC3\xA9 Noir", "Sondrel Test Artist", "\xE2\x99\xAB Fixtures", 320));

    // A comment frame far over 127 bytes, or a picture, ahead of the title in a version 2.4 tag:
    // only synchsafe frame sizes lead to the title.
    const fs::path comment = m_dir / "stereo-44100-mp3-cbr320-id3v24-long-comment.mp3";
    ASSERT_EQ(writeTaggedMp3(comment,
                  { 4, "Titel \xC3\xBC", "Artist", "Album", std::string(600, 'c'), Bytes(20000, 0x42) }),
        "");
    EXPECT_EQ(ID3Parser::parse(comment), expected("Titel \xC3\xBC", "Artist", "Album", 320));
    fixtures::Id3Tags tags { 4, "Picture First", "Artist", "Album", std::string(300, 'c'),
        Bytes(20000, 0x42) };
    tags.pictureBeforeText = true;
    const fs::path picture = m_dir / "stereo-44100-mp3-cbr320-id3v24-apic-first.mp3";
    ASSERT_EQ(writeTaggedMp3(picture, tags), "");
    EXPECT_EQ(ID3Parser::parse(picture), expected("Picture First", "Artist", "Album", 320));
}

// --- Randomised mutations ----------------------------------------------------------------------

bool isWellFormedUtf8(const std::string& value)
{
    iconv_t converter = ::iconv_open("UTF-32LE", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string input = value;
    std::vector<char> output(4 * value.size() + 4);
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    const std::size_t result = ::iconv(converter, &in, &inLeft, &out, &outLeft);
    ::iconv_close(converter);
    return result != static_cast<std::size_t>(-1) && inLeft == 0;
}

Bytes mutate(Bytes bytes, std::mt19937& random)
{
    const auto pick
        = [&](std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound)(random); };
    const int edits = 1 + static_cast<int>(pick(7));
    for (int edit = 0; edit < edits && !bytes.empty(); ++edit) {
        const std::size_t at = pick(bytes.size() - 1);
        switch (pick(5)) {
        case 0:
            bytes[at] ^= static_cast<std::uint8_t>(1u << pick(7));
            break;
        case 1: {
            constexpr std::array<std::uint8_t, 6> kInteresting = { 0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF };
            bytes[at] = kInteresting[pick(kInteresting.size() - 1)];
            break;
        }
        case 2:
            bytes[at] = static_cast<std::uint8_t>(pick(255));
            break;
        case 3:
            bytes.resize(at);
            break;
        case 4: {
            const std::size_t length = std::min(pick(32), bytes.size() - at);
            const Bytes chunk(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
            bytes.insert(
                bytes.begin() + static_cast<std::ptrdiff_t>(pick(bytes.size())), chunk.begin(), chunk.end());
            break;
        }
        default:
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
            break;
        }
    }
    return bytes;
}

TEST_F(ID3ParserTest, VbrAndAacFilesClaimTheAverageTheyState)
{
    if (!fixtures::encoderAvailable(fixtures::Container::Mp3) || !fixtures::encoderAvailable(fixtures::Container::M4a))
        GTEST_SKIP() << "no lossy encoders";
    const fixtures::Signal music = fixtures::makeDanceLike(30 * 44100, 44100, 2, 4);
    const auto encode = [&](const std::string& name, fixtures::EncodeOptions options) {
        EXPECT_EQ(fixtures::writeAudioFile(m_dir / name, music, options), "") << name;
        return ID3Parser::parse(m_dir / name).bitrate;
    };
    fixtures::EncodeOptions v0 { fixtures::Container::Mp3, fixtures::SampleFormat::S16, 0, {} };
    v0.vbrQuality = 0;
    // The Xing frame's own header says 128: the claim is the stream's average.
    const auto vbr = encode("v0.mp3", v0);
    ASSERT_TRUE(vbr);
    const double seconds = 30.0;
    const double audioKbps = static_cast<double>(fs::file_size(m_dir / "v0.mp3")) * 8 / seconds / 1000;
    EXPECT_NEAR(static_cast<double>(*vbr), audioKbps, audioKbps * 0.05);
    EXPECT_GT(*vbr, 160);
    // A constant bitrate keeps its header's value; so does a VBR file without a Xing frame.
    EXPECT_EQ(encode("cbr.mp3", { fixtures::Container::Mp3, fixtures::SampleFormat::S16, 192, {} }), 192);
    v0.xingHeader = false;
    EXPECT_NE(encode("v0-no-xing.mp3", v0), std::nullopt);

    const auto m4a = encode("aac.m4a", { fixtures::Container::M4a, fixtures::SampleFormat::S16, 256, {} });
    ASSERT_TRUE(m4a);
    EXPECT_NEAR(static_cast<double>(*m4a), 256.0, 256.0 * 0.1);
    fixtures::EncodeOptions adts { fixtures::Container::M4a, fixtures::SampleFormat::S16, 192, {} };
    adts.adts = true;
    const auto raw = encode("raw.aac", adts);
    ASSERT_TRUE(raw);
    EXPECT_NEAR(static_cast<double>(*raw), 192.0, 192.0 * 0.1);
    // Not AAC at all: nothing claimed, and no crash.
    writeText(m_dir / "junk.m4a", std::string(5000, 'x'));
    EXPECT_EQ(ID3Parser::parse(m_dir / "junk.m4a"), Metadata::empty);
}

TEST_F(ID3ParserTest, SurvivesRandomMutationsOfRealTags)
{
    std::vector<Bytes> seeds = {
        tag(3,
            frame(3, "TXXX", text(1, { 0xFF, 0xFE, 'c', 0, 0, 0, 'x', 0 }))
                + frame(3, "TIT2", text(0, { 'T', 0xE9 }))
                + frame(3, "TPE1", text(1, { 0xFE, 0xFF, 0xD8, 0x3C, 0xDF, 0xB5 }))
                + frame(3, "TALB", utf8("Album")) + Bytes(16, 0))
            + layer3Header(14),
        tag(4,
            frame(4, "APIC", Bytes(200, 0x11)) + frame(4, "TIT2", text(2, { 0, 'T' }))
                + frame(4, "TPE1", utf8("A\xC3\xA9")) + frame(4, "TALB", text(3, { 'B', 0 })))
            + layer3Header(9),
        tag(2,
            frame(2, "TT2", utf8("T")) + frame(2, "TP1", text(1, { 0xFF, 0xFE, 'A', 0 }))
                + frame(2, "TAL", text(0, { 'B' })))
            + layer3Header(5),
    };
    const fs::path written = m_dir / "ffmpeg-seed.mp3";
    if (writeTaggedMp3(written, { 4, "T\xC3\xA9", "A", "B", std::string(200, 'c'), {} }).empty()) {
        std::ifstream in(written, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::set<std::int64_t> kClaimable
        = { 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 };

    std::mt19937 random(20240611u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int iterations = 0;
    for (; iterations < 4000 && std::chrono::steady_clock::now() < deadline; ++iterations) {
        const Bytes input = mutate(seeds[static_cast<std::size_t>(iterations) % seeds.size()], random);
        const Metadata metadata = parseBytes(input);
        for (const auto* field : { &metadata.title, &metadata.artist, &metadata.album }) {
            if (*field) {
                ASSERT_TRUE(isWellFormedUtf8(**field)) << "iteration " << iterations;
            }
        }
        if (metadata.bitrate) {
            ASSERT_TRUE(kClaimable.contains(*metadata.bitrate)) << "iteration " << iterations;
        }
    }
    EXPECT_GE(iterations, 500); // the deadline only guards very slow machines
}

} // namespace
} // namespace sondrel::core
