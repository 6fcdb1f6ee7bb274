#include "../EventLoop.h"
#include "ScannerViewModel.h"
#include "AnalysisCache.h"
#include "FilePrefetcher.h"

#include "../SondrelCore/FixtureFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

using namespace sondrel::app;
using sondrel::core::AnalysisResult;
using sondrel::core::QualityRating;
using sondrel::core::UserOverride;
using sondrel::test::FixtureFolder;
using FullAnalysis = sondrel::core::SpectrumAnalyzer::FullAnalysisResult;

namespace {

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 20000)
{
    return sondrel::test::waitUntil(condition, milliseconds);
}

// A stand-in for the analysis: a fixed cutoff per file name, an optional delay, and a
// record of how many run at once.
class FakeAnalysis {
public:
    // Before any analysis runs.
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }

    ScannerViewModel::Analysis function()
    {
        return [this](const std::filesystem::path& path) -> sondrel::Result<FullAnalysis> {
            {
                std::lock_guard lock(m_mutex);
                m_maxRunning = std::max(m_maxRunning, ++m_running);
                ++m_calls;
            }
            std::this_thread::sleep_for(m_delay);
            std::lock_guard lock(m_mutex);
            --m_running;
            if (path.filename().string().starts_with("broken"))
                return sondrel::Error { "Invalid data found when processing input" };
            FullAnalysis result;
            result.cutoff = path.filename().string().starts_with("low") ? 16000.0f : 20500.0f;
            result.metrics.sampleRate = 44100;
            return result;
        };
    }
    int calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    int maxRunning()
    {
        std::lock_guard lock(m_mutex);
        return m_maxRunning;
    }

private:
    std::chrono::milliseconds m_delay {};
    std::mutex m_mutex;
    int m_running = 0;
    int m_maxRunning = 0;
    int m_calls = 0;
};

class ScannerViewModelTest : public testing::Test {
protected:
    void SetUp() override { m_library = m_folder.path() / "library"; }

    std::filesystem::path makeFile(const std::string& relative, const std::string& bytes = "not really audio")
    {
        const auto path = m_library / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    ScannerViewModel::Services services(FakeAnalysis& analysis, int concurrent = 2)
    {
        ScannerViewModel::Services s;
        s.cache = &m_cache;
        s.prefetcher = &m_prefetcher;
        s.threshold = [this] { return m_threshold; };
        s.analysis = analysis.function();
        s.concurrentAnalyses = concurrent;
        return s;
    }

    // Starts a run and waits for the model to say it finished.
    template <typename Finished>
    static void runUntil(ScannerViewModel& model, Finished finishedSignal, auto start)
    {
        bool finished = false;
        auto connection = QObject::connect(&model, finishedSignal, [&] { finished = true; });
        start();
        ASSERT_TRUE(waitUntil([&] { return finished; }));
        QObject::disconnect(connection);
    }
    static void discover(ScannerViewModel& model, const std::filesystem::path& library)
    {
        runUntil(model, &ScannerViewModel::discoveryFinished, [&] { model.setLibrary(library); });
    }
    static void scan(ScannerViewModel& model)
    {
        runUntil(model, &ScannerViewModel::scanFinished, [&] { model.startScan(); });
    }

    // A model over the library with the fake analysis taking `delay` per file, its files listed.
    ScannerViewModel& discovered(std::chrono::milliseconds delay = {})
    {
        m_analysis.setDelay(delay);
        m_model = std::make_unique<ScannerViewModel>(services(m_analysis));
        discover(*m_model, m_library);
        return *m_model;
    }

    // The record of the file at `path` in the model discovered() made.
    std::optional<AudioFile> fileAt(const std::filesystem::path& path) const
    {
        const std::vector<AudioFile>& files = m_model->allFiles();
        const auto found
            = std::find_if(files.begin(), files.end(), [&](const AudioFile& f) { return f.url() == path; });
        return found == files.end() ? std::nullopt : std::optional(*found);
    }

    std::vector<std::filesystem::path> prefetched()
    {
        std::lock_guard lock(m_prefetchMutex);
        return m_prefetched;
    }

    FixtureFolder m_folder;
    std::filesystem::path m_library;
    sondrel::core::AnalysisCache m_cache { m_folder.path() / "cache" / "analysis_cache.json" };
    std::mutex m_prefetchMutex;
    std::vector<std::filesystem::path> m_prefetched;
    sondrel::core::FilePrefetcher m_prefetcher { [this](const std::filesystem::path& path) {
        std::lock_guard lock(m_prefetchMutex);
        m_prefetched.push_back(path);
    } };
    QualityThreshold m_threshold = QualityThreshold::kbps320;
    FakeAnalysis m_analysis;
    std::unique_ptr<ScannerViewModel> m_model;
};

AnalysisResult resultWithCutoff(float cutoff)
{
    return AnalysisResult { cutoff, 320, QualityRating::high, 0.5f, { 0, 49152, 0.5f } };
}

} // namespace

TEST_F(ScannerViewModelTest, DiscoveryBuildsRecordsInBatchesOfAHundred)
{
    for (int i = 0; i < 250; ++i)
        makeFile("album/" + std::to_string(i) + ".mp3");
    makeFile(".hidden.mp3");
    makeFile("cover.jpg");
    FakeAnalysis analysis;
    ScannerViewModel model(services(analysis));
    std::vector<double> progress;
    QObject::connect(
        &model, &ScannerViewModel::discoveryProgressChanged, [&](double p) { progress.push_back(p); });
    discover(model, m_library);
    EXPECT_EQ(progress, (std::vector<double> { 0.4, 0.8, 1.0 }));
    EXPECT_EQ(model.discoveredFileCount(), 250);
    EXPECT_EQ(model.allFiles().size(), 250u);
    EXPECT_FALSE(model.isDiscovering());
    EXPECT_EQ(model.cachedCounts().pending, 250);
    EXPECT_EQ(model.selectedFolder(), model.rootNode());
    EXPECT_EQ(model.statusMessage(), "250 files ready to scan");
}

TEST_F(ScannerViewModelTest, EmptyLibraryEndsDiscoveryWithNothing)
{
    std::filesystem::create_directories(m_library);
    FakeAnalysis analysis;
    ScannerViewModel model(services(analysis));
    std::vector<bool> discovering;
    QObject::connect(
        &model, &ScannerViewModel::isDiscoveringChanged, [&](bool d) { discovering.push_back(d); });
    discover(model, m_library);
    EXPECT_EQ(discovering, (std::vector<bool> { true, false }));
    EXPECT_EQ(model.discoveryProgress(), 0.0);
    EXPECT_TRUE(model.allFiles().empty());
    EXPECT_EQ(model.statusMessage(), "Select a folder to scan");
    model.startScan();
    EXPECT_FALSE(model.isScanning());
}

TEST_F(ScannerViewModelTest, ANewDiscoveryReplacesOneStillRunning)
{
    for (int i = 0; i < 300; ++i)
        makeFile(std::to_string(i) + ".flac");
    FakeAnalysis analysis;
    ScannerViewModel model(services(analysis));
    model.setLibrary(m_library);
    discover(model, m_library);
    EXPECT_EQ(model.allFiles().size(), 300u);
    EXPECT_EQ(model.cachedCounts().pending, 300);
}

TEST_F(ScannerViewModelTest, CachedResultsAreJudgedAtTheThresholdWithoutAnalysis)
{
    const auto at19999 = makeFile("a.mp3");
    const auto at20000 = makeFile("b.mp3");
    const auto at11000 = makeFile("c.mp3");
    m_cache.set(at19999, resultWithCutoff(19999.0f));
    m_cache.set(at20000, resultWithCutoff(20000.0f));
    m_cache.set(at11000, resultWithCutoff(11000.0f));
    ScannerViewModel& model = discovered();

    scan(model);
    EXPECT_EQ(fileAt(at19999)->status().kind(), ScanStatus::Kind::failed);
    EXPECT_EQ(fileAt(at20000)->status().kind(), ScanStatus::Kind::passed);
    EXPECT_EQ(fileAt(at11000)->status().kind(), ScanStatus::Kind::failed);
    EXPECT_EQ(m_analysis.calls(), 0);
    m_prefetcher.waitUntilIdle();
    EXPECT_TRUE(prefetched().empty());
    EXPECT_FALSE(model.isScanning());

    m_threshold = QualityThreshold::kbps64;
    scan(model);
    EXPECT_EQ(fileAt(at11000)->status().kind(), ScanStatus::Kind::passed);
    EXPECT_EQ(model.failedFiles().size(), 0u);
}

TEST_F(ScannerViewModelTest, DiscoveryGivesCachedVerdictsAtOnceAndScanAnalysesOnlyTheRest)
{
    const auto good = makeFile("Set/good.mp3");
    const auto poor = makeFile("Set/poor.flac");
    const auto fresh = makeFile("Set/fresh.wav");
    const auto edited = makeFile("edited.mp3");
    m_cache.set(good, resultWithCutoff(20500.0f));
    m_cache.set(poor, resultWithCutoff(16000.0f));
    m_cache.set(edited, resultWithCutoff(20500.0f));
    m_cache.setOverride(poor, UserOverride { true, QualityRating::high, std::chrono::system_clock::now() });
    // Saved again by an editor since its analysis: its entry no longer matches.
    makeFile("edited.mp3", "new content, new size");
    ScannerViewModel& model = discovered();

    EXPECT_EQ(fileAt(good)->status(), ScanStatus::passed());
    EXPECT_EQ(fileAt(good)->result(), resultWithCutoff(20500.0f));
    EXPECT_EQ(fileAt(poor)->status(), ScanStatus::failed());
    ASSERT_TRUE(fileAt(poor)->userOverride());
    EXPECT_TRUE(fileAt(poor)->userOverride()->djReady);
    EXPECT_EQ(fileAt(fresh)->status(), ScanStatus::pending());
    EXPECT_EQ(fileAt(edited)->status(), ScanStatus::pending());
    EXPECT_FALSE(fileAt(edited)->result());
    EXPECT_EQ(model.cachedCounts().pending, 2);
    EXPECT_EQ(model.statusMessage(), "4 files - 1 passed - 1 failed - 2 ready to scan");
    const ScannerViewModel::FolderStatus mixed { ScannerViewModel::FolderStatusKind::mixed, 1, 1 };
    EXPECT_EQ(model.folderStatus(m_library / "Set"), mixed);
    EXPECT_EQ(m_analysis.calls(), 0);

    scan(model);
    EXPECT_EQ(m_analysis.calls(), 2);
    EXPECT_EQ(model.cachedCounts().pending, 0);

    // Everything is in the cache now: a refresh brings every verdict back without analysing.
    model.refreshLibrary();
    discover(model, m_library);
    EXPECT_EQ(model.cachedCounts().pending, 0);
    EXPECT_EQ(fileAt(poor)->status(), ScanStatus::failed());
    EXPECT_EQ(m_analysis.calls(), 2);

    // Judged at the threshold of the moment.
    m_threshold = QualityThreshold::kbps128;
    model.refreshLibrary();
    discover(model, m_library);
    EXPECT_EQ(fileAt(poor)->status(), ScanStatus::passed());
}

TEST_F(ScannerViewModelTest, AScanStartedLaterSeesAFileChangedSinceDiscoveryUnlessToldTheRecordsAreFresh)
{
    const auto track = makeFile("track.mp3", "the analysed content");
    m_cache.set(track, resultWithCutoff(20500.0f));
    for (const bool fresh : { false, true }) {
        FakeAnalysis analysis;
        ScannerViewModel::Services s = services(analysis);
        s.verdictsOnDiscovery = false;
        s.recordsAreFresh = fresh;
        ScannerViewModel model(s);
        discover(model, m_library);
        // Without verdicts on discovery every record starts pending, cached or not.
        EXPECT_EQ(model.cachedCounts().pending, 1) << fresh;
        // Saved again by an editor between the listing and the scan, at the same size.
        const auto stamp = *sondrel::core::AnalysisCache::stampOf(track);
        const timespec later[2] = { { 0, UTIME_OMIT }, { static_cast<time_t>(stamp.seconds + 60), 0 } };
        ASSERT_EQ(::utimensat(AT_FDCWD, track.c_str(), later, 0), 0);
        scan(model);
        // The window's scan reads the file's attributes again and analyses it; a scan that
        // follows its discovery at once keys it by what discovery read.
        EXPECT_EQ(analysis.calls(), fresh ? 0 : 1) << fresh;
        // Back to the state the cache knows, for the next round.
        const timespec before[2]
            = { { 0, UTIME_OMIT }, { static_cast<time_t>(stamp.seconds), stamp.nanoseconds } };
        ASSERT_EQ(::utimensat(AT_FDCWD, track.c_str(), before, 0), 0);
        if (!fresh)
            m_cache.set(track, resultWithCutoff(20500.0f));
    }
}

// The cache keeps tags only for a file unchanged since discovery, and nothing of a file that
// changed while it was analysed.
TEST_F(ScannerViewModelTest, TheCacheKeepsNothingOfAFileChangedSinceItWasRead)
{
    const auto kept = makeFile("kept.mp3");
    const auto edited = makeFile("edited.mp3");
    const auto changing = makeFile("changing.mp3");
    FakeAnalysis fake;
    ScannerViewModel::Services s = services(fake);
    s.analysis = [&](const std::filesystem::path& url) {
        if (url == changing)
            std::ofstream(url, std::ios::binary | std::ios::app) << "more bytes: a new size";
        return fake.function()(url);
    };
    ScannerViewModel model(s);
    discover(model, m_library);
    makeFile("edited.mp3", "saved again since, longer");
    scan(model);
    ASSERT_EQ(fake.calls(), 3);
    EXPECT_EQ(model.cachedCounts().passed, 3);
    const auto entry = m_cache.entry(kept);
    ASSERT_TRUE(entry && entry->tags);
    EXPECT_EQ(*entry->tags, *AudioFile(kept).tags());
    ASSERT_TRUE(m_cache.entry(edited));
    EXPECT_FALSE(m_cache.entry(edited)->tags);
    EXPECT_FALSE(m_cache.has(changing));
    EXPECT_EQ(m_cache.count(), 2u);
}

TEST_F(ScannerViewModelTest, AnalysesStayWithinTheWindowAndResultsAreCached)
{
    for (int i = 0; i < 60; ++i)
        makeFile((i % 3 ? "good-" : "low-") + std::to_string(i) + ".mp3");
    makeFile("broken.mp3");
    ScannerViewModel& model = discovered(std::chrono::milliseconds(5));

    int syncs = 0;
    int maxScanning = 0;
    QObject::connect(&model, &ScannerViewModel::allFilesChanged, [&] { ++syncs; });
    QObject::connect(&model, &ScannerViewModel::cachedCountsChanged,
        [&] { maxScanning = std::max(maxScanning, model.cachedCounts().scanning); });
    scan(model);

    EXPECT_EQ(m_analysis.calls(), 61);
    EXPECT_LE(m_analysis.maxRunning(), 2);
    EXPECT_LE(maxScanning, 2);
    // Reset, after the 25th and 50th results, and at the end.
    EXPECT_EQ(syncs, 4);
    const auto& counts = model.cachedCounts();
    EXPECT_EQ(counts.passed, 40);
    EXPECT_EQ(counts.failed, 20);
    EXPECT_EQ(counts.error, 1);
    EXPECT_EQ(model.scanProgress(), 1.0);
    EXPECT_EQ(model.statusMessage(), "61 files - 40 passed - 20 failed");
    for (const AudioFile& file : model.allFiles()) {
        if (file.name() == "broken.mp3") {
            EXPECT_EQ(file.status().errorDescription(), "Invalid data found when processing input");
            EXPECT_FALSE(file.result());
        }
    }
    // Read-ahead: the first four, then one per file entering the queue; the prefetcher
    // drops a request while four are under way, so some may not have run.
    m_prefetcher.waitUntilIdle();
    EXPECT_GE(prefetched().size(), 4u);
    EXPECT_LE(prefetched().size(), 61u);
    EXPECT_EQ(m_cache.count(), 60u);
    EXPECT_FALSE(m_cache.isDirty());

    // A second scan takes everything but the broken file from the cache.
    scan(model);
    EXPECT_EQ(m_analysis.calls(), 62);
}

TEST_F(ScannerViewModelTest, TheGuiThreadKeepsRunningWhileAnalysesAreSlow)
{
    for (int i = 0; i < 4; ++i)
        makeFile(std::to_string(i) + ".wav");
    ScannerViewModel& model = discovered(std::chrono::milliseconds(300));
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    scan(model);
    // Two rounds of 300 ms: an event loop that never stalled ticks far more than 20 times.
    EXPECT_GT(ticks, 20);
}

TEST_F(ScannerViewModelTest, CancellingDiscardsLateResultsAndReturnsFilesToPending)
{
    for (int i = 0; i < 10; ++i)
        makeFile(std::to_string(i) + ".mp3");
    ScannerViewModel& model = discovered(std::chrono::milliseconds(150));

    bool finished = false;
    QObject::connect(&model, &ScannerViewModel::scanFinished, [&] { finished = true; });
    model.startScan();
    ASSERT_TRUE(waitUntil([&] { return model.cachedCounts().passed >= 1; }));
    model.cancelScan();
    EXPECT_FALSE(model.isScanning());
    const int decided = model.cachedCounts().passed;
    ASSERT_TRUE(waitUntil([&] { return finished; }));
    // Let the analyses that were running end; their results must change nothing.
    ASSERT_TRUE(waitUntil([&] { return m_analysis.calls() >= decided + 2; }, 2000));
    QThread::msleep(400);
    QCoreApplication::processEvents();
    EXPECT_EQ(model.cachedCounts().passed, decided);
    EXPECT_EQ(model.cachedCounts().scanning, 0);
    EXPECT_EQ(model.cachedCounts().pending, 10 - decided);
}

TEST_F(ScannerViewModelTest, OverridesReturnFromTheCacheAfterARefresh)
{
    const auto cached = makeFile("cached.mp3");
    makeFile("uncached.mp3");
    m_cache.set(cached, resultWithCutoff(16000.0f));
    ScannerViewModel& model = discovered();
    scan(model);
    ASSERT_EQ(model.failedFiles().size(), 1u);

    for (const AudioFile& file : model.allFiles())
        model.setUserOverride(file, true, QualityRating::high);
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(model.allFiles().begin(), model.allFiles().end(),
            [](const AudioFile& f) { return f.userOverride().has_value(); });
    }));
    // The override is shown beside the verdict; it does not change it.
    EXPECT_EQ(model.failedFiles().size(), 1u);
    EXPECT_EQ(model.cachedCounts().failed, 1);

    model.refreshLibrary();
    discover(model, m_library);
    // Both files had an entry when their override was set (the first scan stored the other's
    // result): verdicts and overrides are back at once, before any scan.
    for (const AudioFile& file : model.allFiles()) {
        EXPECT_TRUE(file.userOverride()) << file.name();
        EXPECT_NE(file.status(), ScanStatus::pending()) << file.name();
    }
    scan(model);
    for (const AudioFile& file : model.allFiles()) {
        // The uncached file's result was stored by the scan, which dropped nothing; but its
        // override was set before it had an entry, so only the cached one comes back.
        if (file.url() == cached) {
            ASSERT_TRUE(file.userOverride());
            EXPECT_TRUE(file.userOverride()->djReady);
        }
    }
}

TEST_F(ScannerViewModelTest, ARescanThatFailsLeavesAnErrorWithoutResult)
{
    makeFile("broken-take.mp3");
    ScannerViewModel& model = discovered();
    runUntil(model, &ScannerViewModel::rescanFinished, [&] { model.rescanFile(model.allFiles().front()); });
    const AudioFile& file = model.allFiles().front();
    EXPECT_EQ(file.status().kind(), ScanStatus::Kind::error);
    EXPECT_EQ(file.status().errorDescription(), "Invalid data found when processing input");
    EXPECT_FALSE(file.result());
    EXPECT_EQ(m_cache.count(), 0u);
}

TEST_F(ScannerViewModelTest, FolderScanAndPrefixMatching)
{
    makeFile("Live/a.mp3");
    makeFile("Live Sets/b.mp3");
    makeFile("Live Sets/c.mp3");
    ScannerViewModel& model = discovered();
    EXPECT_EQ(model.filesInFolder(m_library / "Live").size(), 1u);
    EXPECT_EQ(model.filesInFolder(m_library / "Live/").size(), 1u);

    model.setSelectedFolder(FolderNode::create(m_library / "Live", 1, model.rootNode()));
    scan(model);
    EXPECT_EQ(m_analysis.calls(), 1);
    EXPECT_EQ(model.cachedCounts().pending, 2);
    EXPECT_EQ(
        model.folderStatus(*model.selectedFolder()).kind, ScannerViewModel::FolderStatusKind::allPassed);

    model.setSelectedFolder(FolderNode::create(m_library / "Empty", 1, model.rootNode()));
    model.startScan();
    EXPECT_FALSE(model.isScanning());
}

TEST(ScannerViewModelRulesTest, FolderStatusCases)
{
    using Kind = ScannerViewModel::FolderStatusKind;
    const auto files = [](std::initializer_list<ScanStatus> statuses) {
        std::vector<AudioFile> records;
        for (const ScanStatus& status : statuses) {
            AudioFile file("/m/x.mp3", sondrel::core::AudioFormat::mp3, 0, {});
            file.setStatus(status);
            records.push_back(file);
        }
        return records;
    };
    const auto P = ScanStatus::passed();
    const auto F = ScanStatus::failed();
    const auto E = ScanStatus::error("x");
    const auto W = ScanStatus::pending();
    const auto S = ScanStatus::scanning(0.5);
    EXPECT_EQ(ScannerViewModel::folderStatus(files({ P, P, P, W, W })).kind, Kind::allPassed);
    EXPECT_EQ(ScannerViewModel::folderStatus(files({ F, F, E })),
        (ScannerViewModel::FolderStatus { Kind::allFailed, 0, 2, 1 }));
    EXPECT_EQ(ScannerViewModel::folderStatus(files({ P, F, S })).kind, Kind::scanning);
    // Errors are counted beside the verdict, which they do not change.
    EXPECT_EQ(ScannerViewModel::folderStatus(files({ E, E })),
        (ScannerViewModel::FolderStatus { Kind::notScanned, 0, 0, 2 }));
    EXPECT_EQ(ScannerViewModel::folderStatus(files({})).kind, Kind::notScanned);
    EXPECT_EQ(ScannerViewModel::folderStatus(files({ P, P, P, P, F })),
        (ScannerViewModel::FolderStatus { Kind::mixed, 4, 1 }));
}

TEST(ScannerViewModelRulesTest, StatusMessageForms)
{
    FilesStore::StatusCounts counts;
    counts.passed = 100;
    counts.failed = 15;
    counts.pending = 5;
    EXPECT_EQ(ScannerViewModel::statusMessage(120, counts, false, false),
        "120 files - 100 passed - 15 failed - 5 ready to scan");
    counts.pending = 0;
    counts.error = 5;
    EXPECT_EQ(
        ScannerViewModel::statusMessage(120, counts, false, false), "120 files - 100 passed - 15 failed");
    counts.error = 0;
    counts.pending = 5;
    EXPECT_EQ(ScannerViewModel::statusMessage(120, counts, false, true), "Scanning 115 of 120 files");
    EXPECT_EQ(ScannerViewModel::statusMessage(120, counts, true, true), "Discovering files... 120 found");
    EXPECT_EQ(ScannerViewModel::statusMessage(0, {}, false, false), "Select a folder to scan");
    FilesStore::StatusCounts fresh;
    fresh.pending = 7;
    EXPECT_EQ(ScannerViewModel::statusMessage(7, fresh, false, false), "7 files ready to scan");
}

TEST_F(ScannerViewModelTest, ProcessingRunsOffTheGuiThreadAndSynchronisesTheCopies)
{
    makeFile("low-a.mp3");
    makeFile("good-b.mp3");
    ScannerViewModel& model = discovered();
    scan(model);
    ASSERT_EQ(model.failedFiles().size(), 1u);

    std::vector<bool> processing;
    QObject::connect(&model, &ScannerViewModel::isProcessingChanged, [&](bool on) { processing.push_back(on); });
    std::vector<std::pair<int, int>> progress;
    QObject::connect(&model, &ScannerViewModel::processingProgress,
        [&](ScannerViewModel::RunId, int position, int total) { progress.emplace_back(position, total); });
    std::optional<ProcessingResults> results;
    const auto first = model.renameFailedFiles(std::nullopt, [&](const ProcessingResults& r) { results = r; });
    EXPECT_TRUE(model.isProcessing());
    // A second run asked for meanwhile waits for the first and still answers.
    std::optional<ProcessingResults> second;
    const auto secondId = model.updateMetadata(std::nullopt, [&](const ProcessingResults& r) {
        EXPECT_TRUE(results.has_value());
        second = r;
    });
    EXPECT_NE(first, secondId);
    ASSERT_TRUE(waitUntil([&] { return second.has_value(); }));
    EXPECT_EQ(results->renamedCount, 1);
    ASSERT_EQ(model.failedFiles().size(), 1u);
    EXPECT_EQ(model.failedFiles().front().name(), "low-a fake-128.mp3");
    EXPECT_TRUE(std::filesystem::exists(m_library / "low-a fake-128.mp3"));
    EXPECT_EQ(model.cachedCounts().failed, 1);
    EXPECT_EQ(model.cachedCounts().passed, 1);
    // The tag run found the renamed file under its new name (neither file is real MP3 audio).
    EXPECT_EQ(second->metadataUpdatedCount + second->metadataFailedCount, 2);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>> { { 1, 2 }, { 2, 2 } }));
    EXPECT_EQ(processing, (std::vector<bool> { true, false }));
    EXPECT_FALSE(model.isProcessing());
}

TEST_F(ScannerViewModelTest, RowSignalsKeepAMirrorOfTheFilesInStep)
{
    for (int i = 0; i < 250; ++i)
        makeFile((i % 3 ? "low-" : "good-") + std::to_string(i) + ".mp3");
    FakeAnalysis analysis;
    ScannerViewModel model(services(analysis));
    // What a table model does with the signals.
    std::vector<QUuid> mirror;
    const auto rows = [&](int first, int last) {
        std::vector<QUuid> ids;
        for (int row = first; row <= last; ++row)
            ids.push_back(model.allFiles()[static_cast<std::size_t>(row)].id());
        return ids;
    };
    int changedRows = 0;
    QObject::connect(&model, &ScannerViewModel::filesReset, [&] { mirror = rows(0, static_cast<int>(model.allFiles().size()) - 1); });
    QObject::connect(&model, &ScannerViewModel::filesInserted, [&](int first, int last) {
        const auto added = rows(first, last);
        mirror.insert(mirror.begin() + first, added.begin(), added.end());
    });
    QObject::connect(&model, &ScannerViewModel::filesAboutToBeRemoved, [&](int first, int last) {
        EXPECT_EQ(rows(first, last), std::vector<QUuid>(mirror.begin() + first, mirror.begin() + last + 1));
    });
    QObject::connect(&model, &ScannerViewModel::filesRemoved,
        [&](int first, int last) { mirror.erase(mirror.begin() + first, mirror.begin() + last + 1); });
    QObject::connect(&model, &ScannerViewModel::filesChanged, [&](int first, int last) {
        changedRows += last - first + 1;
        EXPECT_EQ(rows(first, last), std::vector<QUuid>(mirror.begin() + first, mirror.begin() + last + 1));
    });
    const auto inStep = [&] {
        ASSERT_EQ(mirror, rows(0, static_cast<int>(model.allFiles().size()) - 1));
        for (std::size_t row = 0; row < mirror.size(); ++row)
            ASSERT_EQ(model.rowOf(mirror[row]), row);
    };

    discover(model, m_library);
    inStep();
    // Discovery order is kept: the scanner's order, not the order records finished building.
    const std::vector<AudioFile> discovered = model.allFiles();
    scan(model);
    inStep();
    EXPECT_GE(changedRows, 250);
    for (std::size_t row = 0; row < discovered.size(); ++row)
        EXPECT_EQ(model.allFiles()[row].id(), discovered[row].id());

    // Renames replace records in place; a trash removes rows from the middle.
    bool done = false;
    model.renameFailedFiles(std::nullopt, [&](const ProcessingResults&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    inStep();
    // The renamed record takes its predecessor's row.
    const auto low = std::find_if(discovered.begin(), discovered.end(),
        [](const AudioFile& file) { return file.name().starts_with("low-"); });
    const std::string stem = low->url().stem().string();
    EXPECT_EQ(model.allFiles()[static_cast<std::size_t>(low - discovered.begin())].name(), stem + " fake-128.mp3");
    done = false;
    model.deleteFiles({ model.allFiles()[3], model.allFiles()[4], model.allFiles()[9] },
        [&](const ProcessingResults&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    inStep();
    EXPECT_EQ(model.allFiles().size(), 247u);
    EXPECT_EQ(model.file(discovered[0].id())->url(), discovered[0].url());

    // Folder status follows from counts kept as rows change.
    const auto status = model.folderStatus(m_library);
    EXPECT_EQ(status.kind, ScannerViewModel::FolderStatusKind::mixed);
    EXPECT_EQ(status.passed + status.failed, 247);
    EXPECT_EQ(model.folderStatus(m_library / "elsewhere").kind, ScannerViewModel::FolderStatusKind::notScanned);
}

TEST_F(ScannerViewModelTest, AScanCancelledAndStartedAgainReportsEachScanByItsOwnId)
{
    for (int i = 0; i < 12; ++i)
        makeFile(std::to_string(i) + ".mp3");
    ScannerViewModel& model = discovered(std::chrono::milliseconds(60));

    std::vector<ScannerViewModel::RunId> finished;
    QObject::connect(&model, &ScannerViewModel::scanFinished, [&](ScannerViewModel::RunId id) {
        finished.push_back(id);
        if (id != finished.front()) {
            EXPECT_EQ(model.cachedCounts().passed, 12); // the second scan ends only when it is done
        }
    });
    const auto first = model.startScan();
    model.cancelScan();
    const auto second = model.startScan();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_TRUE(model.isScanning());
    ASSERT_TRUE(waitUntil([&] { return finished.size() == 2; }));
    EXPECT_EQ(finished, (std::vector<ScannerViewModel::RunId> { *first, *second }));
    EXPECT_FALSE(model.isScanning());
}

namespace {

// Every status, count, folder status and the failed list follow a threshold change from the
// stored results, in one pass announced as one range of rows, with no analysis.
TEST_F(ScannerViewModelTest, AThresholdChangeJudgesTheStoredResultsAgainAtOnce)
{
    // Live: 19000 Hz (fails 320, passes 192) and 21000 Hz; Club: 16000 Hz (fails both) and a
    // file never analysed, which no threshold touches.
    m_cache.set(makeFile("Live/a.mp3"), resultWithCutoff(19000.0f));
    m_cache.set(makeFile("Live/b.mp3"), resultWithCutoff(21000.0f));
    m_cache.set(makeFile("Club/c.mp3"), resultWithCutoff(16000.0f));
    makeFile("Club/new.mp3");
    ScannerViewModel& model = discovered();
    ASSERT_EQ(model.cachedCounts(), (FilesStore::StatusCounts { 1, 2, 0, 1, 0 }));

    std::vector<std::pair<int, int>> changed;
    QObject::connect(&model, &ScannerViewModel::filesChanged,
        [&](int first, int last) { changed.emplace_back(first, last); });
    std::optional<QualityThreshold> announced;
    QObject::connect(&model, &ScannerViewModel::thresholdChanged, [&](QualityThreshold t) { announced = t; });
    m_threshold = QualityThreshold::kbps192;
    model.applyThreshold();

    EXPECT_EQ(model.cachedCounts(), (FilesStore::StatusCounts { 2, 1, 0, 1, 0 }));
    EXPECT_EQ(model.folderStatus(m_library / "Live"),
        (ScannerViewModel::FolderStatus { ScannerViewModel::FolderStatusKind::allPassed, 2, 0 }));
    EXPECT_EQ(model.folderStatus(m_library / "Club"),
        (ScannerViewModel::FolderStatus { ScannerViewModel::FolderStatusKind::allFailed, 0, 1 }));
    ASSERT_EQ(model.failedFiles().size(), 1u);
    EXPECT_EQ(model.failedFiles()[0].url().filename(), "c.mp3");
    EXPECT_EQ(announced, QualityThreshold::kbps192);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(model.statusMessage(), "4 files - 2 passed - 1 failed - 1 ready to scan");
    EXPECT_EQ(m_analysis.calls(), 0);

    // Back again, and a file then scanned is judged by the threshold of the moment.
    m_threshold = QualityThreshold::kbps320;
    model.applyThreshold();
    EXPECT_EQ(model.cachedCounts(), (FilesStore::StatusCounts { 1, 2, 0, 1, 0 }));
    scan(model);
    EXPECT_EQ(m_analysis.calls(), 1);
    EXPECT_EQ(model.cachedCounts(), (FilesStore::StatusCounts { 2, 2, 0, 0, 0 }));
}

// Discovery, the scan and a threshold change judge a brick-walled file alike: by the wall.
TEST_F(ScannerViewModelTest, EveryVerdictJudgesABrickWalledFileByItsWall)
{
    AnalysisResult walled = resultWithCutoff(20500.0f);
    walled.lossyEvidence = sondrel::core::LossyEvidence { 16000.0f, 20.0f, 200.0f };
    m_cache.set(makeFile("walled.mp3"), walled);
    ScannerViewModel& model = discovered();
    ASSERT_EQ(model.allFiles().size(), 1u);
    EXPECT_EQ(model.allFiles()[0].status().kind(), ScanStatus::Kind::failed);
    m_threshold = QualityThreshold::kbps128;
    model.applyThreshold();
    EXPECT_EQ(model.allFiles()[0].status().kind(), ScanStatus::Kind::passed);
    scan(model);
    EXPECT_EQ(model.allFiles()[0].status().kind(), ScanStatus::Kind::passed);
    EXPECT_EQ(m_analysis.calls(), 0);
}

} // namespace
