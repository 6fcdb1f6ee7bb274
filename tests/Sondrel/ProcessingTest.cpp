#include "Processing.h"
#include "AnalysisCache.h"
#include "LocalizedTextFrame.h"
#include "MetadataEditor.h"
#include "SystemFileOperations.h"
#include "TagEditor.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <atomic>

#include <fstream>
#include <sstream>

using namespace sondrel::app;
using sondrel::core::AnalysisResult;
using sondrel::core::QualityRating;
using sondrel::test::FixtureFolder;
namespace fs = std::filesystem;

namespace {

// Real renames and moves; a Trash that only records, and can be told to refuse.
class RecordingTrash final : public SystemFileOperations {
public:
    sondrel::Status trashItem(const fs::path& path) noexcept override
    {
        if (failFrom && trashed.size() >= *failFrom)
            return sondrel::Error { "Permission denied" };
        std::error_code ec;
        fs::remove(path, ec);
        trashed.push_back(path);
        return sondrel::Ok {};
    }
    std::vector<fs::path> trashed;
    std::optional<std::size_t> failFrom;
};

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

class ProcessingTest : public testing::Test {
protected:
    fs::path write(const std::string& name, const std::string& bytes = "audio bytes")
    {
        const fs::path path = m_folder / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // A record in the store with a verdict, as a scan leaves it.
    AudioFile add(const std::string& name, ScanStatus status, std::int64_t kbps = 128)
    {
        AudioFile file(write(name));
        file.setStatus(status);
        file.setResult(AnalysisResult { 16000.0f, kbps, QualityRating::poor, 0.5f, { 0, 49152, 0.5f } });
        m_store.addFiles({ file });
        return file;
    }

    ProcessingResults run(const ProcessingRequest& request)
    {
        return Processing(m_store, m_operations, m_editor, m_progress).run(request, m_store.snapshot());
    }

    std::vector<std::string> names(const fs::path& folder)
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    FixtureFolder m_temp;
    fs::path m_folder = m_temp.path() / "library";
    FilesStore m_store;
    RecordingTrash m_operations;
    MetadataEditor m_editor;
    std::ostringstream m_progress;
};

} // namespace

TEST_F(ProcessingTest, RenameMarksFailedFilesOnceAndKeepsTheirVerdicts)
{
    add("Intro fake-96.mp3", ScanStatus::failed());
    add("Fake-Intro.mp3", ScanStatus::failed(), 96);
    add("a.b.mp3", ScanStatus::failed(), 192);
    add("Good.mp3", ScanStatus::passed(), 320);
    ProcessingRequest request;
    request.rename = true;
    const ProcessingResults results = run(request);
    EXPECT_EQ(results.renamedCount, 2);
    EXPECT_TRUE(results.errors.empty());
    EXPECT_EQ(names(m_folder),
        (std::vector<std::string> {
            "Fake-Intro fake-96.mp3", "Good.mp3", "Intro fake-96.mp3", "a.b fake-192.mp3" }));
    const auto counts = m_store.counts();
    EXPECT_EQ(counts.failed, 3);
    EXPECT_EQ(counts.passed, 1);
    for (const AudioFile& file : m_store.snapshot()) {
        EXPECT_TRUE(file.result()) << file.name();
        EXPECT_TRUE(fs::exists(file.url())) << file.name();
    }
}

TEST_F(ProcessingTest, RenameNeverOverwritesAndCountsOnlyWhatItDid)
{
    add("A.mp3", ScanStatus::failed());
    add("B.mp3", ScanStatus::failed());
    write("B fake-128.mp3", "someone else's file");
    ProcessingRequest request;
    request.rename = true;
    const ProcessingResults results = run(request);
    ASSERT_EQ(results.errors.size(), 1u);
    EXPECT_EQ(results.errors[0], "Rename: " + (m_folder / "B.mp3").string() + ": File exists");
    EXPECT_LE(results.renamedCount, 1);
    EXPECT_EQ(readBytes(m_folder / "B fake-128.mp3"), "someone else's file");
    EXPECT_EQ(readBytes(m_folder / "B.mp3"), "audio bytes");
}

TEST_F(ProcessingTest, MoveTakesTheNextFreeNumberedName)
{
    add("Song.mp3", ScanStatus::failed());
    const fs::path destination = m_temp.path() / "rejects";
    fs::create_directories(destination);
    std::ofstream(destination / "Song.mp3") << "first";
    std::ofstream(destination / "Song (1).mp3") << "second";
    ProcessingRequest request;
    request.move = true;
    request.destination = destination;
    const ProcessingResults results = run(request);
    EXPECT_EQ(results.movedCount, 1);
    EXPECT_EQ(readBytes(destination / "Song (2).mp3"), "audio bytes");
    EXPECT_EQ(readBytes(destination / "Song.mp3"), "first");
    const auto records = m_store.snapshot();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].url(), destination / "Song (2).mp3");
    EXPECT_EQ(records[0].status().kind(), ScanStatus::Kind::failed);

    // Ticked without a destination: skipped silently.
    request.destination.reset();
    EXPECT_EQ(run(request).movedCount, 0);
}

TEST_F(ProcessingTest, MoveIntoTheFilesOwnFolderLeavesItAsItIs)
{
    add("Song.mp3", ScanStatus::failed());
    add("Set/Other.mp3", ScanStatus::failed());
    ProcessingRequest request;
    request.move = true;
    // The library's root, named through a path of its own.
    request.destination = m_folder / "Set" / "..";
    const ProcessingResults results = run(request);
    EXPECT_EQ(results.movedCount, 1);
    EXPECT_TRUE(results.errors.empty());
    EXPECT_EQ(names(m_folder), (std::vector<std::string> { "Other.mp3", "Set", "Song.mp3" }));
}

TEST_F(ProcessingTest, ALaterStepFollowsFilesRenamedEarlierInTheSameRun)
{
    const AudioFile chosen = add("Chosen.mp3", ScanStatus::failed());
    add("Other.mp3", ScanStatus::failed());
    ProcessingRequest request;
    request.scope = QSet<QUuid> { chosen.id() };
    request.rename = true;
    request.trash = true;
    const ProcessingResults results = run(request);
    EXPECT_EQ(results.renamedCount, 1);
    EXPECT_EQ(results.deletedCount, 1);
    ASSERT_EQ(m_operations.trashed.size(), 1u);
    EXPECT_EQ(m_operations.trashed[0], m_folder / "Chosen fake-128.mp3");
    EXPECT_EQ(names(m_folder), (std::vector<std::string> { "Other.mp3" }));
    EXPECT_EQ(m_store.snapshot().size(), 1u);
}

TEST_F(ProcessingTest, ATrashThatStopsPartWayDropsTheFilesAlreadyTrashed)
{
    add("1.mp3", ScanStatus::failed());
    add("2.mp3", ScanStatus::failed());
    add("3.mp3", ScanStatus::failed());
    m_operations.failFrom = 1;
    ProcessingRequest request;
    request.trash = true;
    const ProcessingResults results = run(request);
    EXPECT_EQ(results.deletedCount, 1);
    EXPECT_EQ(results.errors,
        (std::vector<std::string> { "Delete: " + (m_folder / "2.mp3").string() + ": Permission denied" }));
    EXPECT_EQ(m_store.snapshot().size(), 2u);
    EXPECT_EQ(m_store.counts().failed, 2);
}

TEST_F(ProcessingTest, TagsAreWrittenIntoEveryAnalysedMp3AndOtherFormatsCountAsFailures)
{
    add("passed.mp3", ScanStatus::passed(), 320);
    add("failed.MP3", ScanStatus::failed(), 128);
    add("lossless.flac", ScanStatus::passed(), 1411);
    ProcessingRequest request;
    request.updateTags = true;
    const ProcessingResults results = run(request);
    EXPECT_EQ(results.metadataUpdatedCount, 2);
    EXPECT_EQ(results.metadataFailedCount, 1);
    EXPECT_NE(m_progress.str().find("Metadata update: 3/3\n"), std::string::npos);
    EXPECT_EQ(readBytes(m_folder / "lossless.flac"), "audio bytes");
    // Each failure names its file and a reason the user can act on.
    const std::string title("TIT2\0\0\0\2\0\0\0a", 12);
    const fs::path damaged = write("damaged.mp3", std::string("ID3\3\0\0\0\0\0\x18", 10) + title + title);
    AudioFile broken(damaged);
    broken.setResult(AnalysisResult { 16000.0f, 128, QualityRating::poor, 0.5f, { 0, 49152, 0.5f } });
    m_store.addFiles({ broken });
    const ProcessingResults again = run(request);
    const std::string flacFailure = (m_folder / "lossless.flac").string() + ": not an MP3 file";
    EXPECT_EQ(results.lines(),
        (std::vector<std::string> { "Processing Complete with Issues", "2 files updated",
            "1 metadata updates failed", "Metadata update failures", flacFailure }));
    ASSERT_EQ(again.metadataFailures.size(), 2u);
    EXPECT_TRUE(std::find(again.metadataFailures.begin(), again.metadataFailures.end(), flacFailure)
        != again.metadataFailures.end());
    EXPECT_TRUE(std::any_of(
        again.metadataFailures.begin(), again.metadataFailures.end(), [&](const std::string& line) {
            return line.starts_with(damaged.string() + ": The tag cannot be read");
        }));
}

TEST_F(ProcessingTest, AStopRequestEndsTheTagPhaseBetweenFiles)
{
    add("a.mp3", ScanStatus::failed());
    add("b.mp3", ScanStatus::failed());
    std::atomic<bool> stop { true };
    ProcessingRequest request;
    request.updateTags = true;
    request.stopTagging = &stop;
    const ProcessingResults results = run(request);
    EXPECT_TRUE(results.interrupted);
    EXPECT_EQ(results.metadataUpdatedCount + results.metadataFailedCount, 0);
    EXPECT_EQ(readBytes(m_folder / "a.mp3"), "audio bytes");
    EXPECT_EQ(results.lines().front(), "Processing Interrupted");
}

TEST_F(ProcessingTest, ResultLinesListNonZeroCountsThenErrors)
{
    ProcessingResults results;
    EXPECT_EQ(results.lines(), (std::vector<std::string> { "Processing Complete" }));
    results.renamedCount = 3;
    results.deletedCount = 2;
    results.errors = { "Move: Permission denied" };
    EXPECT_EQ(results.lines(),
        (std::vector<std::string> { "Processing Complete with Issues", "3 files renamed",
            "2 files moved to Trash", "Errors", "Move: Permission denied" }));
}

// A failed file the user marked DJ ready is their decision: no rename, move or trash touches it,
// while an override on a file the run does act on follows the file, in the store and the cache.
TEST_F(ProcessingTest, AFileMarkedDjReadyIsKeptAndEveryOverrideFollowsItsFile)
{
    sondrel::core::AnalysisCache cache(m_temp.path() / "cache" / "analysis_cache.json");
    const auto mark = [&](const AudioFile& file, bool djReady) {
        const sondrel::core::UserOverride verdict { djReady, QualityRating::high, {} };
        cache.set(file.url(), *file.result());
        cache.setOverride(file.url(), verdict);
        m_store.updateOverride(file.id(), verdict);
    };
    const AudioFile keep = add("Keep.mp3", ScanStatus::failed());
    const AudioFile judged = add("Judged.mp3", ScanStatus::failed());
    add("Plain.mp3", ScanStatus::failed());
    mark(keep, true);
    mark(judged, false);
    const fs::path crate = m_temp.path() / "crate";
    fs::create_directories(crate);

    ProcessingRequest request;
    request.rename = true;
    request.move = true;
    request.destination = crate;
    request.updateTags = true;
    Processing processing(m_store, m_operations, m_editor, m_progress);
    processing.setCache(&cache);
    const ProcessingResults results = processing.run(request, m_store.snapshot());

    EXPECT_EQ(results.renamedCount, 2);
    EXPECT_EQ(results.movedCount, 2);
    EXPECT_EQ(names(m_folder), (std::vector<std::string> { "Keep.mp3" }));
    EXPECT_EQ(names(crate), (std::vector<std::string> { "Judged fake-128.mp3", "Plain fake-128.mp3" }));
    EXPECT_EQ(results.keptFiles, (std::vector<std::string> { keep.url().string() }));
    const auto lines = results.lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
        (std::vector<std::string> { "Kept: marked DJ ready", keep.url().string() }));
    // Still failed: the override stands beside the verdict, it does not replace it.
    EXPECT_EQ(m_store.counts().failed, 3);
    for (const AudioFile& file : m_store.snapshot()) {
        if (file.name() == "Plain fake-128.mp3")
            continue;
        ASSERT_TRUE(file.userOverride()) << file.name();
        EXPECT_EQ(file.userOverride()->djReady, file.name() == "Keep.mp3");
        // The cache knows the verdict under the file's new place and, after the tag write, its
        // new size: a refresh or a restart brings it back.
        const auto cached = cache.getOverride(file.url());
        ASSERT_TRUE(cached) << file.name();
        EXPECT_EQ(cached->djReady, file.name() == "Keep.mp3");
    }
    EXPECT_EQ(results.metadataUpdatedCount, 3);

    // Trashing the failed files leaves the kept one too; the plan says so.
    request = {};
    request.trash = true;
    EXPECT_EQ(Processing::plan(request, m_store.snapshot()).front(),
        "keep: " + keep.url().string() + " (marked DJ ready)");
    const ProcessingResults trashed = run(request);
    EXPECT_EQ(trashed.deletedCount, 2);
    EXPECT_TRUE(fs::exists(keep.url()));
    EXPECT_EQ(trashed.keptFiles.size(), 1u);
}

TEST(MetadataEditorTest, WritesOneEnglishCommentAndKeepsTheAudio)
{
    FixtureFolder folder;
    const fs::path song = folder / "Song.MP3";
    const std::string audio(5000, '\x55');
    std::ofstream(song, std::ios::binary) << audio;
    MetadataEditor editor;
    ASSERT_TRUE(editor.updateBitrate(song, 128));
    ASSERT_TRUE(editor.updateBitrate(song, 192));

    const sondrel::tags::TagEditor tags;
    auto read = tags.read(song);
    ASSERT_TRUE(read);
    ASSERT_TRUE(*read);
    const auto& tag = **read;
    EXPECT_EQ(tag.properties.version, sondrel::tags::Id3Version::version3);
    ASSERT_EQ(tag.frames.size(), 1u);
    const auto* comment = dynamic_cast<const sondrel::tags::LocalizedTextFrame*>(
        tag.frames
            .at(sondrel::tags::FrameName::comment(sondrel::tags::FrameLanguage::eng, "Sondrel Quality Check"))
            .get());
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->contentDescription, "Sondrel Quality Check");
    EXPECT_EQ(comment->content, "Detected bitrate: 192 kbps");
    const std::string bytes = readBytes(song);
    EXPECT_EQ(bytes.substr(bytes.size() - audio.size()), audio);

    const fs::path flac = folder / "Song.flac";
    std::ofstream(flac) << "flac";
    auto refused = editor.updateBitrate(flac, 128);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, description(MetadataError::unsupportedFormat));
    EXPECT_EQ(readBytes(flac), "flac");
}
