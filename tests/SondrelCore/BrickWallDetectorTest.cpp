#include "BrickWallDetector.h"
#include "LoudReach.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace sondrel::core {
namespace {

constexpr double kRate = 44100.0;
constexpr std::size_t kBins = 2048; // an FFT of 4096
constexpr double kBinWidth = kRate / (2.0 * kBins);

// A long-term power spectrum whose level in dB follows `level` (Hz -> dB), with the ripple of a
// spectrum averaged over a second of audio (about +-1 dB from bin to bin).
std::vector<double> spectrum(const std::function<double(double)>& level, unsigned seed = 7)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> ripple(-1.0, 1.0);
    std::vector<double> power(kBins);
    for (std::size_t k = 0; k < kBins; ++k) {
        const double db = level(static_cast<double>(k) * kBinWidth);
        power[k] = std::isfinite(db) ? std::pow(10.0, (db + ripple(random)) / 10.0) : 0.0;
    }
    return power;
}

// Music that falls gently toward the top, as most recordings do: -1 dB per kHz above 5 kHz.
double music(double frequency)
{
    return -20.0 - std::max(0.0, frequency - 5000.0) / 1000.0;
}

TEST(BrickWallDetectorTest, FindsAnEncodersWallOverAQuietPiecesHiss)
{
    // The quiet piano transcode: rising hiss up to 16.9 kHz, then a flat floor 16 dB below it.
    const auto power = spectrum([](double f) { return f < 16900.0 ? -49.0 + (f - 11000.0) / 2000.0 : -62.0; });
    const auto wall = BrickWallDetector::findWall(power, kBinWidth);
    ASSERT_TRUE(wall);
    EXPECT_NEAR(wall->wallFrequency, 16900.0f, 100.0f);
    EXPECT_NEAR(wall->depth, 15.7f, 1.5f);
    EXPECT_LE(wall->width, 200.0f);
}

TEST(BrickWallDetectorTest, FindsADeepWallWhoseFallSpreadsOverAFewHundredHertzOntoSilence)
{
    // A float decode of a lossy file: a 300 Hz filter skirt, then exact zeros.
    const auto power = spectrum([](double f) {
        if (f < 16000.0)
            return music(f);
        return f < 16300.0 ? music(f) - (f - 16000.0) / 5.0 : -std::numeric_limits<double>::infinity();
    });
    const auto wall = BrickWallDetector::findWall(power, kBinWidth);
    ASSERT_TRUE(wall);
    EXPECT_NEAR(wall->wallFrequency, 16000.0f, 200.0f);
    EXPECT_GE(wall->depth, 40.0f);
    EXPECT_LE(wall->width, 500.0f);
}

TEST(BrickWallDetectorTest, NaturalRollOffIsNoWallHoweverSteep)
{
    for (const double slope : { 3.0, 12.0, 30.0 }) {
        const auto power = spectrum([slope](double f) { return music(f) - std::max(0.0, f - 12000.0) * slope / 1000.0; });
        EXPECT_FALSE(BrickWallDetector::findWall(power, kBinWidth)) << slope << " dB per kHz";
    }
}

TEST(BrickWallDetectorTest, QuietPassageSinkingIntoItsNoiseFloorIsNoWall)
{
    // Content falling 20 dB per kHz from 12 kHz until it meets a flat floor 25 dB down: a soft knee.
    const auto power = spectrum([](double f) {
        const double content = -40.0 - std::max(0.0, f - 12000.0) * 20.0 / 1000.0;
        return 10.0 * std::log10(std::pow(10.0, content / 10.0) + std::pow(10.0, -65.0 / 10.0));
    });
    EXPECT_FALSE(BrickWallDetector::findWall(power, kBinWidth));
}

TEST(BrickWallDetectorTest, GenuineHissAndContentThatReturnsAreNoWall)
{
    // Soft content above a hiss that rises to the top of the spectrum.
    EXPECT_FALSE(BrickWallDetector::findWall(
        spectrum([](double f) { return -45.0 + (f - 11000.0) / 2000.0; }), kBinWidth));
    // A 1 kHz gap in the content is not a floor: the content comes back above it.
    EXPECT_FALSE(BrickWallDetector::findWall(
        spectrum([](double f) { return f >= 15000.0 && f < 16000.0 ? music(f) - 30.0 : music(f); }), kBinWidth));
    // Digital silence above 11 kHz has nothing to fall from.
    EXPECT_FALSE(BrickWallDetector::findWall(
        spectrum([](double f) { return f < 11000.0 ? music(f) : -std::numeric_limits<double>::infinity(); }),
        kBinWidth));
}

TEST(BrickWallDetectorTest, FindsALossyFilesSixteenBitCopyByItsBareRoundingFloor)
{
    const double rounding = BrickWallDetector::roundingNoiseDb(2 * kBins);
    // The soft vibes piece through a 128 kbps MP3 into a FLAC: what content is left stands 12 dB
    // above the rounding noise up to 13.5 kHz, a trace of it 3 dB above up to 16.1 kHz, and
    // above that nothing but the rounding. No fall is deep enough for a wall.
    const auto copy = [rounding](double above) {
        return [rounding, above](double f) {
            return rounding + (f < 13500.0 ? 12.0 : f < 16100.0 ? 3.0 : 0.0) + above;
        };
    };
    ASSERT_FALSE(BrickWallDetector::findWall(spectrum(copy(0.0)), kBinWidth));
    const auto floor = BrickWallDetector::findRoundingFloor(spectrum(copy(0.0)), kBinWidth, rounding);
    ASSERT_TRUE(floor);
    EXPECT_EQ(floor->kind, LossyEvidence::Kind::roundingFloor);
    EXPECT_NEAR(floor->wallFrequency, 16100.0f, 100.0f);
    EXPECT_NEAR(floor->depth, 12.0f, 1.0f);

    // The detector judges the frame-weighted average of its excerpts against the same level.
    BrickWallDetector detector;
    for (const std::int64_t frames : { 7, 14 }) {
        std::vector<float> excerpt;
        for (const double p : spectrum(copy(0.0), static_cast<unsigned>(frames)))
            excerpt.push_back(static_cast<float>(p));
        detector.addSpectrum(excerpt, frames);
    }
    ASSERT_TRUE(detector.detect(kRate));
    EXPECT_EQ(detector.detect(kRate)->kind, LossyEvidence::Kind::roundingFloor);

    // The genuine piece carries its own hiss over the whole top, here 8 dB above the rounding;
    // TPDF dither sits 4.8 dB above it. Neither is bare rounding.
    for (const double above : { 4.8, 8.0 }) {
        EXPECT_FALSE(BrickWallDetector::findRoundingFloor(
            spectrum([&](double f) { return std::max(copy(0.0)(f), rounding + above); }), kBinWidth,
            rounding))
            << above;
    }
    // A soft piece with nothing above 11 kHz has no content for the floor to lie under; one
    // whose content reaches 18.6 kHz is cut where a top-rate encoder cuts.
    EXPECT_FALSE(BrickWallDetector::findRoundingFloor(
        spectrum([&](double f) { return f < 11000.0 ? music(f) : rounding; }), kBinWidth, rounding));
    EXPECT_FALSE(BrickWallDetector::findRoundingFloor(
        spectrum([&](double f) { return f < 18600.0 ? rounding + 20.0 : rounding; }), kBinWidth, rounding));
    EXPECT_FALSE(BrickWallDetector::findRoundingFloor(
        spectrum(copy(0.0)), kBinWidth, std::numeric_limits<double>::quiet_NaN()));
    // A 32 kHz file's bins end at 16 kHz: the floor's top cannot be seen.
    EXPECT_FALSE(BrickWallDetector::findRoundingFloor(spectrum(copy(0.0)), 16000.0 / kBins, rounding));
}

TEST(BrickWallDetectorTest, ExcerptsAddUpAndBadInputGivesNothing)
{
    const auto wallAt = [](double f) { return f < 16000.0 ? music(f) : music(f) - 40.0; };
    std::vector<float> excerpt;
    for (const double p : spectrum(wallAt))
        excerpt.push_back(static_cast<float>(p));
    BrickWallDetector detector;
    EXPECT_FALSE(detector.detect(kRate));
    detector.addSpectrum(excerpt, 7);
    // An excerpt of digital silence and one of another size change nothing.
    detector.addSpectrum(std::vector<float>(kBins, 0.0f), 7);
    detector.addSpectrum(std::vector<float>(kBins / 2, 1.0f), 7);
    const auto wall = detector.detect(kRate);
    ASSERT_TRUE(wall);
    EXPECT_NEAR(wall->wallFrequency, 16000.0f, 100.0f);
    // The same bins at 48 kHz sit 8.8 % higher.
    EXPECT_NEAR(detector.detect(48000.0)->wallFrequency, 16000.0f * 48000.0f / 44100.0f, 150.0f);

    EXPECT_FALSE(detector.detect(0.0));
    EXPECT_FALSE(detector.detect(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(BrickWallDetector::findWall({}, kBinWidth));
    EXPECT_FALSE(BrickWallDetector::findWall(spectrum(wallAt), 0.0));
    EXPECT_FALSE(BrickWallDetector::findWall(spectrum(wallAt), std::numeric_limits<double>::infinity()));
    // Bins wider than the bands: nothing can be told apart.
    EXPECT_FALSE(BrickWallDetector::findWall(std::vector<double>(64, 1.0), kRate / 128.0));
}

std::vector<float> floats(const std::vector<double>& power)
{
    return { power.begin(), power.end() };
}

// Forty frames of a soft piece: steady content up to 16 kHz and, above it, what its
// encoder left (`top` dB); every tenth frame a loud moment reaching `loudTo` Hz.
LoudReach piece(double top, double loudTo)
{
    const double rounding = BrickWallDetector::roundingNoiseDb(2 * kBins);
    LoudReach reach;
    for (unsigned i = 0; i < 40; ++i) {
        const bool loud = i % 10 == 3;
        reach.addFrame(floats(spectrum(
                           [&](double f) {
                               if (loud && f < loudTo)
                                   return rounding + 35.0;
                               return f < 16000.0 ? rounding + 30.0 : top;
                           },
                           i)),
            kRate);
    }
    return reach;
}

TEST(LoudReachTest, LoudMomentsShowHowHighTheFileReachesWhereTheLongTermSpectrumStops)
{
    const double rounding = BrickWallDetector::roundingNoiseDb(2 * kBins);
    // A genuine V0 of a soft piece: its encoder dropped the quiet highs, but a cymbal's
    // moments carry on to 19.5 kHz.
    EXPECT_EQ(piece(rounding - 30.0, 19500.0).reach(), 19500.0f);
    // A transcode of a 128 kbps MP3: even its loudest moments stop at the source's low-pass,
    // whether the floor above is bare rounding or nothing at all.
    EXPECT_EQ(piece(rounding, 16500.0).reach(), 16500.0f);
    EXPECT_EQ(piece(-std::numeric_limits<double>::infinity(), 16500.0).reach(), 16500.0f);
}

TEST(LoudReachTest, SteadyContentRoundingNoiseAndBadFramesReachNothing)
{
    const double rounding = BrickWallDetector::roundingNoiseDb(2 * kBins);
    LoudReach steady;
    LoudReach noise;
    for (unsigned i = 0; i < 30; ++i) {
        // Content in every frame is what the long-term spectrum already shows.
        steady.addFrame(floats(spectrum([&](double) { return rounding + 40.0; }, i)), kRate);
        noise.addFrame(floats(spectrum([&](double) { return rounding; }, i)), kRate);
    }
    EXPECT_FALSE(steady.reach());
    EXPECT_FALSE(noise.reach());
    EXPECT_EQ(steady.frameCount(), 30u);
    EXPECT_FALSE(LoudReach {}.reach());

    // A frame of another size, an empty one and one at a nonsense rate are ignored.
    LoudReach reach = piece(rounding - 30.0, 19500.0);
    reach.addFrame(std::vector<float>(kBins / 2, 1.0f), kRate);
    reach.addFrame({}, kRate);
    reach.addFrame(std::vector<float>(kBins, 1.0f), std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(reach.frameCount(), 40u);
    EXPECT_EQ(reach.reach(), 19500.0f);
}

} // namespace
} // namespace sondrel::core
