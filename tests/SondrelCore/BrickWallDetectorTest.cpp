#include "BrickWallDetector.h"

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

} // namespace
} // namespace sondrel::core
