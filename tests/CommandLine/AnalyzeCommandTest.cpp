#include "AnalyzeCommand.h"

#include "../SondrelCore/FixtureLibrary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

using sondrel::app::AnalyzeOptions;
using sondrel::app::runAnalyze;
using sondrel::test::FixtureFolder;

namespace {

class AnalyzeCommandTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = sondrel::test::fixtureLibrary();
        ASSERT_FALSE(s_folder.empty());
    }

    static std::vector<std::filesystem::path> files(std::initializer_list<const char*> names)
    {
        std::vector<std::filesystem::path> paths;
        for (const char* name : names)
            paths.push_back(s_folder / name);
        return paths;
    }

    // The output with the folder and the timings, which vary from run to run, blanked.
    static std::string stable(std::string text)
    {
        text = std::regex_replace(text, std::regex(s_folder.string() + "/"), "");
        return std::regex_replace(
            text, std::regex(R"re("(decodeMs|fftMs|totalMs)":[0-9.e+-]+)re"), "\"$1\":0");
    }

    static inline std::filesystem::path s_folder;
};

} // namespace

TEST_F(AnalyzeCommandTest, JsonLinesMatchTheGoldenOutput)
{
    AnalyzeOptions options;
    options.json = true;
    options.jobs = 2;
    options.files = files({ "stereo-44100-flac-s16-genuine.flac", "stereo-44100-mp3-cbr128-from-lossless.mp3",
        "stereo-44100-wav-clipped.wav", "stereo-96000-flac-s24-genuine.flac",
        "stereo-44100-m4a-aac256-from-lossless.m4a", "mono-44100-wav-4095-frames.wav", "missing.aiff" });
    std::ostringstream out;
    EXPECT_EQ(runAnalyze(options, out), 1);
    const std::string golden = std::string(SONDREL_GOLDEN_DIR) + "/analyze.jsonl";
    if (std::getenv("SONDREL_UPDATE_GOLDEN"))
        std::ofstream(golden) << stable(out.str());
    EXPECT_EQ(stable(out.str()), sondrel::test::readText(golden));
}

TEST_F(AnalyzeCommandTest, QuickScreenJson)
{
    AnalyzeOptions options;
    options.json = true;
    options.quick = true;
    options.files
        = files({ "stereo-44100-flac-s16-genuine.flac", "stereo-44100-mp3-cbr128-from-lossless.mp3" });
    std::ostringstream out;
    EXPECT_EQ(runAnalyze(options, out), 0);
    EXPECT_EQ(stable(out.str()),
        "{\"path\":\"stereo-44100-flac-s16-genuine.flac\",\"cutoff\":20500.0,\"confidence\":\"clearPass\"}\n"
        "{\"path\":\"stereo-44100-mp3-cbr128-from-lossless.mp3\",\"cutoff\":17000.0,\"confidence\":"
        "\"borderline\"}\n");
}

TEST_F(AnalyzeCommandTest, OutputKeepsArgumentOrderWhateverTheJobs)
{
    std::vector<std::filesystem::path> many;
    for (int i = 0; i < 6; ++i) {
        for (const auto& path : files({ "mono-44100-wav-4096-frames.wav",
                 "stereo-44100-mp3-cbr320-from-lossless.mp3", "nowhere.wav" }))
            many.push_back(path);
    }
    std::string first;
    for (unsigned jobs : { 1u, 2u, 5u }) {
        AnalyzeOptions options;
        options.files = many;
        options.jobs = jobs;
        std::ostringstream out;
        EXPECT_EQ(runAnalyze(options, out), 1);
        if (first.empty())
            first = out.str();
        EXPECT_EQ(out.str(), first) << jobs << " jobs";
    }
    EXPECT_NE(first.find("nowhere.wav"), std::string::npos);
    EXPECT_NE(first.find("error: No such file or directory"), std::string::npos);
}

TEST_F(AnalyzeCommandTest, TextLineForAFileThatPassesAndExitZero)
{
    AnalyzeOptions options;
    options.files = files({ "stereo-44100-aiff-s16-genuine.aiff" });
    std::ostringstream out;
    EXPECT_EQ(runAnalyze(options, out), 0);
    EXPECT_EQ(out.str(),
        "stereo-44100-aiff-s16-genuine.aiff  Lossless   1411 kbps  20.5 kHz  confidence 0.50  clipping "
        "None\n");
}

TEST_F(AnalyzeCommandTest, NamesThatAreNotUtf8ShowWithReplacementCharacters)
{
    const FixtureFolder folder;
    const auto odd = folder / "odd\xFF\xFE.wav";
    std::filesystem::copy_file(s_folder / "mono-44100-wav-4096-frames.wav", odd);
    for (bool json : { false, true }) {
        AnalyzeOptions options;
        options.json = json;
        options.files = { odd };
        std::ostringstream out;
        EXPECT_EQ(runAnalyze(options, out), 0);
        EXPECT_NE(out.str().find("odd\xEF\xBF\xBD\xEF\xBF\xBD.wav"), std::string::npos) << out.str();
    }
}
