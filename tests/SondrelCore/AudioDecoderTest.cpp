#include "AudioDecoder.h"
#include "AudioIo.h"
#include "FilePrefetcher.h"
#include "ReadAheadHandoff.h"
#include "FixtureFolder.h"
#include "SpectrogramGenerator.h"
#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>

using namespace sondrel::core;
namespace fx = sondrel::fixtures;
using sondrel::test::FixtureFolder;

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kFrames = 3 * kRate;

struct FormatCase {
    const char* name;
    fx::EncodeOptions options;
    // How far a decode may differ in length from the full decode: 0 where the codec is exact.
    int alignment;
    // How far a seek may land from the frame asked for: a constant-bitrate MP3 is reached
    // through its frame size, to within 0.1 s.
    int tolerance = 0;
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.name;
}

const fx::Signal& music()
{
    static const fx::Signal signal = fx::makeMusicLike(kFrames, kRate, 2, 11);
    return signal;
}

std::vector<float> firstChannel(const fx::Signal& signal)
{
    std::vector<float> channel(signal.frames());
    for (std::size_t i = 0; i < channel.size(); ++i)
        channel[i] = signal.samples[i * static_cast<std::size_t>(signal.channels)];
    return channel;
}

double meanSquareError(std::span<const float> a, std::span<const float> b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

class AudioDecoderFormatTest : public testing::TestWithParam<FormatCase> { };

} // namespace

TEST_P(AudioDecoderFormatTest, SeeksAndReadsTheSameFramesAsAFullDecode)
{
    const FormatCase& c = GetParam();
    if (!fx::encoderAvailable(c.options.container))
        GTEST_SKIP() << "no encoder for " << c.name;
    FixtureFolder folder;
    const auto path = folder / (std::string("music") + std::string(fx::fileExtension(c.options.container)));
    ASSERT_EQ(fx::writeAudioFile(path, music(), c.options), "");
    const fx::DecodedAudio reference = fx::decodeToFloat(path);
    ASSERT_TRUE(reference.ok()) << reference.error;
    const std::vector<float> expected = firstChannel(reference.signal);

    auto opened = openAudioFile(path);
    ASSERT_TRUE(opened) << opened.error().description;
    AudioDecoder& decoder = **opened;
    EXPECT_EQ(decoder.sampleRate(), kRate);
    EXPECT_EQ(decoder.channelCount(), 2);
    if (c.alignment == 0) {
        EXPECT_EQ(decoder.lengthInFrames(), kFrames);
    }
    // A lossy container's length is its estimate, which counts the encoder's delay and
    // padding: within two codec frames of what decodes.
    EXPECT_NEAR(static_cast<double>(decoder.lengthInFrames()), static_cast<double>(expected.size()),
        2.0 * c.alignment);

    AudioBuffer buffer(2, 16384);
    // Forward, backward, to the start again, and into the last frames.
    for (std::uint64_t position : { std::uint64_t { 0 }, std::uint64_t { 44100 }, std::uint64_t { 20001 },
             std::uint64_t { 0 }, std::uint64_t { 90001 }, std::uint64_t { kFrames - 12000 } }) {
        ASSERT_TRUE(decoder.seek(position));
        auto read = decoder.read(16384, buffer);
        ASSERT_TRUE(read) << read.error().description;
        const std::size_t available = expected.size() - position;
        if (c.alignment == 0) {
            ASSERT_EQ(*read, std::min<std::size_t>(16384, available)) << position;
            EXPECT_TRUE(std::equal(buffer.channel(0).begin(), buffer.channel(0).end(),
                expected.begin() + static_cast<std::ptrdiff_t>(position)))
                << "frames differ after a seek to " << position;
            continue;
        }
        // A lossy decoder restarts after a seek: judge the samples after its first frames,
        // and find the offset that matches the full decode best.
        ASSERT_GE(*read, std::min<std::size_t>(16384, available) - static_cast<std::size_t>(c.alignment));
        const std::size_t skip = 4096;
        const int reach = c.alignment + c.tolerance;
        const std::size_t span = std::min<std::size_t>(
            std::min<std::size_t>(*read, available) - skip - static_cast<std::size_t>(reach), 1024);
        int bestOffset = 0;
        double bestError = INFINITY;
        for (int offset = -reach; offset <= reach; ++offset) {
            const auto start = static_cast<std::ptrdiff_t>(position + skip) + offset;
            if (start < 0)
                continue;
            const double error = meanSquareError(buffer.channel(0).subspan(skip, span),
                std::span(expected).subspan(static_cast<std::size_t>(start), span));
            if (error < bestError)
                bestError = error, bestOffset = offset;
        }
        EXPECT_LE(std::abs(bestOffset), c.tolerance)
            << "seek to " << position << " landed off by " << bestOffset;
        EXPECT_LT(bestError, 1e-6) << position;

        // The same seek in a fresh decoder lands on the same frame.
        auto again = openAudioFile(path);
        AudioBuffer other(2, 16384);
        ASSERT_TRUE((*again)->seek(position));
        ASSERT_EQ(*(*again)->read(16384, other), *read);
        EXPECT_LT(meanSquareError(other.channel(0).subspan(skip), buffer.channel(0).subspan(skip)), 1e-9);
    }

    // Reading on past the end delivers what is left, then nothing.
    ASSERT_TRUE(decoder.seek(expected.size() - 100));
    EXPECT_NEAR(static_cast<double>(*decoder.read(16384, buffer)), 100.0, c.alignment + c.tolerance);
    EXPECT_EQ(*decoder.read(16384, buffer), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, AudioDecoderFormatTest,
    testing::Values(FormatCase { "wav", { fx::Container::Wav, fx::SampleFormat::S16, 0, {} }, 0 },
        FormatCase { "wav-float", { fx::Container::Wav, fx::SampleFormat::F32, 0, {} }, 0 },
        FormatCase { "aiff", { fx::Container::Aiff, fx::SampleFormat::S16, 0, {} }, 0 },
        FormatCase { "flac", { fx::Container::Flac, fx::SampleFormat::S16, 0, {} }, 0 },
        FormatCase { "flac-24", { fx::Container::Flac, fx::SampleFormat::S24, 0, {} }, 0 },
        FormatCase { "mp3", { fx::Container::Mp3, fx::SampleFormat::S16, 320, {} }, 1152, 2304 },
        // Through the Xing table: a hundred points, each a 256th of the file's bytes.
        FormatCase { "mp3-vbr", { fx::Container::Mp3, fx::SampleFormat::S16, 0, {}, 0 }, 1152, 4410 },
        FormatCase { "m4a", { fx::Container::M4a, fx::SampleFormat::S16, 256, {} }, 1024 }),
    [](const testing::TestParamInfo<FormatCase>& param) {
        std::string name = param.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(AudioDecoderTest, BadInputGivesAClearErrorNeverACrash)
{
    FixtureFolder folder;
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return folder / name;
    };
    std::string randomBytes(200000, '\0');
    std::mt19937 random(3);
    for (char& byte : randomBytes)
        byte = static_cast<char>(random());
    std::filesystem::create_directory(folder / "folder.mp3");

    struct Case {
        std::filesystem::path path;
        std::string error;
    };
    const Case cases[] = {
        { folder / "missing.wav", "No such file or directory" },
        { write("empty.mp3", ""), "Invalid data found when processing input" },
        { write("random.mp3", randomBytes), "Invalid data found when processing input" },
        { write("text.flac", std::string(5000, 'x')), "Invalid data found when processing input" },
        { folder / "folder.mp3", "Is a directory" },
    };
    for (const Case& c : cases) {
        auto decoder = openAudioFile(c.path);
        if (decoder) {
            // Some junk opens as a stream; then analysing it must still fail cleanly.
            auto analyzer = SpectrumAnalyzer::make();
            auto result = analyzer->analyze(**decoder);
            EXPECT_FALSE(result) << c.path;
            continue;
        }
        EXPECT_EQ(decoder.error().description, c.error) << c.path;
    }
}

TEST(AudioDecoderTest, OddFileNamesAreOpenedAsGiven)
{
    FixtureFolder folder;
    const fx::Signal tone = fx::makeTone(8192, kRate, 1, 1);
    for (const std::string name :
        { "a:b.wav", "file:x.wav", "100% ?#.wav", "caf\xC3\xA9.wav", "bad\xFF\xFE.wav", "-dash.wav" }) {
        const auto path = folder / name;
        ASSERT_EQ(fx::writeAudioFile(folder / "plain.wav", tone, {}), "");
        std::filesystem::rename(folder / "plain.wav", path);
        auto decoder = openAudioFile(path);
        ASSERT_TRUE(decoder) << name << ": " << decoder.error().description;
        EXPECT_EQ((*decoder)->lengthInFrames(), 8192u) << name;
    }
}

TEST(AudioDecoderTest, FlacWithThirtyTwoBitSamplesIsRefused)
{
    // A hand-made STREAMINFO declaring 32 bits per sample, which this decoder cannot read.
    std::string bytes = "fLaC";
    const unsigned char header[] = { 0x80, 0x00, 0x00, 0x22 };
    bytes.append(reinterpret_cast<const char*>(header), sizeof header);
    std::uint8_t info[34] = {};
    info[0] = 0x10; // min block size 4096
    info[2] = 0x10; // max block size 4096
    // sample rate 44100 (20 bits), channels - 1 = 1 (3 bits), bits - 1 = 31 (5 bits),
    // total samples 100000 (36 bits)
    const std::uint64_t packed = (std::uint64_t { 44100 } << 44) | (std::uint64_t { 1 } << 41)
        | (std::uint64_t { 31 } << 36) | 100000;
    for (int i = 0; i < 8; ++i)
        info[10 + i] = static_cast<std::uint8_t>(packed >> (56 - 8 * i));
    bytes.append(reinterpret_cast<const char*>(info), sizeof info);
    bytes.append(std::string(20000, '\x55'));
    FixtureFolder folder;
    std::ofstream(folder / "deep.flac", std::ios::binary) << bytes;

    auto analyzer = SpectrumAnalyzer::make();
    auto result = analyzer->analyzeFileComplete(folder / "deep.flac");
    ASSERT_FALSE(result);
    EXPECT_FALSE(result.error().description.empty());
}

namespace {

// Bytes this process has read so far, page cache included.
std::uint64_t bytesReadByProcess()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

// Every path that opens audio: the analysis, the quick screen and the spectrogram.
std::vector<std::string> errorsOfEveryPath(const std::filesystem::path& path)
{
    std::vector<std::string> errors;
    auto analyzer = SpectrumAnalyzer::make();
    auto analysis = analyzer->analyzeFileComplete(path);
    errors.push_back(analysis ? "" : analysis.error().description);
    auto screen = analyzer->quickScreen(path);
    errors.push_back(screen ? "" : screen.error().description);
    auto spectrogram = SpectrogramGenerator(4096, 2000).generate(path, {});
    errors.push_back(spectrogram ? "" : spectrogram.error().description);
    return errors;
}

} // namespace

TEST(AudioDecoderTest, WhatIsNotARegularFileIsRefusedWithoutWaiting)
{
    FixtureFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe.mp3").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder / "zero.mp3");
    std::filesystem::create_symlink("/dev/urandom", folder / "random.flac");
    std::filesystem::create_symlink(folder / "pipe.mp3", folder / "link-to-pipe.wav");
    for (const char* name : { "pipe.mp3", "zero.mp3", "random.flac", "link-to-pipe.wav" }) {
        for (const std::string& error : errorsOfEveryPath(folder / name))
            EXPECT_EQ(error, "Not a regular file") << name;
    }
}

TEST(AudioDecoderTest, ZerosWhereAudioShouldBeEndInAnErrorAfterBoundedWork)
{
    if (!fx::encoderAvailable(fx::Container::Mp3))
        GTEST_SKIP() << "no MP3 encoder";
    FixtureFolder folder;
    const fx::Signal five = fx::makeMusicLike(5 * kRate, kRate, 2, 4);
    fx::EncodeOptions withCount { fx::Container::Mp3, fx::SampleFormat::S16, 128, {} };
    fx::EncodeOptions withoutCount = withCount;
    withoutCount.xingHeader = false;
    ASSERT_EQ(fx::writeAudioFile(folder / "counted.mp3", five, withCount), "");
    ASSERT_EQ(fx::writeAudioFile(folder / "uncounted.mp3", five, withoutCount), "");
    // An unfinished download: its first 10 KB, then zeros; sparse files cost no disk.
    const auto sparse = [&](const std::string& name, const std::filesystem::path& head, std::uintmax_t size) {
        const auto path = folder / name;
        if (!head.empty())
            std::filesystem::copy_file(head, path);
        std::ofstream(path, std::ios::app).flush();
        std::filesystem::resize_file(path, 10000);
        std::filesystem::resize_file(path, size);
        return path;
    };
    const std::uintmax_t gigabyte = 1u << 30;
    for (const auto& path : { sparse("zeros.mp3", {}, gigabyte),
             sparse("counted-then-zeros.mp3", folder / "counted.mp3", gigabyte),
             sparse("uncounted-then-zeros.mp3", folder / "uncounted.mp3", gigabyte),
             sparse("huge.mp3", {}, 50 * gigabyte) }) {
        const std::uint64_t before = bytesReadByProcess();
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& error : errorsOfEveryPath(path))
            EXPECT_EQ(error, "Invalid data found when processing input") << path.filename();
        // Three passes; a pass buffers no more than it reads.
        EXPECT_LT(bytesReadByProcess() - before, 3u * (40u << 20)) << path.filename();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << path.filename();
    }
}

TEST(AudioDecoderTest, AnEstimatedLengthIsReplacedByTheCountedOne)
{
    if (!fx::encoderAvailable(fx::Container::Mp3) || !fx::encoderAvailable(fx::Container::M4a))
        GTEST_SKIP() << "no lossy encoders";
    // A quiet intro makes the first frames small, and FFmpeg's estimate from their bitrate
    // several times too long.
    fx::Signal signal = fx::makeMusicLike(12 * kRate, kRate, 2, 8);
    std::fill_n(signal.samples.begin(), 4 * kRate * 2, 0.0f);
    FixtureFolder folder;
    fx::EncodeOptions vbr { fx::Container::Mp3, fx::SampleFormat::S16, 0, {} };
    vbr.vbrQuality = 0;
    vbr.xingHeader = false;
    fx::EncodeOptions adts { fx::Container::M4a, fx::SampleFormat::S16, 192, {} };
    adts.adts = true;
    ASSERT_EQ(fx::writeAudioFile(folder / "vbr.mp3", signal, vbr), "");
    ASSERT_EQ(fx::writeAudioFile(folder / "raw.aac", signal, adts), "");
    for (const char* name : { "vbr.mp3", "raw.aac" }) {
        const fx::DecodedAudio reference = fx::decodeToFloat(folder / name);
        ASSERT_TRUE(reference.ok()) << reference.error;
        auto decoder = openAudioFile(folder / name);
        ASSERT_TRUE(decoder) << name;
        EXPECT_EQ((*decoder)->lengthInFrames(), reference.signal.frames()) << name;
        // The last frames are where the length says.
        AudioBuffer buffer(2, 16384);
        ASSERT_TRUE((*decoder)->seek((*decoder)->lengthInFrames() - 1000));
        EXPECT_EQ(*(*decoder)->read(16384, buffer), 1000u) << name;

        auto analyzer = SpectrumAnalyzer::make();
        auto result = analyzer->analyzeFileComplete(folder / name);
        ASSERT_TRUE(result) << name << ": " << result.error().description;
        EXPECT_EQ(result->metrics.sampleCount, 49152) << name;
        EXPECT_GT(result->cutoff, 15000.0f) << name;
    }
}

namespace {

// A value of /proc/self/status in KiB ("VmRSS:", "VmHWM:").
long statusKib(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string word;
    long value = 0;
    while (status >> word) {
        if (word == key && status >> value)
            return value;
    }
    return 0;
}

// An MP3's bytes behind its leading tag.
std::string audioBehindTag(const std::filesystem::path& path)
{
    const std::string mp3 = sondrel::test::readText(path);
    if (mp3.compare(0, 3, "ID3") != 0)
        return mp3;
    return mp3.substr(10
        + ((std::size_t(mp3[6]) << 21) | (std::size_t(mp3[7]) << 14) | (std::size_t(mp3[8]) << 7)
            | std::size_t(mp3[9])));
}

std::string synchsafe(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (21 - 7 * i)) & 0x7Fu);
    return bytes;
}

} // namespace

TEST(AudioDecoderTest, DamagedTablesAndTagsAreNamedInWordsAUserCanActOn)
{
    if (!fx::encoderAvailable(fx::Container::Mp3) || !fx::encoderAvailable(fx::Container::M4a))
        GTEST_SKIP() << "no lossy encoders";
    FixtureFolder folder;
    const fx::Signal music = fx::makeMusicLike(3 * kRate, kRate, 2, 5);
    fx::EncodeOptions untagged { fx::Container::Mp3, fx::SampleFormat::S16, 128, {} };
    ASSERT_EQ(fx::writeAudioFile(folder / "plain.mp3", music, untagged), "");
    ASSERT_EQ(fx::writeAudioFile(folder / "plain.m4a", music, { fx::Container::M4a, fx::SampleFormat::S16, 192, {} }), "");

    // A tag whose size runs past the end of the file.
    std::ofstream(folder / "long-tag.mp3", std::ios::binary)
        << std::string("ID3\x04\x00\x00", 6) + synchsafe(0x0FFFFFFF) + audioBehindTag(folder / "plain.mp3");
    // An M4A whose chunk offset table claims 2^28 entries.
    std::string m4a = sondrel::test::readText(folder / "plain.m4a");
    const std::size_t stco = m4a.find("stco");
    ASSERT_NE(stco, std::string::npos);
    m4a.replace(stco + 8, 4, std::string("\x10\x00\x00\x00", 4));
    std::ofstream(folder / "huge-count.m4a", std::ios::binary) << m4a;

    const std::pair<const char*, const char*> cases[] = {
        { "long-tag.mp3", "The file is damaged: its tag runs past the end of the file" },
        { "huge-count.m4a", "The file is damaged: its sample table cannot be read" },
    };
    for (const auto& [name, message] : cases) {
        for (const std::string& error : errorsOfEveryPath(folder / name))
            EXPECT_EQ(error, message) << name;
    }
}

TEST(AudioDecoderTest, AHugeTagFrameCostsNoMoreMemoryThanTheExcerpts)
{
    if (!fx::encoderAvailable(fx::Container::Mp3))
        GTEST_SKIP() << "no MP3 encoder";
    FixtureFolder folder;
    fx::EncodeOptions options { fx::Container::Mp3, fx::SampleFormat::S16, 128, {} };
    ASSERT_EQ(fx::writeAudioFile(folder / "small.mp3", fx::makeMusicLike(10 * kRate, kRate, 2, 6), options), "");
    const std::string mp3 = audioBehindTag(folder / "small.mp3");
    // An ID3v2.4 tag holding one 80 MB PRIV frame.
    const std::uint32_t frameSize = 80u << 20;
    std::string tag = "PRIV" + synchsafe(frameSize) + std::string(2, '\0') + "owner" + std::string(1, '\0');
    tag.resize(10 + frameSize, '\x5A');
    {
        std::ofstream out(folder / "huge-tag.mp3", std::ios::binary);
        out << std::string("ID3\x04\x00\x00", 6) << synchsafe(static_cast<std::uint32_t>(tag.size())) << tag << mp3;
    }
    tag.clear();
    tag.shrink_to_fit();

    // In a child of its own, so that its peak resident size is this analysis's alone.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        // Resets the peak to what is resident now.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = statusKib("VmRSS:");
        FilePrefetcher::prefetchSync(folder / "huge-tag.mp3");
        auto analyzer = SpectrumAnalyzer::make();
        const bool analysed = analyzer && analyzer->analyzeFileComplete(folder / "huge-tag.mp3");
        const long grown = analysed ? statusKib("VmHWM:") - before : -1;
        (void)!::write(report[1], &grown, sizeof grown);
        ::_exit(0);
    }
    ::close(report[1]);
    long grown = -2;
    EXPECT_EQ(::read(report[0], &grown, sizeof grown), static_cast<ssize_t>(sizeof grown));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_GE(grown, 0) << "the analysis failed";
    EXPECT_LT(grown, 200L * 1024) << "peak grew by " << grown << " KiB";
}

namespace {

std::size_t openDescriptors()
{
    return static_cast<std::size_t>(std::distance(
        std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

} // namespace

TEST(AudioDecoderTest, TheAnalysisTakesOverTheFileTheReadAheadOpened)
{
    ReadAheadHandoff::clear();
    FixtureFolder folder;
    const auto path = folder / "track.wav";
    ASSERT_EQ(fx::writeAudioFile(path, fx::makeMusicLike(kRate, kRate, 2, 7), {}), "");
    AudioBuffer expected(2, 4096);
    {
        auto fresh = openAudioFile(path);
        ASSERT_TRUE(fresh && (*fresh)->seek(1000) && (*fresh)->read(4096, expected));
    }

    const std::size_t before = openDescriptors();
    FilePrefetcher::prefetchSync(path);
    EXPECT_EQ(openDescriptors(), before + 1) << "the read-ahead keeps its file open for the analysis";
    {
        auto taken = openAudioFile(path);
        ASSERT_TRUE(taken);
        EXPECT_EQ(openDescriptors(), before + 1) << "the analysis opened the file a second time";
        AudioBuffer buffer(2, 4096);
        ASSERT_TRUE((*taken)->seek(1000) && (*taken)->read(4096, buffer));
        EXPECT_TRUE(std::equal(buffer.channel(0).begin(), buffer.channel(0).end(), expected.channel(0).begin()));
    }
    EXPECT_EQ(openDescriptors(), before);

    // A file replaced after the read-ahead is opened anew: the analysis judges what is there now.
    FilePrefetcher::prefetchSync(path);
    ASSERT_EQ(fx::writeAudioFile(folder / "other.wav", fx::makeMusicLike(2 * kRate, kRate, 2, 8), {}), "");
    std::filesystem::rename(folder / "other.wav", path);
    auto reopened = openAudioFile(path);
    ASSERT_TRUE(reopened);
    EXPECT_EQ((*reopened)->lengthInFrames(), 2u * kRate);
    ReadAheadHandoff::clear();
}
