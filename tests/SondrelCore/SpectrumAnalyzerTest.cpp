#include "SpectrumAnalyzer.h"
#include "FakeDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using sondrel::core::AnalyzerError;
using sondrel::core::SpectrumAnalyzer;
using sondrel::test::FakeDecoder;
using Confidence = SpectrumAnalyzer::ScreeningConfidence;

namespace {

// Tones at 11 kHz and 20.2 kHz: a full-band signal, cutoff 20500 at 44100 Hz.
float fullBand(int, std::uint64_t frame)
{
    const double t = static_cast<double>(frame) / 44100.0;
    return static_cast<float>(
        0.3 * std::sin(2 * std::numbers::pi * 11000 * t) + 0.3 * std::sin(2 * std::numbers::pi * 20200 * t));
}

// Content up to 16.5 kHz only: cutoff 17000.
float lowPassed(int, std::uint64_t frame)
{
    const double t = static_cast<double>(frame) / 44100.0;
    return static_cast<float>(
        0.3 * std::sin(2 * std::numbers::pi * 11000 * t) + 0.3 * std::sin(2 * std::numbers::pi * 16500 * t));
}

SpectrumAnalyzer makeAnalyzer()
{
    auto analyzer = SpectrumAnalyzer::make();
    EXPECT_TRUE(analyzer.has_value());
    return std::move(*analyzer);
}

using Reads = std::vector<std::pair<std::uint64_t, std::size_t>>;

} // namespace

TEST(SpectrumAnalyzerTest, ExcerptPositionsFollowTheFileLength)
{
    struct Case {
        std::uint64_t length;
        Reads reads;
        std::int64_t sampleCount;
        std::int64_t frameCount;
    };
    const Case cases[] = {
        { 4096, { { 0, 4096 } }, 4096, 1 },
        { 10000, { { 0, 10000 } }, 10000, 3 },
        { 49151, { { 0, 16384 } }, 16384, 7 },
        { 49152, { { 0, 16384 }, { 16384, 16384 }, { 32768, 16384 } }, 49152, 21 },
        { 300000, { { 0, 16384 }, { 100000, 16384 }, { 200000, 16384 } }, 49152, 21 },
    };
    auto analyzer = makeAnalyzer();
    for (const Case& c : cases) {
        FakeDecoder decoder(c.length, 44100, 1, fullBand);
        auto result = analyzer.analyze(decoder);
        ASSERT_TRUE(result) << c.length;
        EXPECT_EQ(decoder.reads, c.reads) << c.length;
        EXPECT_EQ(result->metrics.sampleCount, c.sampleCount) << c.length;
        EXPECT_EQ(result->metrics.frameCount, c.frameCount) << c.length;
        EXPECT_EQ(result->clipping.totalSamples, c.sampleCount);
        EXPECT_EQ(result->cutoff, 20500.0f);
    }
}

TEST(SpectrumAnalyzerTest, FilesShorterThanOneFrameAreRefused)
{
    auto analyzer = makeAnalyzer();
    for (std::uint64_t length : { 0ull, 4095ull }) {
        FakeDecoder decoder(length, 44100, 2, fullBand);
        auto result = analyzer.analyze(decoder);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().description, "Audio file is too short to analyze");
        EXPECT_FALSE(analyzer.quickScreenCutoff(decoder));
    }
}

TEST(SpectrumAnalyzerTest, LengthsBeyondThirtyTwoBitsAreJudgedOnTheFirstFramesThatFit)
{
    auto analyzer = makeAnalyzer();
    for (std::uint64_t length : { 1ull << 32, (1ull << 32) + 5, 1ull << 40 }) {
        FakeDecoder decoder(length, 44100, 1, fullBand);
        auto result = analyzer.analyze(decoder);
        ASSERT_TRUE(result);
        const std::uint64_t third = 0xFFFFFFFFull / 3;
        EXPECT_EQ(decoder.seeks, (std::vector<std::uint64_t> { 0, third, 2 * third }));
        EXPECT_EQ(result->metrics.sampleCount, 49152);
    }
}

TEST(SpectrumAnalyzerTest, HighestCutoffOfTheExcerptsCounts)
{
    // A quiet low-passed intro, full band later.
    auto analyzer = makeAnalyzer();
    FakeDecoder decoder(300000, 44100, 1,
        [](int c, std::uint64_t frame) { return frame < 100000 ? lowPassed(c, frame) : fullBand(c, frame); });
    auto result = analyzer.analyze(decoder);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->cutoff, 20500.0f);

    FakeDecoder lowOnly(300000, 44100, 1, lowPassed);
    EXPECT_EQ(analyzer.analyze(lowOnly)->cutoff, 17000.0f);
}

TEST(SpectrumAnalyzerTest, ASilentFirstChannelGivesWayToTheLoudest)
{
    auto analyzer = makeAnalyzer();
    // Silent left, a low-passed middle channel, full band on the right: judged on the right.
    FakeDecoder silentLeft(300000, 44100, 3, [](int channel, std::uint64_t frame) {
        return channel == 0 ? 0.0f : channel == 1 ? 0.5f * lowPassed(channel, frame) : fullBand(channel, frame);
    });
    auto result = analyzer.analyze(silentLeft);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->cutoff, 20500.0f);
    EXPECT_GT(result->clipping.peakAmplitude, 0.1f);
    EXPECT_NEAR(result->metrics.audioDuration(), 1.1146, 1e-4);

    // A first channel with sound at -80 dBFS is still the one judged.
    FakeDecoder quietLeft(300000, 44100, 2, [](int channel, std::uint64_t frame) {
        return channel == 0 ? 1e-4f * lowPassed(channel, frame) / 0.5f : fullBand(channel, frame);
    });
    EXPECT_LT(analyzer.analyze(quietLeft)->cutoff, 20500.0f);
}

TEST(SpectrumAnalyzerTest, SilenceInEveryExcerptIsNoVerdict)
{
    auto analyzer = makeAnalyzer();
    // Sound only between the excerpts, and below -90 dBFS in them.
    FakeDecoder silence(300000, 44100, 2, [](int, std::uint64_t frame) {
        return frame > 20000 && frame < 90000 ? 0.5f : (frame % 2 ? 2e-5f : -2e-5f);
    });
    auto result = analyzer.analyze(silence);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, "No sound to judge: the excerpts are silent");

    // One excerpt with sound is enough.
    FakeDecoder lateSound(
        300000, 44100, 2, [](int c, std::uint64_t frame) { return frame < 200000 ? 0.0f : fullBand(c, frame); });
    EXPECT_EQ(analyzer.analyze(lateSound)->cutoff, 20500.0f);
}

TEST(SpectrumAnalyzerTest, ClippingCountsEveryLaneAndTheTail)
{
    // Three rounds of the eight lanes and a tail of three, each sample clipped; the loudest one
    // sits in the last lane of the last round.
    std::vector<float> samples(3 * 8 + 3, -1.0f);
    samples[23] = 1.5f;
    const auto count = SpectrumAnalyzer::detectClipping(samples);
    EXPECT_EQ(count.clipped, 27);
    EXPECT_EQ(count.peak, 1.5f);
}

TEST(SpectrumAnalyzerTest, ClippingCountsFullScaleSamplesAndKeepsThePeakFinite)
{
    const float square[] = { 1.0f, -1.0f, 1.0f, -1.0f };
    auto count = SpectrumAnalyzer::detectClipping(square);
    EXPECT_EQ(count.clipped, 4);
    EXPECT_EQ(count.peak, 1.0f);

    const float nearFull[] = { 0.99985f, -0.5f, 0.9999f };
    count = SpectrumAnalyzer::detectClipping(nearFull);
    EXPECT_EQ(count.clipped, 1);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float hostile[] = { nan, 0.25f, -inf, inf };
    count = SpectrumAnalyzer::detectClipping(hostile);
    EXPECT_EQ(count.clipped, 2);
    EXPECT_EQ(count.peak, 0.25f);

    EXPECT_EQ(SpectrumAnalyzer::detectClipping({}).clipped, 0);
}

TEST(SpectrumAnalyzerTest, NonFiniteSamplesLeaveTheResultFinite)
{
    auto analyzer = makeAnalyzer();
    FakeDecoder decoder(100000, 44100, 1, [](int c, std::uint64_t frame) {
        return frame == 7 ? std::numeric_limits<float>::quiet_NaN() : fullBand(c, frame);
    });
    auto result = analyzer.analyze(decoder);
    ASSERT_TRUE(result);
    EXPECT_TRUE(std::isfinite(result->clipping.peakAmplitude));
}

TEST(SpectrumAnalyzerTest, AStreamEndingBeforeItsAnnouncedLengthIsAnError)
{
    auto analyzer = makeAnalyzer();
    FakeDecoder decoder(300000, 44100, 1, fullBand);
    decoder.deliverOnly(150000); // the excerpt at two thirds finds nothing
    auto result = analyzer.analyze(decoder);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, sondrel::core::description(AnalyzerError::endedEarly));

    // A short final excerpt that still holds a frame is analysed.
    FakeDecoder shortTail(300000, 44100, 1, fullBand);
    shortTail.deliverOnly(200000 + 5000);
    result = analyzer.analyze(shortTail);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->metrics.sampleCount, 16384 * 2 + 5000);
}

TEST(SpectrumAnalyzerTest, ReadErrorsPassThroughUnchanged)
{
    auto analyzer = makeAnalyzer();
    FakeDecoder decoder(300000, 44100, 1, fullBand);
    decoder.failReads("Invalid data found when processing input");
    auto result = analyzer.analyze(decoder);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, "Invalid data found when processing input");
}

TEST(SpectrumAnalyzerTest, AWallUnderAnEncoderThatKeepsTheTopSendsALookForTheLoudestMomentsBetweenTheExcerpts)
{
    // A soft piece with nothing above 16 kHz but for one loud moment, which falls between the
    // three excerpts where the look for the loudest moments reads its second excerpt.
    constexpr std::uint64_t kLength = 12 * 44100;
    const ExcerptRange moment = SpectrumAnalyzer::loudReachExcerpts(kLength).at(1);
    for (const ExcerptRange& excerpt : SpectrumAnalyzer::excerpts(kLength))
        ASSERT_TRUE(excerpt.position + excerpt.frames <= moment.position
            || excerpt.position >= moment.position + moment.frames);
    const auto piece = [moment](int, std::uint64_t frame) {
        const double t = static_cast<double>(frame) / 44100.0;
        const bool loud = frame >= moment.position && frame < moment.position + moment.frames;
        double sample = 0.1 * std::sin(2 * std::numbers::pi * 1000 * t);
        for (int hz = 10000; hz < (loud ? 20000 : 16000); hz += 100)
            sample += (hz < 16000 ? 0.002 : 0.01) * std::sin(2 * std::numbers::pi * hz * t + hz);
        return static_cast<float>(sample);
    };
    auto analyzer = makeAnalyzer();

    // Without a LAME tag the wall is all there is to go on.
    FakeDecoder untagged(kLength, 44100, 1, piece);
    const auto plain = analyzer.analyze(untagged);
    ASSERT_TRUE(plain) << plain.error().description;
    ASSERT_TRUE(plain->lossyEvidence);
    EXPECT_NEAR(plain->lossyEvidence->wallFrequency, 16000.0f, 200.0f);
    EXPECT_FALSE(plain->loudReach);
    EXPECT_EQ(untagged.reads.size(), 3u);

    FakeDecoder tagged(kLength, 44100, 1, piece);
    tagged.tag = EncoderTag { "LAME3.100", 22100 };
    const auto looked = analyzer.analyze(tagged);
    ASSERT_TRUE(looked) << looked.error().description;
    EXPECT_EQ(looked->lossyEvidence, plain->lossyEvidence);
    EXPECT_EQ(looked->cutoff, plain->cutoff);
    ASSERT_TRUE(looked->loudReach);
    EXPECT_NEAR(*looked->loudReach, 20000.0f, 200.0f);
    ASSERT_EQ(tagged.reads.size(), 15u);
    EXPECT_EQ(tagged.reads[4], std::make_pair(moment.position, moment.frames));
    // A stream that ends early past the three excerpts keeps its verdict, without a reach.
    FakeDecoder truncated(kLength, 44100, 1, piece);
    truncated.tag = tagged.tag;
    truncated.deliverOnly(SpectrumAnalyzer::excerpts(kLength).back().position + 16384);
    const auto cut = analyzer.analyze(truncated);
    ASSERT_TRUE(cut) << cut.error().description;
    EXPECT_EQ(cut->lossyEvidence, plain->lossyEvidence);
    EXPECT_FALSE(cut->loudReach);
    // An encoder that cuts at 19.7 kHz itself does not keep the top: no second look.
    FakeDecoder lower(kLength, 44100, 1, piece);
    lower.tag = EncoderTag { "LAME3.100", 19700 };
    EXPECT_FALSE(analyzer.analyze(lower)->loudReach);
    EXPECT_EQ(lower.reads.size(), 3u);
}

TEST(SpectrumAnalyzerTest, QuickScreenReadsOneExcerptFromTheMiddle)
{
    struct Case {
        std::uint64_t length;
        std::uint64_t position;
        std::size_t frames;
        float cutoff;
    };
    const Case cases[] = {
        { 1000000, 500000, 16384, 20500.0f },
        { 8192, 4096, 4096, 20500.0f },
        { 6000, 3000, 3000, 0.0f },
    };
    auto analyzer = makeAnalyzer();
    for (const Case& c : cases) {
        FakeDecoder decoder(c.length, 44100, 1, fullBand);
        auto cutoff = analyzer.quickScreenCutoff(decoder);
        ASSERT_TRUE(cutoff) << c.length;
        EXPECT_EQ(decoder.reads, (Reads { { c.position, c.frames } })) << c.length;
        EXPECT_EQ(*cutoff, c.cutoff) << c.length;
    }
}

TEST(SpectrumAnalyzerTest, ScreeningBands)
{
    EXPECT_EQ(SpectrumAnalyzer::screen(20000.0f), Confidence::clearPass);
    EXPECT_EQ(SpectrumAnalyzer::screen(19500.0f), Confidence::borderline);
    EXPECT_EQ(SpectrumAnalyzer::screen(16000.0f), Confidence::borderline);
    EXPECT_EQ(SpectrumAnalyzer::screen(15500.0f), Confidence::clearFail);
    EXPECT_EQ(SpectrumAnalyzer::screen(0.0f), Confidence::clearFail);
    EXPECT_EQ(SpectrumAnalyzer::screen(std::numeric_limits<float>::quiet_NaN()), Confidence::borderline);
}
