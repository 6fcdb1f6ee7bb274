#include "FileListRules.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace sondrel::app {
namespace {

using core::AudioFormat;
using core::QualityRating;
using Verdict = FileListRules::DJReadyVerdict;

AudioFile makeFile(const std::string& name, AudioFormat format, const core::ID3Parser::Metadata& tags = {})
{
    return AudioFile("/library/" + name, format, 1000, tags);
}

AudioFile analysed(
    AudioFile file, float cutoff, std::int64_t estimate, QualityRating rating, std::int64_t clipped = 0)
{
    file.setResult(core::AnalysisResult { cutoff, estimate, rating, 0.9f, { clipped, 10000, 1.0f } });
    return file;
}

std::vector<std::string> filteredNames(
    const std::vector<AudioFile>& files, bool failedOnly, std::string_view search)
{
    std::vector<std::string> names;
    for (const AudioFile& file : FileListRules::filteredFiles(files, failedOnly, search))
        names.push_back(file.name());
    return names;
}

TEST(FileListRulesTest, SearchLooksAtNameArtistAlbumAndTitleIgnoringCase)
{
    std::vector<AudioFile> library = {
        makeFile("01.mp3", AudioFormat::mp3, { std::nullopt, "The Beatles", std::nullopt, std::nullopt }),
        makeFile("Beat It.mp3", AudioFormat::mp3),
        makeFile("02.mp3", AudioFormat::mp3, { std::nullopt, std::nullopt, "Heartbeat City", std::nullopt }),
        makeFile("03.flac", AudioFormat::flac, { "UPBEAT", std::nullopt, std::nullopt, std::nullopt }),
        makeFile("04.wav", AudioFormat::wav, { "Été  indien", "Someone", std::nullopt, std::nullopt }),
    };
    library[1].setStatus(ScanStatus::failed());
    library[2].setStatus(ScanStatus::error("Invalid data"));

    EXPECT_EQ(filteredNames(library, false, "BEAT"),
        (std::vector<std::string> { "01.mp3", "Beat It.mp3", "02.mp3", "03.flac" }));
    EXPECT_EQ(filteredNames(library, false, "ÉTÉ"), std::vector<std::string> { "04.wav" });
    EXPECT_EQ(filteredNames(library, false, "été  IN"), std::vector<std::string> { "04.wav" });
    // Letters are not folded: an unaccented search does not find the accented title.
    EXPECT_TRUE(filteredNames(library, false, "ete").empty());
    EXPECT_TRUE(filteredNames(library, false, "the beatles and more").empty());
    // Not trimmed: two spaces match only where there are two spaces.
    EXPECT_EQ(filteredNames(library, false, "  "), std::vector<std::string> { "04.wav" });
    EXPECT_EQ(FileListRules::filteredFiles(library, false, ""), library);
    // Failed only, not errors.
    EXPECT_EQ(filteredNames(library, true, ""), std::vector<std::string> { "Beat It.mp3" });
    EXPECT_TRUE(filteredNames(library, true, "city").empty());
}

// A folder takes in its files at any depth, never a sibling whose name starts the same.
TEST(FileListRulesTest, AFolderHoldsItsFilesAtAnyDepthButNotItsSiblings)
{
    const AudioFile nested = makeFile("Live/2019/a.mp3", AudioFormat::mp3);
    const AudioFile sibling = makeFile("Live Sets/b.mp3", AudioFormat::mp3);
    for (const char* folder : { "/library/Live", "/library/Live/" }) {
        const std::string prefix = FileListRules::folderPrefix(folder);
        EXPECT_EQ(prefix, "/library/Live/");
        EXPECT_TRUE(FileListRules::isInFolder(nested, prefix)) << folder;
        EXPECT_FALSE(FileListRules::isInFolder(sibling, prefix)) << folder;
    }
    EXPECT_TRUE(FileListRules::isInFolder(sibling, FileListRules::folderPrefix("/")));
}

TEST(FileListRulesTest, BitrateAndQualityTexts)
{
    EXPECT_EQ(
        FileListRules::bitrateText(makeFile("a.mp3", AudioFormat::mp3, { {}, {}, {}, 320 })), "320kbps");
    EXPECT_EQ(
        FileListRules::bitrateText(makeFile("a.wav", AudioFormat::wav, { {}, {}, {}, 1411 })), "1411kbps");
    for (const AudioFormat format : { AudioFormat::wav, AudioFormat::aiff, AudioFormat::flac })
        EXPECT_EQ(FileListRules::bitrateText(makeFile("a", format)), "Uncompressed");
    for (const AudioFormat format : { AudioFormat::mp3, AudioFormat::m4a, AudioFormat::aac })
        EXPECT_EQ(FileListRules::bitrateText(makeFile("a", format)), "-");

    const core::AnalysisResult lossless { 22000.0f, 1411, QualityRating::lossless, 0.9f, {} };
    EXPECT_EQ(FileListRules::qualityText(lossless, AudioFormat::wav), "Lossless");
    EXPECT_EQ(FileListRules::qualityText(lossless, AudioFormat::mp3), "1411kbps");
    EXPECT_EQ(FileListRules::qualityText({ 15500.0f, 128, QualityRating::poor, 0.9f, {} }, AudioFormat::flac),
        "128kbps");
}

TEST(FileListRulesTest, TranscodeRuleComparesClaimedAndDetectedBitrates)
{
    struct Case {
        std::optional<std::int64_t> claimed;
        std::int64_t detected;
        AudioFormat format;
        QualityRating rating;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        { 320, 192, AudioFormat::mp3, QualityRating::low, "Marked as 320k" },
        { 320, 193, AudioFormat::mp3, QualityRating::low, std::nullopt },
        { 256, 160, AudioFormat::mp3, QualityRating::low, "Marked as 256k" },
        { 224, 128, AudioFormat::mp3, QualityRating::poor, "Marked as 224k" },
        { 224, 129, AudioFormat::mp3, QualityRating::poor, std::nullopt },
        { 192, 128, AudioFormat::m4a, QualityRating::poor, "Marked as 192k" },
        { 191, 64, AudioFormat::mp3, QualityRating::suspicious, std::nullopt },
        { std::nullopt, 64, AudioFormat::mp3, QualityRating::suspicious, std::nullopt },
        { std::nullopt, 0, AudioFormat::flac, QualityRating::suspicious, "Lossy source" },
        { 320, 128, AudioFormat::aiff, QualityRating::suspicious, "Lossy source" },
        { 320, 128, AudioFormat::wav, QualityRating::poor, "Marked as 320k" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileListRules::issueDescription(c.claimed, c.detected, c.format, c.rating), c.expected)
            << c.claimed.value_or(-1) << " / " << c.detected << " " << core::rawValue(c.format);
    }
}

TEST(FileListRulesTest, IssueTextPutsTheThresholdBeforeTheTranscodeRule)
{
    const AudioFile claims320 = makeFile("a.mp3", AudioFormat::mp3, { {}, {}, {}, 320 });
    EXPECT_EQ(FileListRules::issueText(claims320, QualityThreshold::kbps64), std::nullopt);

    const AudioFile at17500 = analysed(claims320, 17500.0f, 192, QualityRating::low);
    EXPECT_EQ(FileListRules::issueText(at17500, QualityThreshold::kbps192), "Marked as 320k");
    EXPECT_EQ(FileListRules::issueText(at17500, QualityThreshold::kbps224), "Below quality threshold");
    EXPECT_EQ(FileListRules::issueText(
                  analysed(claims320, 20000.0f, 320, QualityRating::high), QualityThreshold::kbps320),
        std::nullopt);
    const float notANumber = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(FileListRules::issueText(
                  analysed(claims320, notANumber, 320, QualityRating::high), QualityThreshold::kbps64),
        "Below quality threshold");

    // The warning icon follows the transcode rule alone, and needs a result.
    EXPECT_TRUE(FileListRules::isTranscode(at17500));
    EXPECT_FALSE(FileListRules::isTranscode(makeFile("b.flac", AudioFormat::flac)));
    EXPECT_TRUE(FileListRules::isTranscode(
        analysed(makeFile("b.flac", AudioFormat::flac), 16000.0f, 0, QualityRating::suspicious)));
}

// The Issue column: an error's description without a result, the issue text, else "Clipping"
// for severe clipping alone.
TEST(FileListRulesTest, ReasonTextExplainsErrorsAndClipping)
{
    AudioFile broken = makeFile("broken.mp3", AudioFormat::mp3);
    broken.setStatus(ScanStatus::error("Audio file is too short to analyze"));
    EXPECT_EQ(
        FileListRules::reasonText(broken, QualityThreshold::kbps320), "Audio file is too short to analyze");
    EXPECT_EQ(FileListRules::reasonText(makeFile("new.mp3", AudioFormat::mp3), QualityThreshold::kbps320),
        std::nullopt);

    const AudioFile clipped
        = analysed(makeFile("loud.wav", AudioFormat::wav), 21000, 1411, QualityRating::lossless, 20);
    EXPECT_EQ(FileListRules::reasonText(clipped, QualityThreshold::kbps320), "Clipping");
    const AudioFile moderate
        = analysed(makeFile("warm.wav", AudioFormat::wav), 21000, 1411, QualityRating::lossless, 1);
    EXPECT_EQ(FileListRules::reasonText(moderate, QualityThreshold::kbps320), std::nullopt);
    const AudioFile both
        = analysed(makeFile("both.mp3", AudioFormat::mp3), 15000, 128, QualityRating::poor, 20);
    EXPECT_EQ(FileListRules::reasonText(both, QualityThreshold::kbps320), "Below quality threshold");
}

TEST(FileListRulesTest, DJReadyWithoutAResultShowsTheScanState)
{
    AudioFile file = makeFile("a.mp3", AudioFormat::mp3);
    EXPECT_EQ(FileListRules::djReadyVerdict(file),
        (Verdict { Verdict::State::notScanned, false, "Not yet scanned", "Not scanned" }));

    file.setStatus(ScanStatus::error("Invalid data found when processing input"));
    file.setUserOverride(core::UserOverride { true, QualityRating::high, {} });
    EXPECT_EQ(FileListRules::djReadyVerdict(file),
        (Verdict { Verdict::State::analysisError, false,
            "Analysis failed: Invalid data found when processing input",
            "Analysis error: Invalid data found when processing input" }));
}

TEST(FileListRulesTest, DJReadyFollowsTheOverrideElseTheResultNotTheStatus)
{
    AudioFile passing = analysed(makeFile("a.mp3", AudioFormat::mp3), 15000.0f, 320, QualityRating::high);
    passing.setStatus(ScanStatus::failed()); // below the threshold, yet the result itself passes
    EXPECT_EQ(FileListRules::djReadyVerdict(passing),
        (Verdict { Verdict::State::ready, false, "Meets quality threshold for DJ use", "DJ ready" }));

    AudioFile clipped
        = analysed(makeFile("b.wav", AudioFormat::wav), 22000.0f, 1411, QualityRating::lossless, 10);
    EXPECT_EQ(FileListRules::djReadyVerdict(clipped),
        (Verdict { Verdict::State::notReady, false,
            "Below quality threshold - may sound poor on large systems", "Not DJ ready" }));

    clipped.setUserOverride(core::UserOverride { true, QualityRating::lossless, {} });
    EXPECT_EQ(FileListRules::djReadyVerdict(clipped),
        (Verdict { Verdict::State::ready, true, "Manually marked as DJ ready", "DJ ready" }));
    passing.setUserOverride(core::UserOverride { false, QualityRating::high, {} });
    EXPECT_EQ(FileListRules::djReadyVerdict(passing),
        (Verdict { Verdict::State::notReady, true, "Manually marked as not DJ ready", "Not DJ ready" }));
}

// The cell keeps its own standard; where the status, judged by the user's threshold, says
// otherwise, the tooltip names both.
TEST(FileListRulesTest, DJReadyTooltipExplainsADisagreementWithTheThreshold)
{
    AudioFile medium = analysed(makeFile("a.mp3", AudioFormat::mp3), 19500.0f, 256, QualityRating::medium);
    medium.setStatus(ScanStatus::passed());
    EXPECT_EQ(FileListRules::djReadyVerdict(medium, QualityThreshold::kbps128),
        (Verdict { Verdict::State::notReady, false, "Not DJ ready: below 320 kbps; passes your 128 kbps threshold",
            "Not DJ ready" }));
    AudioFile clipped
        = analysed(makeFile("b.wav", AudioFormat::wav), 22000.0f, 1411, QualityRating::lossless, 10);
    clipped.setStatus(ScanStatus::passed());
    EXPECT_EQ(FileListRules::djReadyVerdict(clipped, QualityThreshold::kbps320).tooltip,
        "Not DJ ready: severe clipping; passes your 320 kbps threshold");
    AudioFile high = analysed(makeFile("c.mp3", AudioFormat::mp3), 19800.0f, 320, QualityRating::high);
    high.setStatus(ScanStatus::failed());
    EXPECT_EQ(FileListRules::djReadyVerdict(high, QualityThreshold::kbps320).tooltip,
        "DJ ready: rated 320kbps; fails your 320 kbps threshold");
    // Agreement, or the user's own verdict, keeps the plain texts.
    medium.setStatus(ScanStatus::failed());
    EXPECT_EQ(FileListRules::djReadyVerdict(medium, QualityThreshold::kbps320).tooltip,
        "Below quality threshold - may sound poor on large systems");
    high.setUserOverride(core::UserOverride { false, QualityRating::high, {} });
    EXPECT_EQ(FileListRules::djReadyVerdict(high, QualityThreshold::kbps320).tooltip,
        "Manually marked as not DJ ready");
}

} // namespace
} // namespace sondrel::app
