// Real encoded files, made by libavcodec's own encoders, judged end to end.

#include "FileVerdict.h"
#include "FixtureLibrary.h"
#include "QualityClassifier.h"
#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace sondrel::core;
using sondrel::test::FixtureFolder;

namespace {

class EndToEndTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = sondrel::test::fixtureLibrary();
        ASSERT_FALSE(s_folder.empty());
    }

    struct Verdict {
        AnalysisResult result;
        AnalysisMetrics metrics;
    };

    static sondrel::Result<Verdict> judge(const std::string& name)
    {
        // The whole road, brick-wall detector included.
        const auto path = s_folder / name;
        auto verdict = analyzeAndClassify(path, audioFormatOf(path));
        if (!verdict)
            return verdict.error();
        return Verdict { verdict->result, verdict->metrics };
    }

    static std::filesystem::path path(const std::string& name) { return s_folder / name; }

    static inline std::filesystem::path s_folder;
};

} // namespace

TEST_F(EndToEndTest, GenuineLosslessFilesPass)
{
    for (const char* name : { "stereo-44100-wav-s16-genuine.wav", "stereo-44100-wav-f32-genuine.wav",
             "stereo-44100-aiff-s16-genuine.aiff", "stereo-44100-flac-s16-genuine.flac",
             "stereo-44100-flac-s24-genuine.flac" }) {
        auto verdict = judge(name);
        ASSERT_TRUE(verdict) << name << ": " << verdict.error().description;
        EXPECT_EQ(verdict->result.rating, QualityRating::lossless) << name;
        EXPECT_EQ(verdict->result.estimatedBitrate, 1411) << name;
        EXPECT_TRUE(verdict->result.passesThreshold()) << name;
        EXPECT_FALSE(verdict->result.lossyEvidence) << name;
        EXPECT_EQ(verdict->metrics.sampleCount, 49152) << name;
        EXPECT_EQ(verdict->metrics.frameCount, 21) << name;
    }
}

TEST_F(EndToEndTest, LossyFilesAreRatedByTheirEncodersLowPass)
{
    // Higher bitrates never rate lower: 128 kbps fails, 320 passes as high.
    float previous = 0.0f;
    for (int kbps : { 128, 192, 256, 320 }) {
        auto verdict = judge("stereo-44100-mp3-cbr" + std::to_string(kbps) + "-from-lossless.mp3");
        ASSERT_TRUE(verdict) << kbps;
        EXPECT_GE(verdict->result.cutoffFrequency, previous) << kbps;
        previous = verdict->result.cutoffFrequency;
        if (kbps == 128) {
            EXPECT_EQ(verdict->result.rating, QualityRating::poor);
            EXPECT_EQ(verdict->result.estimatedBitrate, 128);
            EXPECT_FALSE(verdict->result.passesThreshold());
        } else if (kbps == 320) {
            EXPECT_EQ(verdict->result.rating, QualityRating::high);
            EXPECT_TRUE(verdict->result.passesThreshold());
        }
    }
    auto aac = judge("stereo-44100-m4a-aac128-from-lossless.m4a");
    ASSERT_TRUE(aac) << aac.error().description;
    EXPECT_FALSE(aac->result.passesThreshold());
}

TEST_F(EndToEndTest, EveryTranscodeIsCaught)
{
    for (const char* name :
        { "stereo-44100-mp3-cbr320-from-mp3-cbr128.mp3", "stereo-44100-flac-from-mp3-cbr128.flac",
            "stereo-44100-wav-from-mp3-cbr128.wav", "stereo-44100-flac-from-m4a-aac128.flac" }) {
        auto verdict = judge(name);
        ASSERT_TRUE(verdict) << name;
        EXPECT_FALSE(verdict->result.passesThreshold()) << name;
        EXPECT_LT(verdict->result.cutoffFrequency, 20000.0f) << name;
    }
    auto flac = judge("stereo-44100-flac-from-mp3-cbr128.flac");
    EXPECT_EQ(flac->result.rating, QualityRating::suspicious);
    EXPECT_EQ(flac->result.estimatedBitrate, 128);
}

TEST_F(EndToEndTest, ClippingSilenceAndASilentFirstChannel)
{
    auto clipped = judge("stereo-44100-wav-clipped.wav");
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped->result.clipping.severity(), ClippingSeverity::severe);
    EXPECT_EQ(clipped->result.clipping.peakAmplitude, 1.0f);
    EXPECT_FALSE(clipped->result.passesThreshold());

    // Silence is no verdict: rated, it would pass for a lossy source.
    auto silence = judge("stereo-44100-wav-silence.wav");
    ASSERT_FALSE(silence);
    EXPECT_EQ(silence.error().description, "No sound to judge: the excerpts are silent");
    // A genuine file whose first channel is silent is judged on the other.
    auto silentLeft = judge("stereo-44100-wav-silent-left.wav");
    ASSERT_TRUE(silentLeft) << silentLeft.error().description;
    EXPECT_EQ(silentLeft->result.rating, QualityRating::lossless);
    EXPECT_GE(silentLeft->result.cutoffFrequency, 20500.0f);
    EXPECT_GT(silentLeft->result.clipping.peakAmplitude, 0.5f);
}

TEST_F(EndToEndTest, ShortFilesAreAnalysedFromOneFrameOn)
{
    auto tooShort = judge("mono-44100-wav-4095-frames.wav");
    ASSERT_FALSE(tooShort);
    EXPECT_EQ(tooShort.error().description, "Audio file is too short to analyze");
    struct Case {
        const char* name;
        std::int64_t samples;
        std::int64_t frames;
    };
    for (const Case c : { Case { "mono-44100-wav-4096-frames.wav", 4096, 1 },
             Case { "mono-44100-wav-10000-frames.wav", 10000, 3 },
             Case { "mono-44100-wav-49152-frames.wav", 49152, 21 } }) {
        auto verdict = judge(c.name);
        ASSERT_TRUE(verdict) << c.name;
        EXPECT_EQ(verdict->metrics.sampleCount, c.samples) << c.name;
        EXPECT_EQ(verdict->metrics.frameCount, c.frames) << c.name;
    }
}

TEST_F(EndToEndTest, TruncatedFilesFailWithAClearError)
{
    const FixtureFolder folder;
    for (const char* name :
        { "stereo-44100-flac-s16-genuine.flac", "stereo-44100-mp3-cbr320-from-lossless.mp3" }) {
        std::ifstream in(path(name), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto truncated = folder / (std::string("truncated-") + name);
        std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 3);
        auto analyzer = SpectrumAnalyzer::make();
        auto result = analyzer->analyzeFileComplete(truncated);
        ASSERT_FALSE(result) << name;
        EXPECT_EQ(result.error().description, description(AnalyzerError::endedEarly)) << name;
    }
}
