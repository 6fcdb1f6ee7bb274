// Soft material, where the band ladder reads a lossy file's floor as content: a quiet
// piano-like piece over hiss, genuine and through a 128 kbps MP3.

#include "AudioIo.h"
#include "FileVerdict.h"
#include "FixtureFolder.h"
#include "QualityClassifier.h"
#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace sondrel::core {
namespace {

namespace fx = sondrel::fixtures;

constexpr int kRate = 44100;

// Notes every half second whose harmonics die away faster the higher they are, peaking near
// -30 dBFS, over hiss that rises toward the top like a tape's; the same on both channels (a
// stereo encoder at 128 kbps cuts near 16.5 kHz). At 10 kHz the piano is already below the hiss.
fx::Signal quietPianoWithHiss(double hissDb)
{
    constexpr double kSeconds = 6.0;
    const auto frames = static_cast<std::size_t>(kSeconds * kRate);
    std::vector<float> mono(frames);
    const double notes[] = { 220.0, 277.2, 329.6, 440.0, 370.0, 293.7 };
    const std::size_t noteFrames = kRate / 2;
    for (std::size_t start = 0, n = 0; start < frames; start += noteFrames, ++n) {
        const double fundamental = notes[n % std::size(notes)];
        for (int k = 1; k * fundamental < 12000.0; ++k) {
            const double amplitude = 0.02 / std::pow(k, 1.5);
            const double decay = 2.0 + 1.5 * k;
            const double step = 2.0 * std::numbers::pi * k * fundamental / kRate;
            for (std::size_t i = 0; start + i < frames && i < 3 * noteFrames; ++i) {
                const double t = static_cast<double>(i) / kRate;
                mono[start + i] += static_cast<float>(amplitude * std::exp(-decay * t) * std::sin(step * static_cast<double>(i)));
            }
        }
    }
    fx::SplitMix64 random(22);
    const double level = std::pow(10.0, hissDb / 20.0);
    float previous = 0.0f;
    for (float& sample : mono) {
        const float white = random.nextBipolar();
        // White noise plus its first difference: flat, then rising toward the top.
        sample += static_cast<float>(level * (0.7 * white + 0.7 * (white - previous)));
        previous = white;
    }
    fx::Signal signal { std::vector<float>(2 * frames), kRate, 2 };
    for (std::size_t i = 0; i < frames; ++i)
        signal.samples[2 * i] = signal.samples[2 * i + 1] = mono[i];
    return signal;
}

// Steady content up to 16 kHz (tones every 100 Hz over a 1 kHz note) and, between the three
// excerpts, three loud moments of full-band noise where the look for the loudest moments reads.
fx::Signal steadyPieceWithLoudMoments()
{
    constexpr std::size_t kFrames = 6 * kRate;
    const auto segment = static_cast<std::size_t>(SpectrumAnalyzer::samplesPerSegment);
    std::vector<float> mono(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double sample = 0.1 * std::sin(2.0 * std::numbers::pi * 1000.0 * t);
        for (int hz = 10000; hz < 16000; hz += 100)
            sample += 0.002 * std::sin(2.0 * std::numbers::pi * hz * t + hz);
        mono[i] = static_cast<float>(sample);
    }
    fx::SplitMix64 random(5);
    const auto moments = SpectrumAnalyzer::loudReachExcerpts(kFrames);
    for (const std::size_t index : { 1, 5, 9 }) {
        for (std::size_t i = 0; i < segment; ++i) {
            const double window
                = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / segment);
            mono[moments.at(index).position + i] += static_cast<float>(0.05 * window * random.nextBipolar());
        }
    }
    fx::Signal signal { std::vector<float>(2 * kFrames), kRate, 2 };
    for (std::size_t i = 0; i < kFrames; ++i)
        signal.samples[2 * i] = signal.samples[2 * i + 1] = mono[i];
    return signal;
}

class BrickWallEndToEndTest : public testing::Test {
protected:
    std::filesystem::path write(const std::string& name, const fx::Signal& signal, fx::Container container, int kbps = 0)
    {
        const auto path = m_folder.path() / name;
        fx::EncodeOptions options;
        options.container = container;
        options.bitrateKbps = kbps;
        const std::string error = fx::writeAudioFile(path, signal, options);
        EXPECT_EQ(error, "") << name;
        return path;
    }

    // The genuine piece, a 16-bit copy of its 128 kbps MP3, and a 320 kbps MP3 made from that MP3.
    void makePieces(double hissDb)
    {
        const fx::Signal piece = quietPianoWithHiss(hissDb);
        m_genuine = write("genuine.flac", piece, fx::Container::Flac);
        const auto mp3 = write("source-128.mp3", piece, fx::Container::Mp3, 128);
        const fx::DecodedAudio decoded = fx::decodeToFloat(mp3);
        ASSERT_TRUE(decoded.ok()) << decoded.error;
        m_flacFromMp3 = write("flac-from-mp3-cbr128.flac", decoded.signal, fx::Container::Flac);
        m_mp3FromMp3 = write("mp3-cbr320-from-mp3-cbr128.mp3", decoded.signal, fx::Container::Mp3, 320);
    }

    static AnalysisResult verdict(const std::filesystem::path& path)
    {
        auto verdict = analyzeAndClassify(path, audioFormatOf(path));
        EXPECT_TRUE(verdict) << path << ": " << verdict.error().description;
        return verdict ? verdict->result : AnalysisResult {};
    }

    test::FixtureFolder m_folder;
    std::filesystem::path m_genuine;
    std::filesystem::path m_flacFromMp3;
    std::filesystem::path m_mp3FromMp3;
};

TEST_F(BrickWallEndToEndTest, QuietPieceOverHissPassesAndItsTranscodesFailOnTheirWall)
{
    if (!fx::encoderAvailable(fx::Container::Mp3))
        GTEST_SKIP() << "FFmpeg has no MP3 encoder";
    makePieces(-72.0);

    const AnalysisResult genuine = verdict(m_genuine);
    EXPECT_EQ(genuine.rating, QualityRating::lossless);
    EXPECT_FALSE(genuine.lossyEvidence);
    EXPECT_GE(genuine.judgedCutoff(), 20000.0f);

    const AnalysisResult flac = verdict(m_flacFromMp3);
    ASSERT_TRUE(flac.lossyEvidence);
    // The ladder alone reads the 16-bit floor as content and would pass the FLAC.
    EXPECT_GE(flac.cutoffFrequency, 20000.0f);
    // The encoder's low-pass at 128 kbps, found from the wall and not from fixed levels.
    EXPECT_GT(flac.lossyEvidence->wallFrequency, 15500.0f);
    EXPECT_LT(flac.lossyEvidence->wallFrequency, 17500.0f);
    EXPECT_GE(flac.lossyEvidence->depth, 10.0f);
    EXPECT_EQ(flac.rating, QualityRating::suspicious);
    EXPECT_EQ(flac.estimatedBitrate, 128);
    EXPECT_LT(flac.judgedCutoff(), 20000.0f);

    // Re-encoded at 320 kbps the wall sits where the ladder finds it too, so nothing changes.
    const AnalysisResult mp3 = verdict(m_mp3FromMp3);
    EXPECT_LT(mp3.cutoffFrequency, 17500.0f);
    EXPECT_EQ(mp3.rating, QualityRating::poor);
    EXPECT_FALSE(mp3.lossyEvidence);
}

TEST_F(BrickWallEndToEndTest, ASixteenBitCopyOfALossyFileIsCaughtByItsBareRoundingFloor)
{
    if (!fx::encoderAvailable(fx::Container::Mp3))
        GTEST_SKIP() << "FFmpeg has no MP3 encoder";
    // Hiss so faint that the 128 kbps MP3 keeps none of it above its low-pass, and the fall from
    // what is left is too shallow for a wall. Only a copy made through 16-bit samples has the
    // floor: a transcode made from the decoder's floats has nothing at all there.
    makePieces(-96.0);

    const AnalysisResult genuine = verdict(m_genuine);
    EXPECT_EQ(genuine.rating, QualityRating::lossless);
    EXPECT_FALSE(genuine.lossyEvidence);

    auto raw = SpectrumAnalyzer::make()->analyzeFileComplete(m_flacFromMp3);
    ASSERT_TRUE(raw) << raw.error().description;
    // The ladder reads the rounding noise as content.
    EXPECT_GE(raw->cutoff, 20000.0f);
    ASSERT_TRUE(raw->lossyEvidence);
    EXPECT_EQ(raw->lossyEvidence->kind, LossyEvidence::Kind::roundingFloor);
    EXPECT_GT(raw->lossyEvidence->wallFrequency, 15500.0f);
    EXPECT_LT(raw->lossyEvidence->wallFrequency, 17500.0f);
    const AnalysisResult copy = verdict(m_flacFromMp3);
    EXPECT_EQ(copy.lossyEvidence, raw->lossyEvidence);
    EXPECT_EQ(copy.rating, QualityRating::suspicious);
    EXPECT_EQ(copy.estimatedBitrate, 128);
    EXPECT_LT(copy.judgedCutoff(), 20000.0f);
    EXPECT_EQ(copy.evidenceExplanation().rfind("Nothing but 16-bit rounding noise above 1", 0), 0u)
        << copy.evidenceExplanation();
}

// Debian's lame command writes the LAME tag with the low-pass it used; FFmpeg's muxer leaves
// that field unknown.
bool lame(const std::string& options, const std::filesystem::path& from, const std::filesystem::path& to)
{
    const std::string command = "lame --quiet " + options + " '" + from.string() + "' '" + to.string() + "'";
    return std::system(command.c_str()) == 0;
}

TEST_F(BrickWallEndToEndTest, TheLameTagsLowPassExplainsTheEncodersOwnWallButNotASourcesWall)
{
    if (std::system("command -v lame >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no lame command";
    const auto wav = write("piece.wav", quietPianoWithHiss(-60.0), fx::Container::Wav);

    // A genuine 192 kbps MP3: its own low-pass leaves a wall below the ladder's rung for it.
    const auto genuine = m_folder.path() / "genuine-192.mp3";
    ASSERT_TRUE(lame("-b 192", wav, genuine));
    auto raw = SpectrumAnalyzer::make()->analyzeFileComplete(genuine);
    ASSERT_TRUE(raw) << raw.error().description;
    ASSERT_TRUE(raw->encoderTag);
    EXPECT_TRUE(raw->encoderTag->encoder.starts_with("LAME")) << raw->encoderTag->encoder;
    ASSERT_TRUE(raw->encoderTag->lowpass);
    const int lowpass = *raw->encoderTag->lowpass;
    EXPECT_GT(lowpass, 17500);
    EXPECT_LT(lowpass, 19500);
    ASSERT_TRUE(raw->lossyEvidence);
    EXPECT_GE(raw->lossyEvidence->wallFrequency,
        static_cast<float>(lowpass) - QualityClassifier::ownLowpassTolerance);
    // Without the tag that wall would lower the ladder's rating.
    EXPECT_TRUE(QualityClassifier {}
                    .classify(raw->cutoff, AudioFormat::mp3, raw->clipping, 44100, raw->lossyEvidence)
                    .lossyEvidence);
    const AnalysisResult own = verdict(genuine);
    EXPECT_EQ(own.encoder, raw->encoderTag->encoder);
    EXPECT_EQ(own.encoderLowpass, lowpass);
    // Every other field is the ladder's.
    AnalysisResult ladder
        = QualityClassifier {}.classify(raw->cutoff, AudioFormat::mp3, raw->clipping, 44100);
    ladder.encoder = own.encoder;
    ladder.encoderLowpass = own.encoderLowpass;
    EXPECT_EQ(own, ladder);

    // A 320 kbps MP3 made from a 128 kbps one: its tag states 20.5 kHz, yet it fails.
    const auto source = m_folder.path() / "source-128.mp3";
    ASSERT_TRUE(lame("-b 128", wav, source));
    const fx::DecodedAudio decoded = fx::decodeToFloat(source);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    const auto decodedWav = write("source-128.wav", decoded.signal, fx::Container::Wav);
    const auto fake = m_folder.path() / "320-from-128.mp3";
    ASSERT_TRUE(lame("-b 320", decodedWav, fake));
    const AnalysisResult transcode = verdict(fake);
    ASSERT_TRUE(transcode.encoderLowpass);
    EXPECT_GE(*transcode.encoderLowpass, 20000);
    EXPECT_LT(transcode.judgedCutoff(), 17500.0f);
}

TEST_F(BrickWallEndToEndTest, LoudMomentsAboveEverySmallSourcesLowPassClearAnEncoderThatKeepsTheTop)
{
    if (std::system("command -v lame >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no lame command";
    const auto wav = write("piece.wav", steadyPieceWithLoudMoments(), fx::Container::Wav);

    // Genuine at 320 kbps and V0: the excerpts stop at 16 kHz, the loud moments do not.
    const auto cbr = m_folder.path() / "genuine-320.mp3";
    const auto v0 = m_folder.path() / "genuine-v0.mp3";
    ASSERT_TRUE(lame("-b 320", wav, cbr));
    ASSERT_TRUE(lame("-V0", wav, v0));
    for (const auto& path : { cbr, v0 }) {
        const AnalysisResult genuine = verdict(path);
        EXPECT_LT(genuine.cutoffFrequency, 17000.0f) << path;
        EXPECT_FALSE(genuine.lossyEvidence) << path;
        ASSERT_TRUE(genuine.encoderPruning) << path;
        EXPECT_GE(genuine.judgedCutoff(), 20000.0f) << path;
        EXPECT_EQ(genuine.rating, QualityRating::high) << path;
    }
    // At 320 kbps LAME keeps the rounding noise above 16 kHz: a floor in the excerpts, which the
    // loud moments outweigh.
    auto raw = SpectrumAnalyzer::make()->analyzeFileComplete(cbr);
    ASSERT_TRUE(raw) << raw.error().description;
    ASSERT_TRUE(raw->loudReach);
    EXPECT_GE(*raw->loudReach, 20000.0f);
    EXPECT_EQ(verdict(cbr).encoderPruning->loudReach, raw->loudReach);

    // The same piece through a 128 kbps MP3 first: its loud moments stop at the source's
    // low-pass, so a 320 made from it fails.
    const auto source = m_folder.path() / "source-128.mp3";
    ASSERT_TRUE(lame("-b 128", wav, source));
    const fx::DecodedAudio decoded = fx::decodeToFloat(source);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    const auto fake = m_folder.path() / "320-from-128.mp3";
    ASSERT_TRUE(lame("-b 320", write("source-128.wav", decoded.signal, fx::Container::Wav), fake));
    const AnalysisResult transcode = verdict(fake);
    EXPECT_FALSE(transcode.encoderPruning);
    EXPECT_LT(transcode.judgedCutoff(), 17500.0f);
}

} // namespace
} // namespace sondrel::core
