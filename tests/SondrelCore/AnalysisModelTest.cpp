#include "AnalysisModel.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sondrel::core;

TEST(AnalysisModelTest, FormatsComeFromExtensionsCaseInsensitively)
{
    EXPECT_EQ(audioFormatFromExtension("AIF"), AudioFormat::aiff);
    EXPECT_EQ(audioFormatFromExtension("aiff"), AudioFormat::aiff);
    EXPECT_EQ(audioFormatFromExtension("MP3"), AudioFormat::mp3);
    EXPECT_EQ(audioFormatFromExtension("M4a"), AudioFormat::m4a);
    EXPECT_EQ(audioFormatFromExtension("ogg"), std::nullopt);
    EXPECT_EQ(audioFormatFromExtension(""), std::nullopt);
    EXPECT_EQ(audioFormatFromExtension(".mp3"), std::nullopt);
    EXPECT_EQ(supportedExtensions().size(), 7u);
    EXPECT_TRUE(isLossless(AudioFormat::flac));
    EXPECT_FALSE(isLossless(AudioFormat::aac));
}

TEST(AnalysisModelTest, ClippingSeverityUsesStrictRatioBounds)
{
    struct Case {
        std::int64_t clipped;
        std::int64_t total;
        ClippingSeverity severity;
    };
    for (const Case c : { Case { 0, 0, ClippingSeverity::none }, Case { 0, 100, ClippingSeverity::none },
             Case { 1, 0, ClippingSeverity::severe }, Case { 1, 10000, ClippingSeverity::moderate },
             Case { 1, 10001, ClippingSeverity::mild }, Case { 10, 10000, ClippingSeverity::severe },
             Case { 9, 10000, ClippingSeverity::moderate } }) {
        EXPECT_EQ((ClippingInfo { c.clipped, c.total, 1.0f }.severity()), c.severity)
            << c.clipped << " in " << c.total;
    }
}

TEST(AnalysisModelTest, PeakInDecibels)
{
    EXPECT_EQ((ClippingInfo { 0, 0, 1.0f }.peakDb()), 0.0f);
    EXPECT_NEAR((ClippingInfo { 0, 0, 0.5f }.peakDb()), -6.02f, 0.01f);
    EXPECT_TRUE(std::isinf(ClippingInfo { 0, 0, 0.0f }.peakDb()));
    EXPECT_LT((ClippingInfo { 0, 0, -1.0f }.peakDb()), 0.0f);
}

TEST(AnalysisModelTest, ResultPassesOnlyWithAPassingRatingAndNoSevereClipping)
{
    const auto result = [](QualityRating rating, std::int64_t clipped) {
        return AnalysisResult { 20500, 320, rating, 0.5f, { clipped, 10000, 1.0f } };
    };
    EXPECT_FALSE(result(QualityRating::high, 10).passesThreshold());
    EXPECT_TRUE(result(QualityRating::lossless, 5).passesThreshold());
    EXPECT_FALSE(result(QualityRating::medium, 0).passesThreshold());
    const auto describe = [](float cutoff) {
        AnalysisResult r;
        r.cutoffFrequency = cutoff;
        return r.cutoffDescription();
    };
    EXPECT_EQ(describe(0), "0.0 kHz");
    EXPECT_EQ(describe(17500), "17.5 kHz");
    EXPECT_EQ(describe(20500), "20.5 kHz");
}

TEST(AnalysisModelTest, RatingsRoundTripThroughTheirRawValuesOnly)
{
    for (QualityRating rating : kAllQualityRatings)
        EXPECT_EQ(qualityRatingFromRawValue(rawValue(rating)), rating);
    EXPECT_EQ(qualityRatingFromRawValue("< 128kbps"), QualityRating::suspicious);
    EXPECT_EQ(qualityRatingFromRawValue("Suspicious"), std::nullopt);
    EXPECT_EQ(qualityRatingFromRawValue("lossless"), std::nullopt);
    EXPECT_EQ(description(Bitrate::maximum), "320kbps");
    EXPECT_LT(Bitrate::low, Bitrate::high);
}
