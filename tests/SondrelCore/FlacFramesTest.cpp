#include "FlacFrames.h"
#include "AudioIo.h"
#include "FixtureFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

using namespace sondrel::core;
namespace fx = sondrel::fixtures;

namespace {

constexpr int kRate = 44100;

// A FLAC file held in memory, read through the locator's reader, which counts what it reads.
struct FlacBytes {
    std::vector<std::uint8_t> bytes;
    std::uint64_t read = 0;

    ByteReader reader()
    {
        return [this](std::uint64_t offset, std::span<std::uint8_t> buffer) -> std::size_t {
            if (offset >= bytes.size())
                return 0;
            const std::size_t count = std::min<std::size_t>(buffer.size(), bytes.size() - offset);
            std::memcpy(buffer.data(), bytes.data() + offset, count);
            read += count;
            return count;
        };
    }
};

const FlacBytes& encodedMusic()
{
    static const FlacBytes flac = [] {
        sondrel::test::FixtureFolder folder;
        const auto path = folder / "music.flac";
        const fx::Signal music = fx::makeMusicLike(20 * kRate, kRate, 2, 5);
        if (!fx::writeAudioFile(path, music, { fx::Container::Flac, fx::SampleFormat::S16, 0, {} }).empty())
            std::abort();
        std::ifstream in(path, std::ios::binary);
        return FlacBytes { { std::istreambuf_iterator<char>(in), {} } };
    }();
    return flac;
}

} // namespace

TEST(FlacFramesTest, FindsAFrameAtOrJustBeforeEachSampleReadingAFewSmallWindowsNeverTheNextOne)
{
    FlacBytes flac = encodedMusic();
    const auto stream = readFlacStreamInfo(flac.reader(), 0, flac.bytes.size());
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->sampleRate, 44100u);
    EXPECT_EQ(stream->channels, 2u);
    EXPECT_EQ(stream->totalSamples, 20u * kRate);

    for (std::uint64_t sample : { std::uint64_t { 0 }, std::uint64_t { 4607 }, std::uint64_t { 4608 },
             std::uint64_t { 293999 }, std::uint64_t { 588000 }, stream->totalSamples - 1 }) {
        flac.read = 0;
        const auto found = findFlacFrame(flac.reader(), flac.bytes.size(), *stream, sample);
        ASSERT_TRUE(found) << sample;
        EXPECT_LE(found->sample, sample);
        EXPECT_LT(sample - found->sample, 3u * stream->maxBlockSize) << sample;
        const auto header = parseFlacFrameHeader(std::span(flac.bytes).subspan(found->offset), *stream);
        ASSERT_TRUE(header) << "no frame starts where the locator says, for " << sample;
        EXPECT_EQ(header->sample, found->sample);
        EXPECT_LT(flac.read, flac.bytes.size() / 10) << sample;
    }
    // The last sample of every frame: the next frame, one sample after it, is never taken.
    for (std::uint64_t sample = stream->maxBlockSize - 1; sample < stream->totalSamples;
         sample += stream->maxBlockSize) {
        const auto found = findFlacFrame(flac.reader(), flac.bytes.size(), *stream, sample);
        ASSERT_TRUE(found) << sample;
        ASSERT_LE(found->sample, sample);
    }
}

TEST(FlacFramesTest, DamagedAudioNeverLeadsPastTheSample)
{
    FlacBytes flac = encodedMusic();
    const auto stream = readFlacStreamInfo(flac.reader(), 0, flac.bytes.size());
    ASSERT_TRUE(stream);
    // Random bytes over the middle third, where a bisection for the middle looks first.
    std::mt19937 random(7);
    const std::size_t third = flac.bytes.size() / 3;
    std::generate(flac.bytes.begin() + static_cast<std::ptrdiff_t>(third),
        flac.bytes.begin() + static_cast<std::ptrdiff_t>(2 * third), [&] { return static_cast<std::uint8_t>(random()); });
    for (std::uint64_t sample : { stream->totalSamples / 2, stream->totalSamples - 1000 }) {
        const auto found = findFlacFrame(flac.reader(), flac.bytes.size(), *stream, sample);
        ASSERT_TRUE(found);
        EXPECT_LE(found->sample, sample);
        const auto header = parseFlacFrameHeader(std::span(flac.bytes).subspan(found->offset), *stream);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->sample, found->sample);
    }
}

TEST(FlacFramesTest, WhatIsNotAWholeFlacStreamGivesNoAnswer)
{
    const FlacBytes& good = encodedMusic();
    const auto stream = readFlacStreamInfo(FlacBytes(good).reader(), 0, good.bytes.size());
    ASSERT_TRUE(stream);
    // Cut inside the metadata, a block length past the end, no stated length, random bytes.
    FlacBytes cut { { good.bytes.begin(), good.bytes.begin() + 30 } };
    EXPECT_FALSE(readFlacStreamInfo(cut.reader(), 0, cut.bytes.size()));
    FlacBytes pastEnd { { good.bytes.begin(), good.bytes.begin() + static_cast<std::ptrdiff_t>(stream->firstFrame) } };
    EXPECT_FALSE(readFlacStreamInfo(pastEnd.reader(), 0, pastEnd.bytes.size()));
    FlacStreamInfo unstated = *stream;
    unstated.totalSamples = 0;
    FlacBytes copy = good;
    EXPECT_FALSE(findFlacFrame(copy.reader(), copy.bytes.size(), unstated, 1000));
    EXPECT_FALSE(findFlacFrame(copy.reader(), copy.bytes.size(), *stream, stream->totalSamples));

    std::mt19937 random(3);
    FlacBytes noise { std::vector<std::uint8_t>(200000) };
    std::generate(noise.bytes.begin(), noise.bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    std::memcpy(noise.bytes.data(), good.bytes.data(), static_cast<std::size_t>(stream->firstFrame) + 16);
    const auto noisy = readFlacStreamInfo(noise.reader(), 0, noise.bytes.size());
    ASSERT_TRUE(noisy);
    for (std::uint64_t sample : { std::uint64_t { 5000 }, std::uint64_t { 100000 }, stream->totalSamples - 1 }) {
        const auto found = findFlacFrame(noise.reader(), noise.bytes.size(), *noisy, sample);
        ASSERT_TRUE(found);
        EXPECT_LE(found->sample, sample);
    }
}
