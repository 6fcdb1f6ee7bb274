#include "QualityClassifier.h"

#include <gtest/gtest.h>

#include <limits>

using namespace sondrel::core;

namespace {

struct Expectation {
    float cutoff;
    AudioFormat format;
    double sampleRate;
    QualityRating rating;
    std::int64_t bitrate;
    float confidence;
};

void PrintTo(const Expectation& e, std::ostream* os)
{
    *os << rawValue(e.format) << " cutoff " << e.cutoff << " at " << e.sampleRate;
}

class QualityClassifierTest : public testing::TestWithParam<Expectation> { };

} // namespace

TEST_P(QualityClassifierTest, RatesEstimatesAndWeighsTheCutoff)
{
    const Expectation& e = GetParam();
    const AnalysisResult result = QualityClassifier {}.classify(e.cutoff, e.format, {}, e.sampleRate);
    EXPECT_EQ(result.rating, e.rating);
    EXPECT_EQ(result.estimatedBitrate, e.bitrate);
    EXPECT_NEAR(result.confidence, e.confidence, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(EveryCutoffTheAnalyzerReports, QualityClassifierTest,
    testing::Values(
        // Lossy formats over the analyzer's fixed cutoffs.
        Expectation { 32000, AudioFormat::mp3, 96000, QualityRating::high, 320, 0.95f },
        Expectation { 28000, AudioFormat::m4a, 96000, QualityRating::high, 320, 0.95f },
        Expectation { 26000, AudioFormat::aac, 96000, QualityRating::high, 320, 0.85f },
        Expectation { 24000, AudioFormat::mp3, 88200, QualityRating::high, 320, 0.85f },
        Expectation { 20500, AudioFormat::mp3, 44100, QualityRating::high, 320, 0.5f },
        Expectation { 20000, AudioFormat::mp3, 44100, QualityRating::high, 320, 0.5f },
        Expectation { 19000, AudioFormat::mp3, 44100, QualityRating::medium, 256, 0.5f },
        Expectation { 17500, AudioFormat::mp3, 44100, QualityRating::low, 192, 0.5f },
        Expectation { 17000, AudioFormat::mp3, 44100, QualityRating::poor, 128, 0.75f },
        Expectation { 15500, AudioFormat::mp3, 44100, QualityRating::poor, 128, 0.5f },
        Expectation { 15000, AudioFormat::mp3, 44100, QualityRating::suspicious, 96, 0.5f },
        Expectation { 14000, AudioFormat::m4a, 44100, QualityRating::suspicious, 96, 0.5f },
        Expectation { 0, AudioFormat::mp3, 44100, QualityRating::suspicious, 96, 0.5f },
        // Between the fixed cutoffs, and above every range without hi-res.
        Expectation { 21000, AudioFormat::mp3, 44100, QualityRating::high, 320, 0.8225806f },
        Expectation { 23000, AudioFormat::mp3, 44100, QualityRating::high, 320, 0.5f },
        Expectation { 23000, AudioFormat::mp3, 96000, QualityRating::high, 320, 0.75f },
        // Lossless containers: the PCM rate when full band, else the cutoff's estimate.
        Expectation { 32000, AudioFormat::flac, 96000, QualityRating::lossless, 4233, 0.95f },
        Expectation { 24000, AudioFormat::aiff, 88200, QualityRating::lossless, 2822, 0.85f },
        Expectation { 20500, AudioFormat::wav, 48000, QualityRating::lossless, 2304, 0.5f },
        Expectation { 20500, AudioFormat::wav, 44100, QualityRating::lossless, 1411, 0.5f },
        Expectation { 20000, AudioFormat::flac, 44100, QualityRating::suspicious, 320, 0.5f },
        Expectation { 19000, AudioFormat::flac, 44100, QualityRating::suspicious, 256, 0.5f },
        Expectation { 17000, AudioFormat::wav, 44100, QualityRating::suspicious, 128, 0.75f }));

TEST(QualityClassifierSanitisingTest, NonFiniteOrNegativeCutoffsAreStoredAsZero)
{
    for (float cutoff : { std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity(),
             std::numeric_limits<float>::infinity(), -5.0f }) {
        const AnalysisResult result = QualityClassifier {}.classify(cutoff, AudioFormat::mp3, {}, 44100);
        EXPECT_EQ(result.cutoffFrequency, 0.0f);
        EXPECT_EQ(result.rating, QualityRating::suspicious);
        EXPECT_EQ(result.estimatedBitrate, 96);
        EXPECT_EQ(result.confidence, 0.5f);
    }
}

TEST(QualityClassifierSanitisingTest, ClippingPassesThroughAndSevereClippingFails)
{
    const ClippingInfo severe { 500, 49152, 1.0f };
    const AnalysisResult result = QualityClassifier {}.classify(20500, AudioFormat::wav, severe, 44100);
    EXPECT_EQ(result.clipping, severe);
    EXPECT_EQ(result.rating, QualityRating::lossless);
    EXPECT_FALSE(result.passesThreshold());
}

TEST(QualityClassifierWallTest, AWallBelowTheCutoffsRungRatesTheFileAndKeepsTheLaddersCutoff)
{
    const QualityClassifier classifier;
    const LossyEvidence wall { 16900.0f, 13.0f, 200.0f };
    // A FLAC made from a 128 kbps MP3 whose floor the ladder read as content.
    const AnalysisResult flac = classifier.classify(20500, AudioFormat::flac, {}, 44100, wall);
    EXPECT_EQ(flac.cutoffFrequency, 20500.0f);
    EXPECT_EQ(flac.rating, QualityRating::suspicious);
    EXPECT_EQ(flac.estimatedBitrate, 128);
    EXPECT_EQ(flac.confidence, classifier.classify(20500, AudioFormat::flac, {}, 44100).confidence);
    EXPECT_EQ(flac.lossyEvidence, wall);
    EXPECT_EQ(flac.judgedCutoff(), 16900.0f);
    // A FLAC the ladder already calls suspicious still gets the wall's estimate and judged cutoff.
    const AnalysisResult suspicious = classifier.classify(20000, AudioFormat::flac, {}, 44100, wall);
    EXPECT_EQ(suspicious.estimatedBitrate, 128);
    EXPECT_EQ(suspicious.judgedCutoff(), 16900.0f);
    // A 256 kbps MP3 made from a 192 kbps one.
    const AnalysisResult mp3 = classifier.classify(20000, AudioFormat::mp3, {}, 44100, LossyEvidence { 18600, 40, 100 });
    EXPECT_EQ(mp3.rating, QualityRating::low);
    EXPECT_EQ(mp3.estimatedBitrate, 192);
    EXPECT_EQ(mp3.cutoffFrequency, 20000.0f);
}

TEST(QualityClassifierWallTest, AWallAtTheMp3EncodersOwnLowPassIsNoEvidenceButASourcesWallBelowItIs)
{
    const QualityClassifier classifier;
    const auto classify
        = [&](float cutoff, AudioFormat format, LossyEvidence wall, std::optional<int> lowpass) {
              return classifier.classify(cutoff, format, {}, 44100, wall, lowpass);
          };
    // A genuine 192 kbps (or V2) LAME MP3: its tag states 18.6 kHz and its own wall is found at
    // 18.7 kHz. Without the tag that wall would lower the ladder's 256 to 192.
    const AnalysisResult ladder = classifier.classify(19000, AudioFormat::mp3, {}, 44100);
    const LossyEvidence own { 18700, 58, 400 };
    EXPECT_EQ(classify(19000, AudioFormat::mp3, own, std::nullopt).rating, QualityRating::low);
    EXPECT_EQ(classify(19000, AudioFormat::mp3, own, 18600), ladder);
    // The encoder's transition band starts up to 600 Hz below the tag's value, not further.
    EXPECT_EQ(classify(19000, AudioFormat::mp3, { 18000, 40, 300 }, 18600), ladder);
    EXPECT_TRUE(classify(19000, AudioFormat::mp3, { 17900, 40, 300 }, 18600).lossyEvidence);

    // A 320 kbps MP3 made from a 128 kbps one: tag 20.5 kHz, the source's wall at 16.6 kHz,
    // the ladder fooled by the floor. It still fails.
    const AnalysisResult fake = classify(20500, AudioFormat::mp3, { 16600, 40, 300 }, 20500);
    EXPECT_EQ(fake.rating, QualityRating::poor);
    EXPECT_EQ(fake.estimatedBitrate, 128);
    EXPECT_EQ(fake.cutoffFrequency, 20500.0f);
    EXPECT_LT(fake.judgedCutoff(), 20000.0f);
    // A 256 kbps MP3 made from a 192 kbps one: tag 19.7 kHz, the source's wall 900 Hz below.
    const AnalysisResult from192 = classify(20000, AudioFormat::mp3, { 18800, 45, 300 }, 19700);
    EXPECT_EQ(from192.rating, QualityRating::low);
    EXPECT_EQ(from192.judgedCutoff(), 18800.0f);

    // Only an MP3 carries its encoder's low-pass; any other container's wall is its source's.
    EXPECT_TRUE(classify(19000, AudioFormat::flac, own, 18600).lossyEvidence);
    EXPECT_TRUE(classify(19000, AudioFormat::m4a, own, 18600).lossyEvidence);
}

TEST(QualityClassifierPruningTest, AnMp3EncoderThatKeepsTheTopExplainsALowCutoffWithoutASourcesTrace)
{
    const QualityClassifier classifier;
    const auto classify
        = [&](float cutoff, std::optional<LossyEvidence> wall, std::optional<int> lowpass,
              std::optional<float> reach = std::nullopt, AudioFormat format = AudioFormat::mp3) {
              return classifier.classify(cutoff, format, {}, 44100, wall, lowpass, reach);
          };
    // A genuine V0 of a soft piece: LAME dropped its quiet highs above 16 kHz, nothing else shows.
    const AnalysisResult v0 = classify(15500, std::nullopt, 22100);
    EXPECT_EQ(v0.cutoffFrequency, 15500.0f);
    EXPECT_EQ(v0.rating, QualityRating::high);
    EXPECT_EQ(v0.estimatedBitrate, 320);
    EXPECT_EQ(v0.confidence, classifier.classify(15500, AudioFormat::mp3, {}, 44100).confidence);
    EXPECT_EQ(v0.encoderPruning, (EncoderPruning { 20500.0f, std::nullopt }));
    EXPECT_EQ(v0.judgedCutoff(), 20500.0f);
    EXPECT_EQ(v0.evidenceExplanation(), "Quiet highs dropped by its own encoder; no trace of a lossy source");
    // Its own low-pass as a wall (the tag's value, or just below it) is no source's trace either.
    EXPECT_TRUE(classify(17000, LossyEvidence { 20000, 58, 400 }, 20500).encoderPruning);

    // The same with a wall at the 16 kHz band in the excerpts: the loudest moments decide.
    const LossyEvidence wall { 16000, 32, 300 };
    const AnalysisResult loud = classify(15500, wall, 22100, 21300.0f);
    EXPECT_EQ(loud.encoderPruning, (EncoderPruning { 20500.0f, 21300.0f }));
    EXPECT_FALSE(loud.lossyEvidence);
    EXPECT_EQ(loud.evidenceExplanation(),
        "Quiet highs dropped by its own encoder; its loudest moments reach 21.3 kHz");
    const AnalysisResult reach = classify(19000, LossyEvidence { 15500, 20, 300 }, 20500, 20200.0f);
    EXPECT_EQ(reach.judgedCutoff(), 20200.0f);
    EXPECT_EQ(reach.rating, QualityRating::high);
    // Moments that stop where a 128 or 160 kbps source cuts leave the wall to judge the file.
    const AnalysisResult transcode = classify(20500, wall, 20500, 17000.0f);
    EXPECT_FALSE(transcode.encoderPruning);
    EXPECT_EQ(transcode.lossyEvidence, wall);
    EXPECT_EQ(classify(15500, wall, 20500), classify(15500, wall, 20500, 17500.0f));

    // A source's wall above 17.5 kHz (a 192 kbps one) is never outweighed, nor is any wall
    // where the encoder does not keep the top (256 kbps: 19.7 kHz), nor any container but MP3.
    EXPECT_TRUE(classify(20000, LossyEvidence { 18600, 40, 300 }, 20500, 21000.0f).lossyEvidence);
    EXPECT_EQ(classify(15500, std::nullopt, 19700),
        classifier.classify(15500, AudioFormat::mp3, {}, 44100, {}, 19700));
    EXPECT_FALSE(classify(15500, std::nullopt, std::nullopt).encoderPruning);
    EXPECT_FALSE(classify(15500, std::nullopt, 22100, std::nullopt, AudioFormat::flac).encoderPruning);
    // Where the ladder already rates the file on the pruning's rung nothing changes.
    const AnalysisResult bright = classify(20500, std::nullopt, 22100);
    EXPECT_EQ(bright, classifier.classify(20500, AudioFormat::mp3, {}, 44100, {}, 22100));
    EXPECT_FALSE(bright.encoderPruning);

    EXPECT_TRUE(QualityClassifier::wantsLoudReach(wall, 20500));
    EXPECT_FALSE(QualityClassifier::wantsLoudReach(wall, 19700));
    EXPECT_FALSE(QualityClassifier::wantsLoudReach(LossyEvidence { 18600, 40, 300 }, 22100));
    EXPECT_FALSE(QualityClassifier::wantsLoudReach(std::nullopt, 22100));
}

TEST(AnalysisResultTest, EncoderDescriptionNamesTheEncoderAndItsLowPass)
{
    AnalysisResult result;
    EXPECT_EQ(result.encoderDescription(), "");
    result.encoder = "LAME3.100";
    EXPECT_EQ(result.encoderDescription(), "LAME3.100");
    result.encoderLowpass = 19500;
    EXPECT_EQ(result.encoderDescription(), "LAME3.100, lowpass 19.5 kHz");
}

TEST(QualityClassifierWallTest, WallsThatChangeNoRungOrSitAtAnEncodersOwnLowPassChangeNothing)
{
    const QualityClassifier classifier;
    const auto unchanged = [&](float cutoff, AudioFormat format, LossyEvidence wall) {
        const AnalysisResult ladder = classifier.classify(cutoff, format, {}, 44100);
        const AnalysisResult combined = classifier.classify(cutoff, format, {}, 44100, wall);
        EXPECT_EQ(combined, ladder) << cutoff << " with a wall at " << wall.wallFrequency;
        EXPECT_FALSE(combined.lossyEvidence);
    };
    // The ladder already found the encoder's low-pass (128 kbps: 17 kHz).
    unchanged(17000, AudioFormat::mp3, { 16900, 40, 200 });
    unchanged(17000, AudioFormat::flac, { 16600, 40, 200 });
    // A genuine V0 or 256 kbps MP3: its own low-pass sits above 19 kHz.
    unchanged(20500, AudioFormat::mp3, { 19500, 30, 200 });
    unchanged(20000, AudioFormat::mp3, { 19700, 30, 200 });
    // A wall above the cutoff says nothing more.
    unchanged(15500, AudioFormat::mp3, { 18000, 30, 200 });
}
