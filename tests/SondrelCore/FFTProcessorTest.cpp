#include "SignalHelpers.h"
#include "fft/FastFFTProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using sondrel::core::FastFFTProcessor;
using namespace sondrel::test;

namespace {

constexpr int kN = 4096;
constexpr double kRate = 44100.0;
// Bin 1022 (about 11 kHz) lies inside the 10-12 kHz reference band with its whole main lobe.
constexpr int kReferenceBin = 1022;

FastFFTProcessor makeProcessor(std::int64_t size = kN)
{
    auto processor = FastFFTProcessor::make(size);
    EXPECT_TRUE(processor.has_value());
    return std::move(*processor);
}

std::vector<float> referenceTone(std::size_t count = 16384, double rate = kRate)
{
    std::vector<float> samples(count, 0.0f);
    addBinTone(samples, binOf(11000.0, rate, kN), kN, 0.25);
    return samples;
}

} // namespace

TEST(FFTProcessorTest, CreationAcceptsOnlyPowersOfTwo)
{
    for (int size : { 0, -4, 3000, 4095 })
        EXPECT_EQ(fft_processor_create(size), nullptr) << size;
    for (int size : { 1024, 4096, 8192 }) {
        FFTProcessor* p = fft_processor_create(size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(p->halfSize, size / 2);
        EXPECT_EQ(1 << p->log2n, size);
        fft_processor_destroy(p);
    }
    fft_processor_destroy(nullptr);
    EXPECT_FALSE(FastFFTProcessor::make(std::int64_t { 1 } << 40).has_value());
}

TEST(FFTProcessorTest, FramesAdvanceByHalfAFrameWhateverTheSampleRate)
{
    auto processor = makeProcessor();
    const auto samples = referenceTone(16384);
    struct Case {
        std::size_t count;
        std::int64_t frames;
    };
    for (const Case c : { Case { kN, 1 }, Case { 16384, 7 }, Case { 10000, 3 }, Case { kN + 2047, 1 },
             Case { kN + 2048, 2 } }) {
        const auto result = processor.analyzeSegment(std::span(samples).first(c.count), kRate);
        EXPECT_EQ(result.frameCount, c.frames) << c.count;
    }
    // Even a rate that is not finite does not misbehave.
    for (float rate :
        { 0.0f, -44100.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity() })
        EXPECT_EQ(processor.analyzeSegment(samples, rate).frameCount, 7) << rate;
}

TEST(FFTProcessorTest, TooFewSamplesNullInputsOrSilenceGiveZero)
{
    auto processor = makeProcessor();
    const auto samples = referenceTone();
    auto result = processor.analyzeSegment(std::span(samples).first(kN - 1), kRate);
    EXPECT_EQ(result.cutoff, 0.0f);
    EXPECT_EQ(result.frameCount, 0);
    result = processor.analyzeSegment({}, kRate);
    EXPECT_EQ(result.frameCount, 0);

    int32_t frames = 99;
    EXPECT_EQ(fft_analyze_segment(nullptr, samples.data(), 16384, &frames, 44100.0f), 0.0f);
    EXPECT_EQ(frames, 0);
    frames = 99;
    EXPECT_EQ(fft_analyze_segment(processor.processor(), nullptr, 16384, &frames, 44100.0f), 0.0f);
    EXPECT_EQ(frames, 0);
    // The frame-count pointer is optional.
    EXPECT_EQ(fft_analyze_segment(processor.processor(), samples.data(), 16384, nullptr, 44100.0f), 14000.0f);

    // Silence has no reference: no cutoff, but the true frame count.
    const std::vector<float> silence(16384, 0.0f);
    result = processor.analyzeSegment(silence, kRate);
    EXPECT_EQ(result.cutoff, 0.0f);
    EXPECT_EQ(result.frameCount, 7);
}

TEST(FFTProcessorTest, EachRungOfTheLadderGivesItsFixedCutoff)
{
    struct Rung {
        double toneHz;
        float cutoff;
    };
    const Rung rungs[] = { { 20500, 20500 }, { 19500, 20000 }, { 18500, 19000 }, { 17500, 17500 },
        { 16500, 17000 }, { 15500, 15500 }, { 14500, 15000 }, { 13000, 14000 } };
    auto processor = makeProcessor();
    for (const Rung& rung : rungs) {
        auto samples = referenceTone();
        addBinTone(samples, binOf(rung.toneHz, kRate, kN), kN, 0.25);
        EXPECT_EQ(processor.analyzeSegment(samples, kRate).cutoff, rung.cutoff) << rung.toneHz;
    }
}

TEST(FFTProcessorTest, ContentMustBeLessThanThirtyDecibelsBelowTheReference)
{
    // The 20-21 kHz band is 93 bins wide, the reference 186: the same tone power reads
    // 3.01 dB higher in the narrower band.
    const double widthGainDb = 10.0 * std::log10(186.0 / 93.0);
    auto processor = makeProcessor();
    const auto cutoffWithBandDown = [&](double dbBelowReference) {
        auto samples = referenceTone();
        const double amplitude = 0.25 * std::pow(10.0, (-dbBelowReference - widthGainDb) / 20.0);
        addBinTone(samples, 1900, kN, amplitude);
        return processor.analyzeSegment(samples, kRate).cutoff;
    };
    EXPECT_EQ(cutoffWithBandDown(29.9), 20500.0f);
    EXPECT_EQ(cutoffWithBandDown(30.1), 14000.0f);

    // Bands at the floor count as content against a reference at the floor.
    std::vector<float> floor(16384, 0.0f);
    addBinTone(floor, kReferenceBin, kN, 1e-9);
    addBinTone(floor, 1900, kN, 1e-9);
    EXPECT_EQ(processor.analyzeSegment(floor, kRate).cutoff, 20500.0f);
}

TEST(FFTProcessorTest, HiResLadderOnlyAboveFortyEightKilohertz)
{
    auto processor = makeProcessor();
    const auto cutoffFor = [&](double rate, std::initializer_list<double> tones) {
        auto samples = referenceTone(16384, rate);
        for (double tone : tones)
            addBinTone(samples, binOf(tone, rate, kN), kN, 0.25);
        return processor.analyzeSegment(samples, static_cast<float>(rate)).cutoff;
    };
    EXPECT_EQ(cutoffFor(96000, { 31000 }), 32000.0f);
    EXPECT_EQ(cutoffFor(96000, { 27000, 20500 }), 28000.0f);
    EXPECT_EQ(cutoffFor(88200, { 25000 }), 26000.0f);
    EXPECT_EQ(cutoffFor(96000, { 23000 }), 24000.0f);
    // 28-30 kHz is never examined; the standard ladder decides.
    EXPECT_EQ(cutoffFor(96000, { 29000, 19500 }), 20000.0f);
    // At exactly 48 kHz the hi-res ladder is skipped.
    EXPECT_EQ(cutoffFor(48000, { 23000 }), 14000.0f);
}

// A full-scale sine on a bin reads about -1.8 dB in level form: SpectrogramGeneratorTest's tone.
TEST(FFTProcessorTest, FramePowerFollowsThePackedScaling)
{
    auto processor = makeProcessor();
    std::vector<float> power(kN / 2);
    // DC and Nyquist share bin 0: a constant 1.0 gives (2 * 0.8165 * N)^2, and so does the
    // alternating +1, -1 of the Nyquist frequency, which has no DC at all.
    std::vector<float> dc(kN, 1.0f);
    fft_frame_power(processor.processor(), dc.data(), power.data());
    EXPECT_NEAR(power[0] / std::pow(2.0 * 0.8165 * kN, 2.0), 1.0, 1e-4);
    std::vector<float> nyquist(kN);
    for (std::size_t i = 0; i < nyquist.size(); ++i)
        nyquist[i] = i % 2 == 0 ? 1.0f : -1.0f;
    fft_frame_power(processor.processor(), nyquist.data(), power.data());
    EXPECT_NEAR(power[0] / std::pow(2.0 * 0.8165 * kN, 2.0), 1.0, 1e-4);
}
