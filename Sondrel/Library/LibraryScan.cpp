#include "LibraryScan.h"

#include "AnalysisCache.h"
#include "Background.h"
#include "FilePrefetcher.h"

#include <QSet>

#include <algorithm>
#include <atomic>
#include <deque>
#include <thread>

namespace sondrel::app {
namespace {

constexpr std::size_t kLookAhead = 4;
constexpr int kSyncPeriod = 25;

} // namespace

// The state of one scan, shared with the analyses it started.
struct LibraryScan::Run {
    RunId id = 0;
    std::atomic<bool> cancelled { false };
    std::vector<AudioFile> uncached;
    std::size_t nextIndex = 0;
    std::deque<AudioFile> queue;
    int running = 0;
    int processed = 0;
    // Records this scan marked scanning whose verdict has not come back.
    QSet<QUuid> inFlight;
};

LibraryScan::LibraryScan(FilesStore& store, Setup setup, QThreadPool& io, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_setup(std::move(setup))
    , m_io(io)
    , m_analyzer(core::SpectrumAnalyzer::make())
{
    m_analysisPool.setMaxThreadCount(m_setup.concurrentAnalyses > 0
            ? m_setup.concurrentAnalyses
            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    m_rescanPool.setMaxThreadCount(1);
}

LibraryScan::~LibraryScan()
{
    if (m_current)
        m_current->cancelled = true;
    m_analysisPool.waitForDone();
    m_rescanPool.waitForDone();
}

void LibraryScan::store(const QUuid& id, const Result<core::FileVerdict>& analysed)
{
    if (analysed)
        m_store.updateFileAnalysis(id, m_setup.verdict(analysed->result), analysed->result);
    else
        m_store.updateStatus(id, ScanStatus::error(analysed.error().description));
}

void LibraryScan::start(RunId id, std::vector<AudioFile> files)
{
    auto run = std::make_shared<Run>();
    run->id = id;
    m_current = run;

    core::AnalysisCache* cache = m_setup.cache;
    if (!cache) {
        std::vector<QUuid> ids;
        ids.reserve(files.size());
        for (const AudioFile& file : files)
            ids.push_back(file.id());
        m_store.resetToPending(ids);
        emit storeChanged(true);
        startAnalyses(run, std::move(files));
        return;
    }
    // Each file either takes its cached verdict straight from what it showed, or goes back to
    // pending to wait for its analysis, so rows already judged from the cache do not blink to
    // pending and back. The look-ups read file attributes: off this thread.
    runInBackground(
        m_io, this,
        [this, cache, files = std::move(files)] {
            std::vector<AudioFile> uncached;
            std::vector<QUuid> waiting;
            for (const AudioFile& file : files) {
                // One read of the file's attributes for the result and the override, or none.
                const auto key = m_setup.recordsAreFresh && file.stamp()
                    ? core::AnalysisCache::cacheKey(file.url(), *file.stamp())
                    : std::nullopt;
                const auto entry = key ? cache->entryForKey(*key) : cache->entry(file.url());
                if (!entry) {
                    uncached.push_back(file);
                    waiting.push_back(file.id());
                    continue;
                }
                const core::AnalysisResult result = entry->toAnalysisResult();
                m_store.updateFileAnalysis(file.id(), m_setup.verdict(result), result);
                if (entry->userOverride)
                    m_store.updateOverride(file.id(), *entry->userOverride);
            }
            m_store.resetToPending(waiting);
            return uncached;
        },
        [this, run](std::vector<AudioFile> uncached) {
            emit storeChanged(true);
            startAnalyses(run, std::move(uncached));
        });
}

void LibraryScan::startAnalyses(const std::shared_ptr<Run>& run, std::vector<AudioFile> uncached)
{
    if (run->cancelled || uncached.empty()) {
        // Nothing was analysed; only tags that discovery gave the entries may wait to be saved.
        finish(run, m_setup.cache && m_setup.cache->isDirty());
        return;
    }
    run->uncached = std::move(uncached);
    const auto concurrent = static_cast<std::size_t>(m_analysisPool.maxThreadCount());
    const std::size_t window = std::min(concurrent + kLookAhead, run->uncached.size());
    run->nextIndex = window;

    if (m_setup.prefetcher) {
        const std::size_t ahead = std::min(kLookAhead, window);
        std::vector<std::filesystem::path> locations;
        for (std::size_t i = 0; i < ahead; ++i)
            locations.push_back(run->uncached[i].url());
        m_setup.prefetcher->prefetch(locations);
    }
    const std::size_t started = std::min(concurrent, window);
    for (std::size_t i = 0; i < started; ++i)
        launchAnalysis(run, run->uncached[i]);
    for (std::size_t i = started; i < window; ++i)
        run->queue.push_back(run->uncached[i]);
}

void LibraryScan::launchAnalysis(const std::shared_ptr<Run>& run, const AudioFile& file)
{
    m_store.updateStatus(file.id(), ScanStatus::scanning(0.0));
    run->inFlight.insert(file.id());
    ++run->running;
    runInBackground(
        m_analysisPool, this,
        [cache = m_setup.cache, analysis = m_setup.analysis, id = file.id(), url = file.url(),
            format = file.format(), tags = file.tags(), stamp = file.stamp()] {
            // The cache keys a verdict by the file's modification time and size when it is
            // stored; a file replaced while it was analysed would get the old content's verdict.
            const auto keyBefore = core::AnalysisCache::cacheKey(url);
            Outcome outcome { id, core::analyzeAndClassify(url, format, analysis) };
            // The cache replaces the entry, and with it any stored override; it keeps the
            // record's tags only if they were read from the file as it is now.
            if (outcome.analysed && cache && keyBefore && keyBefore == core::AnalysisCache::cacheKey(url))
                cache->set(url, outcome.analysed->result, tags, stamp);
            return outcome;
        },
        [this, run](Outcome outcome) { onAnalysisResult(run, std::move(outcome)); });
}

void LibraryScan::onAnalysisResult(const std::shared_ptr<Run>& run, Outcome outcome)
{
    --run->running;
    if (run->cancelled)
        return; // cancel() already put the file back to pending
    run->inFlight.remove(outcome.id);
    store(outcome.id, outcome.analysed);

    ++run->processed;
    emit storeChanged(run->processed % kSyncPeriod == 0);

    if (run->nextIndex < run->uncached.size()) {
        const AudioFile& next = run->uncached[run->nextIndex++];
        run->queue.push_back(next);
        if (m_setup.prefetcher)
            m_setup.prefetcher->prefetch(next.url());
    }
    if (!run->queue.empty()) {
        const AudioFile file = std::move(run->queue.front());
        run->queue.pop_front();
        launchAnalysis(run, file);
    }
    if (run->running == 0)
        finish(run, true);
}

void LibraryScan::finish(const std::shared_ptr<Run>& run, bool flushCache)
{
    const auto done = [this, run] { emit finished(run->id, m_current == run); };
    if (!m_setup.cache || !flushCache) {
        done();
        return;
    }
    runInBackground(
        m_io, this, [cache = m_setup.cache] { cache->flush(); }, done);
}

bool LibraryScan::cancel()
{
    const std::shared_ptr<Run> run = std::exchange(m_current, nullptr);
    if (!run)
        return false;
    const bool wasRunning = !run->cancelled.exchange(true);
    // The files being analysed go back to pending now; their late results are dropped.
    if (!run->inFlight.isEmpty()) {
        m_store.resetToPending(std::vector<QUuid>(run->inFlight.begin(), run->inFlight.end()));
        run->inFlight.clear();
        emit storeChanged(true);
    }
    if (wasRunning && run->running > 0)
        finish(run, true);
    return wasRunning;
}

void LibraryScan::rescan(const AudioFile& file)
{
    const QUuid id = file.id();
    m_store.updateFileAnalysis(id, ScanStatus::scanning(0.0), std::nullopt);
    emit storeChanged(true);
    runInBackground(
        m_rescanPool, this,
        [this, url = file.url(), format = file.format()] {
            // The one long-lived analyzer, unless a stand-in analysis is given.
            core::FileAnalysis analysis = m_setup.analysis;
            if (!analysis && m_analyzer)
                analysis = [this](const std::filesystem::path& path) {
                    return m_analyzer->analyzeFileComplete(path);
                };
            return core::analyzeAndClassify(url, format, analysis);
        },
        [this, id](const Result<core::FileVerdict>& analysed) {
            store(id, analysed);
            emit storeChanged(true);
            emit rescanFinished(id);
        });
}

} // namespace sondrel::app
