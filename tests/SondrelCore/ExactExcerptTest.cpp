// Every excerpt the analysis reads must be the samples a full decode holds at that position,
// on tracks shaped like dance music, whose VBR bitrate swings section by section.

#include "AudioDecoder.h"
#include "AudioIo.h"
#include "FixtureFolder.h"
#include "FlacFrames.h"
#include "Mp3Frames.h"
#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

using namespace sondrel::core;
namespace fx = sondrel::fixtures;
using sondrel::test::FixtureFolder;
using sondrel::test::readText;
using sondrel::test::writeText;

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kFrames = 75 * kRate;

fx::EncodeOptions mp3(int kbps, int quality, bool xing)
{
    fx::EncodeOptions options { fx::Container::Mp3, fx::SampleFormat::S16, kbps, {} };
    options.vbrQuality = quality;
    options.xingHeader = xing;
    return options;
}

std::string withoutLeadingTag(std::string bytes)
{
    if (bytes.size() < 10 || bytes.compare(0, 3, "ID3") != 0)
        return bytes;
    std::size_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)]) & 0x7Fu);
    return bytes.substr(size + 10);
}

// The fixtures, written once for the whole test binary.
class Fixtures {
public:
    static Fixtures& get()
    {
        static Fixtures fixtures;
        return fixtures;
    }

    // An empty string when no encoder for it is at hand.
    std::filesystem::path path(const std::string& name)
    {
        if (const auto found = m_paths.find(name); found != m_paths.end())
            return found->second;
        std::filesystem::path made = make(name);
        m_paths[name] = made;
        return made;
    }

    const fx::Signal& dance() const { return m_dance; }

private:
    std::filesystem::path make(const std::string& name)
    {
        if (!fx::encoderAvailable(fx::Container::Mp3))
            return {};
        const auto path = m_folder / name;
        const std::map<std::string, fx::EncodeOptions> encodings = { { "v0.mp3", mp3(0, 0, true) },
            { "v0-no-xing.mp3", mp3(0, 0, false) }, { "v2.mp3", mp3(0, 2, true) },
            { "v2-no-xing.mp3", mp3(0, 2, false) }, { "cbr320.mp3", mp3(320, -1, true) },
            { "damaged.flac", { fx::Container::Flac, fx::SampleFormat::S16, 0, {} } } };
        std::string error;
        if (const auto encoding = encodings.find(name); encoding != encodings.end())
            error = fx::writeAudioFile(path, m_dance, encoding->second);
        else if (name == "cbr320-then-128.mp3") {
            // A 320 kbps encode with its Info frame, then a 128 kbps encode of the rest.
            const std::size_t split = 30 * kRate * 2;
            fx::Signal head = m_dance;
            head.samples.resize(split);
            fx::Signal tail = m_dance;
            tail.samples.erase(tail.samples.begin(), tail.samples.begin() + static_cast<std::ptrdiff_t>(split));
            error = fx::writeAudioFile(m_folder / "head.mp3", head, mp3(320, -1, true));
            if (error.empty())
                error = fx::writeAudioFile(m_folder / "tail.mp3", tail, mp3(128, -1, false));
            writeText(
                path, readText(m_folder / "head.mp3") + withoutLeadingTag(readText(m_folder / "tail.mp3")));
        }
        return error.empty() ? path : std::filesystem::path();
    }

    FixtureFolder m_folder;
    fx::Signal m_dance = fx::makeDanceLike(kFrames, kRate, 2, 15);
    std::map<std::string, std::filesystem::path> m_paths;
};

std::vector<float> channelOf(const fx::Signal& signal, int channel)
{
    std::vector<float> samples(signal.frames());
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = signal.samples[i * static_cast<std::size_t>(signal.channels) + static_cast<std::size_t>(channel)];
    return samples;
}

// How many of the frames read differ from the reference at `position`.
std::size_t mismatches(std::span<const float> read, const std::vector<float>& reference, std::uint64_t position)
{
    std::size_t different = 0;
    for (std::size_t i = 0; i < read.size(); ++i) {
        const std::size_t at = static_cast<std::size_t>(position) + i;
        if (at >= reference.size() || read[i] != reference[at])
            ++different;
    }
    return different;
}

// Where within a few frames of `position` the frames read do match the reference, for the
// failure message; -1 when nowhere.
long matchingShift(std::span<const float> read, const std::vector<float>& reference, std::uint64_t position)
{
    for (long shift = -6000; shift <= 6000; ++shift) {
        const long at = static_cast<long>(position) + shift;
        if (at >= 0 && mismatches(read.subspan(0, 2000), reference, static_cast<std::uint64_t>(at)) == 0)
            return shift;
    }
    return -1;
}

// The first channel of a full decode through the decoder, from the start to the end: where
// the decoder dropped a damaged frame, silence keeps the later ones in place.
std::vector<float> readWhole(const std::filesystem::path& path)
{
    std::vector<float> samples;
    auto decoder = openAudioFile(path);
    if (!decoder)
        return samples;
    AudioBuffer buffer(2, 16384);
    for (;;) {
        auto read = (*decoder)->read(16384, buffer);
        if (!read || *read == 0)
            return samples;
        samples.insert(samples.end(), buffer.channel(0).begin(), buffer.channel(0).end());
    }
}

// Excerpt positions the analysis names, and two more between them.
std::vector<ExcerptRange> positionsFor(std::uint64_t length)
{
    auto positions = SpectrumAnalyzer::excerpts(length);
    positions.push_back({ length / 2 + 777, 16384 });
    positions.push_back({ length / 5 + 1, 16384 });
    return positions;
}

// Every excerpt the analysis would read through `decoder`, and two more, holds the reference's frames.
void expectExcerptsMatch(AudioDecoder& decoder, const std::vector<float>& reference)
{
    AudioBuffer buffer(2, 16384);
    for (const ExcerptRange& excerpt : positionsFor(decoder.lengthInFrames())) {
        ASSERT_TRUE(decoder.seek(excerpt.position));
        ASSERT_TRUE(decoder.read(excerpt.frames, buffer));
        EXPECT_EQ(mismatches(buffer.channel(0), reference, excerpt.position), 0u)
            << excerpt.position << " matches at a shift of "
            << matchingShift(buffer.channel(0), reference, excerpt.position);
    }
}

class ExactExcerptTest : public testing::TestWithParam<std::string> { };

} // namespace

TEST_P(ExactExcerptTest, EveryExcerptEqualsAFullDecodeSampleForSample)
{
    const auto path = Fixtures::get().path(GetParam());
    if (path.empty())
        GTEST_SKIP() << "no MP3 encoder";
    const fx::DecodedAudio full = fx::decodeToFloat(path);
    ASSERT_TRUE(full.ok()) << full.error;
    const std::vector<float> left = channelOf(full.signal, 0);
    const std::vector<float> right = channelOf(full.signal, 1);

    auto opened = openAudioFile(path);
    ASSERT_TRUE(opened) << opened.error().description;
    AudioDecoder& decoder = **opened;
    AudioBuffer buffer(2, 16384);
    // Forward, then back again, as the analysis and a second look would go.
    auto positions = positionsFor(decoder.lengthInFrames());
    positions.push_back(positions[1]);
    for (const ExcerptRange& excerpt : positions) {
        ASSERT_TRUE(decoder.seek(excerpt.position));
        auto read = decoder.read(excerpt.frames, buffer);
        ASSERT_TRUE(read) << read.error().description;
        ASSERT_EQ(*read, excerpt.frames) << excerpt.position;
        EXPECT_EQ(mismatches(buffer.channel(0), left, excerpt.position), 0u)
            << GetParam() << ": excerpt at " << excerpt.position << " of " << left.size() << " matches at a shift of "
            << matchingShift(buffer.channel(0), left, excerpt.position);
        EXPECT_EQ(mismatches(buffer.channel(1), right, excerpt.position), 0u) << excerpt.position;
    }
}

INSTANTIATE_TEST_SUITE_P(DanceTracks, ExactExcerptTest,
    testing::Values("v0.mp3", "v0-no-xing.mp3", "v2.mp3", "v2-no-xing.mp3", "cbr320.mp3", "cbr320-then-128.mp3"),
    [](const testing::TestParamInfo<std::string>& param) {
        std::string name = param.param.substr(0, param.param.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

namespace {

// Reads a copy of `bytes`, as a file's reader would.
ByteReader memoryReader(std::string bytes)
{
    return [bytes = std::move(bytes)](std::uint64_t offset, std::span<std::uint8_t> buffer) -> std::size_t {
        const std::size_t count
            = offset < bytes.size() ? std::min<std::size_t>(buffer.size(), bytes.size() - offset) : 0;
        std::copy_n(bytes.data() + offset, count, reinterpret_cast<char*>(buffer.data()));
        return count;
    };
}

std::optional<Mp3Frames> framesOf(const std::filesystem::path& path)
{
    const std::string bytes = readText(path);
    return Mp3Frames::read(memoryReader(bytes), bytes.size() - withoutLeadingTag(bytes).size(), bytes.size());
}

} // namespace

TEST(Mp3FramesTest, OnlyAStreamWhoseFramesAgreeIsTakenForConstant)
{
    auto& fixtures = Fixtures::get();
    if (fixtures.path("cbr320.mp3").empty())
        GTEST_SKIP() << "no MP3 encoder";
    struct Case {
        const char* name;
        bool constant;
        int claimed;
    };
    // The concatenation's Info frame states the 320 kbps part's counts only.
    for (const Case c : { Case { "cbr320.mp3", true, 320 }, Case { "cbr320-then-128.mp3", false, 320 },
             Case { "v0.mp3", false, 0 }, Case { "v0-no-xing.mp3", false, 0 } }) {
        auto frames = framesOf(fixtures.path(c.name));
        ASSERT_TRUE(frames) << c.name;
        EXPECT_EQ(frames->provenConstant(), c.constant) << c.name;
        if (c.claimed > 0) {
            EXPECT_EQ(frames->claimedBitrateKbps(), c.claimed) << c.name;
        }
        // A constant stream is placed by arithmetic, the others by walking to the frame.
        const auto offset = frames->offsetOf(1000);
        ASSERT_TRUE(offset) << c.name;
        EXPECT_EQ(frames->walkedFrames(), c.constant ? 0u : 1000u) << c.name;
    }
    // A V0 file's Xing frame states its average.
    const auto v0 = framesOf(fixtures.path("v0.mp3"));
    ASSERT_TRUE(v0 && v0->info());
    const double seconds = static_cast<double>(v0->info()->frames) * 1152 / kRate;
    EXPECT_NEAR(v0->claimedBitrateKbps(), v0->info()->bytes * 8 / seconds / 1000, 0.5);
    EXPECT_GT(v0->claimedBitrateKbps(), 160);
}

TEST(Mp3FramesTest, AnAverageNoStreamCanHaveIsNoClaim)
{
    // 1,152-sample frames at 44.1 kHz: 38.28 frames a second.
    const Mp3FrameHeader mpeg1 { 1, 3, 128, 44100, 0, 417, 1152, 0 };
    const auto average = [&](std::uint32_t frames, std::uint32_t bytes, const Mp3FrameHeader& header) {
        return statedAverageKbps(Mp3InfoFrame { false, frames, bytes, {}, 0 }, header);
    };
    EXPECT_EQ(average(11484, 9600000, mpeg1), 256); // 300 s at 256 kbps
    EXPECT_EQ(average(11484, 12000000, mpeg1), 320);
    // A damaged Xing frame: one frame of 9 MB, or 300 s of 100 bytes.
    EXPECT_EQ(average(1, 9600000, mpeg1), std::nullopt);
    EXPECT_EQ(average(11484, 100, mpeg1), std::nullopt);
    // MPEG-2 goes down to 8 kbps and up to 160.
    const Mp3FrameHeader mpeg2 { 2, 3, 64, 22050, 0, 209, 576, 0 };
    EXPECT_EQ(average(11484, 300000, mpeg2), 8);
    EXPECT_EQ(average(11484, 9600000, mpeg2), std::nullopt);
}

TEST(Mp3FramesTest, DamageOrJunkEndsTheWalkInsteadOfMiscounting)
{
    auto& fixtures = Fixtures::get();
    if (fixtures.path("v0.mp3").empty())
        GTEST_SKIP() << "no MP3 encoder";
    FixtureFolder folder;
    std::string bytes = readText(fixtures.path("v0.mp3"));
    auto intact = framesOf(fixtures.path("v0.mp3"));
    ASSERT_TRUE(intact);
    const auto frame500 = *intact->offsetOf(500);
    bytes[frame500] = 'X';
    writeText(folder / "broken.mp3", bytes);
    auto broken = framesOf(folder / "broken.mp3");
    ASSERT_TRUE(broken);
    EXPECT_TRUE(broken->offsetOf(499));
    EXPECT_FALSE(broken->offsetOf(500));
    EXPECT_FALSE(broken->offsetOf(800));

    // Every excerpt is still where a full decode has it: up to the damage, where FFmpeg's own
    // decode has it too.
    const std::vector<float> reference = readWhole(folder / "broken.mp3");
    const fx::DecodedAudio full = fx::decodeToFloat(folder / "broken.mp3");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(mismatches(std::span(reference).first(400 * 1152), channelOf(full.signal, 0), 0), 0u);
    auto decoder = openAudioFile(folder / "broken.mp3");
    ASSERT_TRUE(decoder);
    expectExcerptsMatch(**decoder, reference);
}

TEST(ExactExcerptTest, FlacWithADamagedFrameKeepsEveryLaterFrameInItsPlace)
{
    auto& fixtures = Fixtures::get();
    const auto source = fixtures.path("damaged.flac");
    if (source.empty())
        GTEST_SKIP() << "no MP3 encoder";
    FixtureFolder folder;
    std::string bytes = readText(source);
    const ByteReader reader = memoryReader(bytes);
    const auto stream = readFlacStreamInfo(reader, 0, bytes.size());
    ASSERT_TRUE(stream);
    // Scribble over the middle of a frame before the first third.
    const auto frame = findFlacFrame(reader, bytes.size(), *stream, kFrames / 5);
    ASSERT_TRUE(frame);
    for (std::size_t i = 200; i < 400; ++i)
        bytes[frame->offset + i] = static_cast<char>(i * 37);
    writeText(folder / "damaged.flac", bytes);

    const std::vector<float> reference = readWhole(folder / "damaged.flac");
    ASSERT_EQ(reference.size(), kFrames);
    // Where the damage left nothing to decode, silence; everything else is the signal as encoded.
    const std::vector<float> left = channelOf(fixtures.dance(), 0);
    for (std::size_t i = 0; i < kFrames; i += 997) {
        const bool inDamagedFrame = i >= frame->sample && i < frame->sample + stream->maxBlockSize;
        if (!inDamagedFrame) {
            ASSERT_NEAR(reference[i], left[i], 1.0 / 32768) << i;
        }
    }

    auto decoder = openAudioFile(folder / "damaged.flac");
    ASSERT_TRUE(decoder);
    ASSERT_EQ((*decoder)->lengthInFrames(), kFrames);
    expectExcerptsMatch(**decoder, reference);
}
