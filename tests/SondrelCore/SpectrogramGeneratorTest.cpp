#include "SpectrogramGenerator.h"
#include "FakeDecoder.h"
#include "SpectrogramImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace sondrel::core;
using sondrel::test::FakeDecoder;

namespace {

float silence(int, std::uint64_t)
{
    return 0.0f;
}

SpectrogramGenerator standardGenerator()
{
    return SpectrogramGenerator(4096, 2000);
}

} // namespace

TEST(SpectrogramGeneratorTest, LengthDecidesRowsAndErrors)
{
    const auto generator = standardGenerator();
    FakeDecoder empty(0, 44100, 1, silence);
    EXPECT_EQ(generator.generate(empty).error().description, "Audio file is empty");
    FakeDecoder tooShort(4095, 44100, 1, silence);
    EXPECT_EQ(generator.generate(tooShort).error().description, "Audio file is too short");

    FakeDecoder oneFrame(4096, 44100, 1, silence);
    auto data = generator.generate(oneFrame);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->timeSlices(), 1);
    EXPECT_EQ(data->frequencyBins(), 2048);
    EXPECT_NEAR(data->duration, 4096.0 / 44100.0, 1e-12);

    // Five minutes: hop 6615, 2000 rows.
    FakeDecoder fiveMinutes(13230000, 44100, 1, silence);
    data = generator.generate(fiveMinutes);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->timeSlices(), 2000);
}

TEST(SpectrogramGeneratorTest, SilenceReadsAtTheFloorOfTheAnalysisScaling)
{
    FakeDecoder decoder(8192, 48000, 2, silence);
    auto data = standardGenerator().generate(decoder);
    ASSERT_TRUE(data);
    for (const auto& row : data->magnitudes) {
        for (float level : row)
            ASSERT_NEAR(level, -100.0 - 20.0 * std::log10(4096.0), 1e-3);
    }
    EXPECT_EQ(data->maxFrequency(), 24000.0);
}

TEST(SpectrogramGeneratorTest, ToneShowsInItsBinFromTheFirstChannelOnly)
{
    FakeDecoder decoder(44100, 44100, 2, [](int channel, std::uint64_t frame) {
        if (channel == 1)
            return 0.0f;
        return static_cast<float>(std::sin(2 * std::numbers::pi * 512 * static_cast<double>(frame) / 4096));
    });
    auto data = standardGenerator().generate(decoder);
    ASSERT_TRUE(data);
    const auto& row = data->magnitudes.front();
    EXPECT_NEAR(row[512], -1.8, 0.1);
    EXPECT_LT(row[900], -100.0f);
}

TEST(SpectrogramGeneratorTest, ProgressEveryTwentyRowsThenOne)
{
    // Ten seconds: hop 1024, 427 planned rows.
    FakeDecoder decoder(441000, 44100, 1, silence);
    std::vector<double> calls;
    auto data = standardGenerator().generate(decoder, [&](double fraction) { calls.push_back(fraction); });
    ASSERT_TRUE(data);
    EXPECT_EQ(data->timeSlices(), 427);
    ASSERT_EQ(calls.size(), 22u);
    EXPECT_DOUBLE_EQ(calls.front(), 20.0 / 427.0);
    EXPECT_DOUBLE_EQ(calls[20], 420.0 / 427.0);
    EXPECT_EQ(calls.back(), 1.0);
}

TEST(SpectrogramGeneratorTest, ADecoderThatRunsOutEndsWithTheRowsMadeSoFarAndItsErrorsPassThrough)
{
    FakeDecoder runsOut(441000, 44100, 1, silence);
    runsOut.deliverOnly(100000);
    auto rows = standardGenerator().generate(runsOut);
    ASSERT_TRUE(rows);
    EXPECT_GT(rows->timeSlices(), 0);
    EXPECT_LT(rows->timeSlices(), 427);

    // A failed read gives its error, and no final progress.
    FakeDecoder decoder(441000, 44100, 1, silence);
    decoder.failReads("Input/output error");
    bool finished = false;
    auto data = standardGenerator().generate(decoder, [&](double f) { finished = finished || f == 1.0; });
    ASSERT_FALSE(data);
    EXPECT_EQ(data.error().description, "Input/output error");
    EXPECT_FALSE(finished);
}

TEST(SpectrogramImageTest, ColourMapMatchesItsSampleValues)
{
    struct Sample {
        double v;
        std::array<std::uint8_t, 3> rgb;
    };
    const Sample samples[] = {
        { 0, { 0, 0, 0 } },
        { 0.13, { 0, 0, 80 } },
        { 0.3, { 110, 0, 128 } },
        { 0.45, { 190, 0, 90 } },
        { 0.6, { 240, 0, 0 } },
        { 0.7, { 254, 124, 0 } },
        { 0.78, { 255, 202, 0 } },
        { 0.85, { 255, 243, 81 } },
        { 0.91, { 255, 255, 151 } },
        { 1, { 255, 255, 255 } },
    };
    for (const Sample& s : samples)
        EXPECT_EQ(spectrogramColorRGB(s.v), s.rgb) << s.v;
}

TEST(SpectrogramImageTest, MapsTimeAcrossAndFrequencyUp)
{
    SpectrogramData data;
    data.sampleRate = 44100;
    data.fftSize = 4;
    // Two slices of two bins: the low bin of slice 0 is loud, everything else below the floor.
    data.magnitudes = { { 3.0f, -130.0f }, { -130.0f, -130.0f } };
    const RgbaImage image = createSpectrogramImage(data, 4, 2);
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.pixels.size(), 4u * 2 * 4);
    const auto pixel = [&](int x, int y) {
        const std::uint8_t* p = &image.pixels[static_cast<std::size_t>((y * 4 + x) * 4)];
        return std::array<std::uint8_t, 4> { p[0], p[1], p[2], p[3] };
    };
    const std::array<std::uint8_t, 4> white { 255, 255, 255, 255 };
    const std::array<std::uint8_t, 4> black { 0, 0, 0, 255 };
    EXPECT_EQ(pixel(0, 1), white); // bottom row is the low bin
    EXPECT_EQ(pixel(1, 1), white);
    EXPECT_EQ(pixel(0, 0), black);
    EXPECT_EQ(pixel(2, 1), black);

    for (const auto& [w, h] : { std::pair { 0, 10 }, std::pair { 10, 0 } }) {
        const RgbaImage blank = createSpectrogramImage(data, w, h);
        EXPECT_EQ(blank.width, 1);
        EXPECT_EQ(blank.height, 1);
    }
    EXPECT_EQ(createSpectrogramImage(SpectrogramData {}, 10, 10).width, 1);
}
