#include "MetadataEditor.h"
#include "MixxxLibrary.h"
#include "Processing.h"
#include "SystemFileOperations.h"

#include "../SondrelCore/FixtureFolder.h"
#include "MixxxDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace sondrel::app;
using sondrel::core::AnalysisResult;
using sondrel::core::QualityRating;
using sondrel::core::UserOverride;
using sondrel::test::FixtureFolder;
using sondrel::test::MixxxDatabase;
namespace fs = std::filesystem;

namespace {

class MixxxCrateStepTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(m_processes); }

    // A scanned file on disk and in the store; `inMixxx`: Mixxx's scan found it too.
    // `djReady`: the user's own verdict says the file is fine for DJ use.
    AudioFile add(const std::string& name, ScanStatus status, bool inMixxx = true, bool djReady = false)
    {
        const fs::path path = m_folder / name;
        fs::create_directories(m_folder);
        std::ofstream(path) << "audio bytes";
        AudioFile file(path);
        file.setStatus(status);
        file.setResult(AnalysisResult { 16000.0f, 128, QualityRating::poor, 0.5f, { 0, 49152, 0.5f } });
        if (djReady)
            file.setUserOverride(UserOverride { true, QualityRating::high, {} });
        m_store.addFiles({ file });
        if (inMixxx)
            m_mixxx.addTrack(path);
        return file;
    }

    ProcessingRequest crateRequest() const
    {
        ProcessingRequest request;
        request.crate = MixxxCrateRequest { m_crate, m_mixxx.path(), m_processes };
        return request;
    }

    FixtureFolder m_temp;
    fs::path m_folder = m_temp.path() / "library";
    fs::path m_processes = m_temp.path() / "proc";
    MixxxDatabase m_mixxx { m_temp.path() / "mixxxdb.sqlite" };
    const std::string m_crate = MixxxLibrary::kDefaultCrateName;
    FilesStore m_store;
    SystemFileOperations m_operations;
    MetadataEditor m_editor;
    std::ostringstream m_progress;
};

} // namespace

TEST_F(MixxxCrateStepTest, FailedFilesGoInBeforeTheRenameAndDjReadyOnesStayOut)
{
    add("fake.mp3", ScanStatus::failed());
    add("good.mp3", ScanStatus::passed());
    add("unknown.mp3", ScanStatus::failed(), false);
    add("kept.mp3", ScanStatus::failed(), true, true);

    ProcessingRequest request = crateRequest();
    request.rename = true;
    const std::vector<AudioFile> files = m_store.snapshot();

    const std::vector<std::string> plan = Processing::plan(request, files);
    ASSERT_GE(plan.size(), 2u);
    EXPECT_EQ(plan[0], "crate: " + (m_folder / "fake.mp3").string());
    EXPECT_EQ(plan[1], "crate: " + (m_folder / "unknown.mp3").string() + " (Not in the Mixxx library)");

    const ProcessingResults results
        = Processing(m_store, m_operations, m_editor, m_progress).run(request, files);
    EXPECT_EQ(results.crateAddedCount, 1);
    EXPECT_EQ(results.notInMixxxLibrary, std::vector<std::string> { (m_folder / "unknown.mp3").string() });
    EXPECT_TRUE(results.errors.empty());
    // The crate holds the path Mixxx knows, although the file has been renamed since.
    EXPECT_EQ(m_mixxx.crate(m_crate), (m_folder / "fake.mp3").string());
    EXPECT_TRUE(fs::exists(m_folder / "fake fake-128.mp3"));

    const std::vector<std::string> lines = results.lines();
    EXPECT_EQ(lines[1], "1 files added to Mixxx crate");
    // The unknown file is listed under its heading; the kept one under its own.
    const auto heading = std::find(lines.begin(), lines.end(), "Not in the Mixxx library");
    ASSERT_NE(heading, lines.end());
    ASSERT_NE(heading + 1, lines.end());
    EXPECT_EQ(*(heading + 1), (m_folder / "unknown.mp3").string());
    const auto kept = std::find(lines.begin(), lines.end(), "Kept: marked DJ ready");
    ASSERT_NE(kept, lines.end());
    ASSERT_NE(kept + 1, lines.end());
    EXPECT_EQ(*(kept + 1), (m_folder / "kept.mp3").string());
}

TEST_F(MixxxCrateStepTest, ARefusedCrateIsAnErrorLineAndTheOtherStepsStillRun)
{
    add("fake.mp3", ScanStatus::failed());
    fs::create_directories(m_processes / "31");
    std::ofstream(m_processes / "31" / "comm") << "mixxx\n";
    ProcessingRequest request = crateRequest();
    request.rename = true;
    const ProcessingResults results
        = Processing(m_store, m_operations, m_editor, m_progress).run(request, m_store.snapshot());
    ASSERT_EQ(results.errors.size(), 1u);
    EXPECT_EQ(results.errors[0].rfind("Mixxx crate: Mixxx is running (mixxx (process 31))", 0), 0u);
    EXPECT_EQ(results.renamedCount, 1);
    EXPECT_TRUE(results.hasIssues());
    EXPECT_EQ(m_mixxx.query("SELECT COUNT(*) FROM crates"), "0");
}
