#include "ScannerViewModel.h"

#include "AnalysisCache.h"
#include "AppSettings.h"
#include "FilePrefetcher.h"
#include "SystemFileOperations.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>

namespace sondrel::app {
namespace {

constexpr std::size_t kDiscoveryBatch = 100;
constexpr std::chrono::milliseconds kDiscoverySyncInterval { 100 };
constexpr std::size_t kLookAhead = 4;
constexpr int kSyncPeriod = 25;

int usableCores()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Builds the records of a batch on up to one thread per core (tag reads touch the disk).
std::vector<AudioFile> buildRecords(
    const std::vector<std::filesystem::path>& locations, std::size_t begin, std::size_t end)
{
    std::vector<std::optional<AudioFile>> built(end - begin);
    std::atomic<std::size_t> next { begin };
    {
        std::vector<std::jthread> workers;
        const auto threads = std::min<std::size_t>(static_cast<std::size_t>(usableCores()), end - begin);
        for (std::size_t t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                for (std::size_t i; (i = next++) < end;)
                    built[i - begin].emplace(locations[i]);
            });
        }
    }
    std::vector<AudioFile> records;
    records.reserve(built.size());
    for (auto& record : built)
        records.push_back(std::move(*record));
    return records;
}

// What a record found in the cache at discovery takes from it: the verdict under the threshold
// of the moment, the result and any override.
struct CachedVerdicts {
    const core::AnalysisCache* cache = nullptr;
    QualityThreshold threshold = QualityThreshold::kbps320;

    // The key comes from the attributes the record was built from: no further disk access.
    void applyTo(std::vector<AudioFile>& records) const
    {
        for (AudioFile& file : records) {
            const auto key
                = file.stamp() ? core::AnalysisCache::cacheKey(file.url(), *file.stamp()) : std::nullopt;
            const auto entry = key ? cache->entryForKey(*key) : std::nullopt;
            if (!entry)
                continue;
            const core::AnalysisResult result = entry->toAnalysisResult();
            file.setStatus(meetsThreshold(result.cutoffFrequency, threshold) ? ScanStatus::passed()
                                                                             : ScanStatus::failed());
            file.setResult(result);
            file.setUserOverride(entry->userOverride);
        }
    }
};

} // namespace

// The state of one scan, shared by the view model and the analyses it started.
struct ScannerViewModel::Scan {
    RunId id = 0;
    std::atomic<bool> cancelled { false };
    std::vector<AudioFile> uncached;
    std::size_t nextIndex = 0;
    std::deque<AudioFile> queue;
    int running = 0;
    int processed = 0;
    // Records this scan marked scanning whose verdict has not come back.
    QSet<QUuid> inFlight;
    Analysis analysis;
};

ScannerViewModel::Services ScannerViewModel::Services::standard()
{
    Services services;
    services.cache = &core::AnalysisCache::shared();
    services.prefetcher = &core::FilePrefetcher::shared();
    AppSettings* settings = &AppSettings::shared();
    services.threshold = [settings] { return settings->qualityThreshold(); };
    return services;
}

ScannerViewModel::ScannerViewModel(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_analyzer(core::SpectrumAnalyzer::make())
{
    const int analyses = m_services.concurrentAnalyses > 0 ? m_services.concurrentAnalyses : usableCores();
    m_analysisPool.setMaxThreadCount(analyses);
    m_ioPool.setMaxThreadCount(1);
    m_rescanPool.setMaxThreadCount(1);
}

ScannerViewModel::~ScannerViewModel()
{
    // Workers report back through queued calls on this object, which Qt drops once it is
    // gone; what they touch directly (the store) must outlive them.
    if (m_scanTask)
        m_scanTask->cancelled = true;
    ++*m_discoveryGeneration;
    m_analysisPool.waitForDone();
    m_ioPool.waitForDone();
    m_rescanPool.waitForDone();
}

void ScannerViewModel::runThenReport(std::function<void()> work, std::function<void()> then)
{
    m_ioPool.start([this, work = std::move(work), then = std::move(then)]() mutable {
        work();
        QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
    });
}

// --- observable state -------------------------------------------------------------------

void ScannerViewModel::setSelectedFolder(std::shared_ptr<FolderNode> folder)
{
    if (folder == m_selectedFolder)
        return;
    m_selectedFolder = std::move(folder);
    emit selectedFolderChanged();
}

void ScannerViewModel::setIsScanning(bool value)
{
    if (value == m_isScanning)
        return;
    m_isScanning = value;
    emit isScanningChanged(value);
}

void ScannerViewModel::setIsDiscovering(bool value)
{
    if (value == m_isDiscovering)
        return;
    m_isDiscovering = value;
    emit isDiscoveringChanged(value);
}

void ScannerViewModel::setDiscoveryProgress(double value)
{
    if (value == m_discoveryProgress)
        return;
    m_discoveryProgress = value;
    emit discoveryProgressChanged(value);
}

void ScannerViewModel::setDiscoveredFileCount(int value)
{
    if (value == m_discoveredFileCount)
        return;
    m_discoveredFileCount = value;
    emit discoveredFileCountChanged(value);
}

void ScannerViewModel::syncFromStore()
{
    applyChanges(m_filesStore.changesSince(m_syncedRevision));
    emit allFilesChanged();
    setCachedCounts(m_filesStore.counts());
}

void ScannerViewModel::setCachedCounts(const FilesStore::StatusCounts& counts)
{
    const double progressBefore = scanProgress();
    m_cachedCounts = counts;
    emit cachedCountsChanged();
    if (const double progress = scanProgress(); progress != progressBefore)
        emit scanProgressChanged(progress);
}

void ScannerViewModel::countInFolders(const AudioFile& file, int delta)
{
    // Every "/" of the path ends the path of a folder above the file; the one at 0 is "/".
    const std::string& path = file.url().native();
    const std::string_view text(path);
    for (std::size_t slash = text.find('/'); slash != std::string_view::npos; slash = text.find('/', slash + 1)) {
        const std::string_view folder = text.substr(0, slash);
        auto found = m_folderCounts.find(folder);
        if (found == m_folderCounts.end())
            found = m_folderCounts.emplace(std::string(folder), FilesStore::StatusCounts {}).first;
        if (delta > 0)
            found->second.increment(file.status());
        else
            found->second.decrement(file.status());
    }
}

void ScannerViewModel::applyChanges(FilesStore::Changes changes)
{
    m_syncedRevision = changes.revision;
    if (changes.reset) {
        emit filesAboutToBeReset();
        m_allFiles.clear();
        m_allFiles.reserve(changes.changed.size());
        for (auto& entry : changes.changed)
            m_allFiles.push_back(std::move(entry.file));
        m_rowById.clear();
        m_folderCounts.clear();
        for (std::size_t row = 0; row < m_allFiles.size(); ++row) {
            m_rowById.emplace(m_allFiles[row].id(), row);
            countInFolders(m_allFiles[row], 1);
        }
        emit filesReset();
        emit folderStatusesChanged();
        return;
    }
    if (changes.removed.empty() && changes.changed.empty())
        return;

    bool rowsMoved = false;
    // Removals, as contiguous ranges from the bottom up so that earlier rows keep their places.
    std::vector<std::size_t> removedRows;
    for (const QUuid& id : changes.removed) {
        if (const auto found = m_rowById.find(id); found != m_rowById.end())
            removedRows.push_back(found->second);
    }
    std::sort(removedRows.begin(), removedRows.end());
    while (!removedRows.empty()) {
        const std::size_t last = removedRows.back();
        std::size_t first = last;
        removedRows.pop_back();
        while (!removedRows.empty() && removedRows.back() == first - 1) {
            first = removedRows.back();
            removedRows.pop_back();
        }
        emit filesAboutToBeRemoved(static_cast<int>(first), static_cast<int>(last));
        for (std::size_t row = first; row <= last; ++row)
            countInFolders(m_allFiles[row], -1);
        m_allFiles.erase(m_allFiles.begin() + static_cast<std::ptrdiff_t>(first),
            m_allFiles.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        emit filesRemoved(static_cast<int>(first), static_cast<int>(last));
        rowsMoved = true;
    }

    // Additions and changes in ascending store order. The store never reorders, so once the
    // removals are done the rows before each entry's position are exactly the store's: an
    // entry either is the row at its position already (a change) or goes in there.
    auto& entries = changes.changed;
    std::optional<std::pair<std::size_t, std::size_t>> changedRange;
    const auto flushChanged = [&] {
        if (changedRange)
            emit filesChanged(static_cast<int>(changedRange->first), static_cast<int>(changedRange->second));
        changedRange.reset();
    };
    for (std::size_t i = 0; i < entries.size();) {
        const std::size_t position = entries[i].position;
        if (position < m_allFiles.size() && m_allFiles[position].id() == entries[i].file.id()) {
            // Folders count kinds only: a change within a kind leaves them as they are.
            const bool recount = m_allFiles[position].status().kind() != entries[i].file.status().kind();
            if (recount)
                countInFolders(m_allFiles[position], -1);
            m_allFiles[position] = std::move(entries[i].file);
            if (recount)
                countInFolders(m_allFiles[position], 1);
            if (changedRange && changedRange->second + 1 == position)
                changedRange->second = position;
            else {
                flushChanged();
                changedRange = std::pair { position, position };
            }
            ++i;
            continue;
        }
        flushChanged();
        // A run of insertions: consecutive positions none of which is the row now at `position`.
        const std::optional<QUuid> rowThere
            = position < m_allFiles.size() ? std::optional(m_allFiles[position].id()) : std::nullopt;
        std::size_t end = i + 1;
        while (end < entries.size() && entries[end].position == position + (end - i)
            && (!rowThere || entries[end].file.id() != *rowThere))
            ++end;
        const std::size_t count = end - i;
        emit filesAboutToBeInserted(static_cast<int>(position), static_cast<int>(position + count - 1));
        const bool append = position == m_allFiles.size();
        std::vector<AudioFile> added;
        added.reserve(count);
        for (std::size_t k = i; k < end; ++k)
            added.push_back(std::move(entries[k].file));
        m_allFiles.insert(m_allFiles.begin() + static_cast<std::ptrdiff_t>(position),
            std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        for (std::size_t row = position; row < position + count; ++row) {
            countInFolders(m_allFiles[row], 1);
            if (append)
                m_rowById.emplace(m_allFiles[row].id(), row);
        }
        rowsMoved = rowsMoved || !append;
        emit filesInserted(static_cast<int>(position), static_cast<int>(position + count - 1));
        i = end;
    }
    flushChanged();
    if (rowsMoved) {
        m_rowById.clear();
        for (std::size_t row = 0; row < m_allFiles.size(); ++row)
            m_rowById.emplace(m_allFiles[row].id(), row);
    }
    emit folderStatusesChanged();
}

std::optional<std::size_t> ScannerViewModel::rowOf(const QUuid& id) const
{
    const auto found = m_rowById.find(id);
    if (found == m_rowById.end())
        return std::nullopt;
    return found->second;
}

const AudioFile* ScannerViewModel::file(const QUuid& id) const
{
    const auto row = rowOf(id);
    return row ? &m_allFiles[*row] : nullptr;
}

// --- discovery --------------------------------------------------------------------------

void ScannerViewModel::setLibrary(const std::filesystem::path& location)
{
    m_rootFolder = location;
    emit rootFolderChanged();
    startDiscovery(location);
}

void ScannerViewModel::refreshLibrary()
{
    if (!m_rootFolder)
        return;
    startDiscovery(*m_rootFolder);
}

void ScannerViewModel::startDiscovery(const std::filesystem::path& location)
{
    m_rootNode = FolderNode::create(location, 0);
    m_rootNode->loadChildren();
    emit rootNodeChanged();
    setSelectedFolder(m_rootNode);

    const int generation = ++*m_discoveryGeneration;
    auto current = m_discoveryGeneration;
    const auto stale = [current, generation] { return current->load() != generation; };
    setIsDiscovering(true);
    setDiscoveryProgress(0.0);
    setDiscoveredFileCount(0);

    // Every report back is dropped when a newer discovery has begun.
    const QPointer<ScannerViewModel> self(this);
    const auto report = [self, stale](std::function<void()> change) {
        QMetaObject::invokeMethod(
            self,
            [self, stale, change = std::move(change)] {
                if (self && !stale())
                    change();
            },
            Qt::QueuedConnection);
    };

    std::optional<CachedVerdicts> verdicts;
    if (m_services.cache && m_services.verdictsOnDiscovery)
        verdicts = CachedVerdicts { m_services.cache, m_services.threshold() };
    m_ioPool.start([this, location, stale, report, verdicts] {
        if (stale())
            return;
        m_filesStore.clear();
        report([this] { syncFromStore(); });
        auto locations = m_scanner.scanDirectory(
            location, [&](int found) { report([this, found] { setDiscoveredFileCount(found); }); },
            [&](const std::filesystem::path& folder, const std::string& reason) {
                report([this, folder, reason] { emit folderSkipped(folder, reason); });
            });
        const std::size_t total = locations.size();
        report([this, total] { setDiscoveredFileCount(static_cast<int>(total)); });
        // Each sync copies every record, so on a large library the copies are made at most
        // ten times a second (and for the first and last batch); the progress moves every batch.
        auto lastSync = std::chrono::steady_clock::time_point {};
        for (std::size_t begin = 0; begin < total && !stale(); begin += kDiscoveryBatch) {
            const std::size_t end = std::min(total, begin + kDiscoveryBatch);
            std::vector<AudioFile> records = buildRecords(locations, begin, end);
            // The records hold their own copies: a path split into its components is a few
            // hundred bytes, too much to keep twice for a whole library.
            for (std::size_t i = begin; i < end; ++i)
                locations[i] = std::filesystem::path();
            if (verdicts)
                verdicts->applyTo(records);
            m_filesStore.addFiles(std::move(records));
            const double progress = static_cast<double>(end) / static_cast<double>(total);
            const auto now = std::chrono::steady_clock::now();
            const bool sync = begin == 0 || end == total || now - lastSync >= kDiscoverySyncInterval;
            if (sync)
                lastSync = now;
            report([this, progress, sync] {
                if (sync)
                    syncFromStore();
                setDiscoveryProgress(progress);
            });
        }
        report([this, total] {
            if (total > 0)
                setDiscoveryProgress(1.0);
            setIsDiscovering(false);
            emit discoveryFinished();
        });
    });
}

// --- the scan ---------------------------------------------------------------------------

ScanStatus ScannerViewModel::verdict(const core::AnalysisResult& result) const
{
    return meetsThreshold(result.judgedCutoff(), m_services.threshold()) ? ScanStatus::passed()
                                                                          : ScanStatus::failed();
}

namespace {

// A scan's outcome keeps the result only.
Result<core::AnalysisResult> analyseAndClassify(
    const std::filesystem::path& url, core::AudioFormat format, const core::FileAnalysis& analysis)
{
    auto verdict = core::analyzeAndClassify(url, format, analysis);
    if (!verdict)
        return verdict.error();
    return verdict->result;
}

} // namespace

std::optional<ScannerViewModel::RunId> ScannerViewModel::startScan()
{
    if (!m_rootFolder || m_isScanning)
        return std::nullopt;
    std::vector<AudioFile> files = m_selectedFolder && m_selectedFolder->url() != *m_rootFolder
        ? filesInFolder(*m_selectedFolder)
        : m_allFiles;
    if (files.empty())
        return std::nullopt;
    performScan(std::move(files));
    return m_scanTask ? std::optional(m_scanTask->id) : std::nullopt;
}

void ScannerViewModel::performScan(std::vector<AudioFile> files)
{
    auto scan = std::make_shared<Scan>();
    scan->id = ++m_lastRunId;
    scan->analysis = m_services.analysis;
    m_scanTask = scan;

    setIsScanning(true);
    emit scanStarted(scan->id);

    core::AnalysisCache* cache = m_services.cache;
    if (!cache) {
        std::vector<QUuid> ids;
        ids.reserve(files.size());
        for (const AudioFile& file : files)
            ids.push_back(file.id());
        m_filesStore.resetToPending(ids);
        syncFromStore();
        startAnalyses(scan, std::move(files));
        return;
    }
    // Each file either takes its cached verdict straight from what it showed, or goes back to
    // pending to wait for its analysis, so rows already judged from the cache do not blink to
    // pending and back. The look-ups read file attributes: off this thread.
    auto uncached = std::make_shared<std::vector<AudioFile>>();
    runThenReport(
        [this, cache, files = std::move(files), uncached] {
            std::vector<QUuid> waiting;
            for (const AudioFile& file : files) {
                // One read of the file's attributes for the result and the override.
                const auto entry = cache->entry(file.url());
                if (!entry) {
                    uncached->push_back(file);
                    waiting.push_back(file.id());
                    continue;
                }
                const core::AnalysisResult result = entry->toAnalysisResult();
                m_filesStore.updateFileAnalysis(file.id(), verdict(result), result);
                if (entry->userOverride)
                    m_filesStore.updateOverride(file.id(), *entry->userOverride);
            }
            m_filesStore.resetToPending(waiting);
        },
        [this, scan, uncached] {
            syncFromStore();
            startAnalyses(scan, std::move(*uncached));
        });
}

void ScannerViewModel::startAnalyses(const std::shared_ptr<Scan>& scan, std::vector<AudioFile> uncached)
{
    if (scan->cancelled || uncached.empty()) {
        // Nothing was analysed, so there is nothing new to save.
        finishScan(scan, false);
        return;
    }
    scan->uncached = std::move(uncached);
    const auto concurrent = static_cast<std::size_t>(m_analysisPool.maxThreadCount());
    const std::size_t window = std::min(concurrent + kLookAhead, scan->uncached.size());
    scan->nextIndex = window;

    if (m_services.prefetcher) {
        const std::size_t ahead = std::min(kLookAhead, window);
        std::vector<std::filesystem::path> locations;
        for (std::size_t i = 0; i < ahead; ++i)
            locations.push_back(scan->uncached[i].url());
        m_services.prefetcher->prefetch(locations);
    }
    const std::size_t started = std::min(concurrent, window);
    for (std::size_t i = 0; i < started; ++i)
        launchAnalysis(scan, scan->uncached[i]);
    for (std::size_t i = started; i < window; ++i)
        scan->queue.push_back(scan->uncached[i]);
}

void ScannerViewModel::launchAnalysis(const std::shared_ptr<Scan>& scan, const AudioFile& file)
{
    m_filesStore.updateStatus(file.id(), ScanStatus::scanning(0.0));
    scan->inFlight.insert(file.id());
    ++scan->running;
    const QPointer<ScannerViewModel> self(this);
    m_analysisPool.start([this, self, scan, id = file.id(), url = file.url(), format = file.format()] {
        // The cache keys a verdict by the file's modification time and size when it is stored;
        // a file replaced while it was analysed would get the old content's verdict.
        const auto keyBefore = core::AnalysisCache::cacheKey(url);
        Outcome outcome { id, url, analyseAndClassify(url, format, scan->analysis) };
        // The cache replaces the entry, and with it any stored override.
        if (outcome.result && m_services.cache && keyBefore
            && keyBefore == core::AnalysisCache::cacheKey(url))
            m_services.cache->set(url, *outcome.result);
        QMetaObject::invokeMethod(
            self,
            [self, scan, outcome = std::move(outcome)]() mutable {
                if (self)
                    self->onAnalysisResult(scan, std::move(outcome));
            },
            Qt::QueuedConnection);
    });
}

void ScannerViewModel::onAnalysisResult(const std::shared_ptr<Scan>& scan, Outcome outcome)
{
    --scan->running;
    if (scan->cancelled)
        return; // cancelScan() already put the file back to pending
    scan->inFlight.remove(outcome.id);
    if (outcome.result)
        m_filesStore.updateFileAnalysis(outcome.id, verdict(*outcome.result), *outcome.result);
    else
        m_filesStore.updateStatus(outcome.id, ScanStatus::error(outcome.result.error().description));

    ++scan->processed;
    setCachedCounts(m_filesStore.counts());
    if (scan->processed % kSyncPeriod == 0)
        syncFromStore();

    if (scan->nextIndex < scan->uncached.size()) {
        const AudioFile& next = scan->uncached[scan->nextIndex++];
        scan->queue.push_back(next);
        if (m_services.prefetcher)
            m_services.prefetcher->prefetch(next.url());
    }
    if (!scan->queue.empty()) {
        const AudioFile file = std::move(scan->queue.front());
        scan->queue.pop_front();
        launchAnalysis(scan, file);
    }
    if (scan->running == 0)
        finishScan(scan, true);
}

void ScannerViewModel::finishScan(const std::shared_ptr<Scan>& scan, bool flushCache)
{
    const auto done = [this, scan] {
        if (m_scanTask == scan)
            setIsScanning(false);
        syncFromStore();
        emit scanFinished(scan->id);
    };
    if (!m_services.cache || !flushCache) {
        done();
        return;
    }
    core::AnalysisCache* cache = m_services.cache;
    runThenReport([cache] { cache->flush(); }, done);
}

void ScannerViewModel::cancelScan()
{
    if (auto scan = std::exchange(m_scanTask, nullptr)) {
        const bool wasRunning = !scan->cancelled.exchange(true) && m_isScanning;
        // The files being analysed go back to pending now; their late results are dropped.
        if (!scan->inFlight.isEmpty()) {
            m_filesStore.resetToPending(std::vector<QUuid>(scan->inFlight.begin(), scan->inFlight.end()));
            scan->inFlight.clear();
            syncFromStore();
        }
        if (wasRunning && scan->running > 0)
            finishScan(scan, true);
    }
    setIsScanning(false);
    setIsDiscovering(false);
}

void ScannerViewModel::rescanFile(const AudioFile& file)
{
    // `file` may be an element of allFiles, which the sync below replaces.
    const QUuid id = file.id();
    const std::filesystem::path url = file.url();
    const core::AudioFormat format = file.format();
    m_filesStore.updateFileAnalysis(id, ScanStatus::scanning(0.0), std::nullopt);
    syncFromStore();
    const QPointer<ScannerViewModel> self(this);
    m_rescanPool.start([this, self, id, url, format] {
        Result<core::AnalysisResult> result
            = Error { std::string(description(AnalysisError::analyzerInitFailed)) };
        if (m_services.analysis)
            result = analyseAndClassify(url, format, m_services.analysis);
        else if (m_analyzer)
            result = analyseAndClassify(url, format,
                [this](const std::filesystem::path& path) { return m_analyzer->analyzeFileComplete(path); });
        QMetaObject::invokeMethod(
            self,
            [self, id, result = std::move(result)] {
                if (!self)
                    return;
                if (result)
                    self->m_filesStore.updateFileAnalysis(id, self->verdict(*result), *result);
                else
                    self->m_filesStore.updateStatus(id, ScanStatus::error(result.error().description));
                self->syncFromStore();
                emit self->rescanFinished(id);
            },
            Qt::QueuedConnection);
    });
}

// --- processing -------------------------------------------------------------------------

ScannerViewModel::RunId ScannerViewModel::process(const ProcessingRequest& request, Done done)
{
    // The store's records when the run starts: a run queued behind another sees the files that
    // one renamed or moved under their new names.
    return runProcessing(
        [this, request](Processing& processing) { return processing.run(request, m_filesStore.snapshot()); },
        std::move(done));
}

ScannerViewModel::RunId ScannerViewModel::runProcessing(
    std::function<ProcessingResults(Processing&)> work, Done done)
{
    const RunId run = ++m_lastRunId;
    ++m_runsInProgress;
    if (!m_isProcessing) {
        m_isProcessing = true;
        emit isProcessingChanged(true);
    }
    static SystemFileOperations systemOperations;
    FileOperations* operations = m_services.fileOperations ? m_services.fileOperations : &systemOperations;
    auto results = std::make_shared<ProcessingResults>();
    const QPointer<ScannerViewModel> self(this);
    // The I/O worker runs one job at a time, so runs follow each other in the order asked for.
    runThenReport(
        [this, self, run, operations, work = std::move(work), results] {
            Processing processing(m_filesStore, *operations, m_metadataEditor, std::cout);
            processing.setCache(m_services.cache);
            processing.setProgressHandler([self, run](int position, int total) {
                QMetaObject::invokeMethod(
                    self,
                    [self, run, position, total] {
                        if (self)
                            emit self->processingProgress(run, position, total);
                    },
                    Qt::QueuedConnection);
            });
            *results = work(processing);
        },
        [this, run, results, done = std::move(done)] {
            syncFromStore();
            if (--m_runsInProgress == 0) {
                m_isProcessing = false;
                emit isProcessingChanged(false);
            }
            if (done)
                done(*results);
            emit processingFinished(run);
        });
    return run;
}

ScannerViewModel::RunId ScannerViewModel::renameFailedFiles(const Scope& scope, Done done)
{
    ProcessingRequest request;
    request.scope = scope;
    request.rename = true;
    return process(request, std::move(done));
}

ScannerViewModel::RunId ScannerViewModel::moveFailedFiles(
    const std::filesystem::path& destination, const Scope& scope, Done done)
{
    ProcessingRequest request;
    request.scope = scope;
    request.move = true;
    request.destination = destination;
    return process(request, std::move(done));
}

ScannerViewModel::RunId ScannerViewModel::deleteFailedFiles(const Scope& scope, Done done)
{
    ProcessingRequest request;
    request.scope = scope;
    request.trash = true;
    return process(request, std::move(done));
}

ScannerViewModel::RunId ScannerViewModel::updateMetadata(const Scope& scope, Done done)
{
    ProcessingRequest request;
    request.scope = scope;
    request.updateTags = true;
    return process(request, std::move(done));
}

ScannerViewModel::RunId ScannerViewModel::deleteFiles(std::vector<AudioFile> files, Done done)
{
    return runProcessing(
        [files = std::move(files)](Processing& processing) {
            ProcessingResults results;
            auto [deleted, error] = processing.deleteFiles(files);
            results.deletedCount = deleted;
            if (error)
                results.errors.push_back(*error);
            return results;
        },
        std::move(done));
}

ScannerViewModel::RunId ScannerViewModel::updateFileMetadata(const AudioFile& file, Done done)
{
    return runProcessing(
        [file](Processing& processing) {
            ProcessingResults results;
            auto [succeeded, failures] = processing.updateFileMetadata(file);
            results.metadataUpdatedCount = succeeded;
            results.metadataFailedCount = static_cast<int>(failures.size());
            return results;
        },
        std::move(done));
}

// --- overrides and derived views --------------------------------------------------------

void ScannerViewModel::setUserOverride(const AudioFile& file, bool djReady, core::QualityRating rating)
{
    const core::UserOverride override { djReady, rating, std::chrono::system_clock::now() };
    const QUuid id = file.id();
    const std::filesystem::path url = file.url();
    core::AnalysisCache* cache = m_services.cache;
    runThenReport(
        [cache, url, override] {
            if (cache)
                cache->setOverride(url, override);
        },
        [this, id, override] {
            m_filesStore.updateOverride(id, override);
            syncFromStore();
        });
}

void ScannerViewModel::clearUserOverride(const AudioFile& file)
{
    const QUuid id = file.id();
    const std::filesystem::path url = file.url();
    core::AnalysisCache* cache = m_services.cache;
    runThenReport(
        [cache, url] {
            if (cache)
                cache->clearOverride(url);
        },
        [this, id] {
            m_filesStore.updateOverride(id, std::nullopt);
            syncFromStore();
        });
}

std::vector<AudioFile> ScannerViewModel::failedFiles() const
{
    std::vector<AudioFile> failed;
    std::copy_if(m_allFiles.begin(), m_allFiles.end(), std::back_inserter(failed),
        [](const AudioFile& file) { return file.status().kind() == ScanStatus::Kind::failed; });
    return failed;
}

std::vector<AudioFile> ScannerViewModel::filesInFolder(const FolderNode& folder) const
{
    return filesInFolder(folder.url());
}

std::vector<AudioFile> ScannerViewModel::filesInFolder(const std::filesystem::path& folder) const
{
    // The trailing "/" keeps Live from matching its sibling Live Sets.
    std::string prefix = folder.string();
    if (prefix.empty() || prefix.back() != '/')
        prefix += '/';
    std::vector<AudioFile> files;
    for (const AudioFile& file : m_allFiles) {
        if (file.url().string().starts_with(prefix))
            files.push_back(file);
    }
    return files;
}

ScannerViewModel::FolderStatus ScannerViewModel::folderStatus(const FolderNode& folder) const
{
    return folderStatus(folder.url());
}

ScannerViewModel::FolderStatus ScannerViewModel::folderStatus(const std::filesystem::path& folder) const
{
    std::string_view key = folder.native();
    while (!key.empty() && key.back() == '/')
        key.remove_suffix(1);
    const auto found = m_folderCounts.find(key);
    return found == m_folderCounts.end() ? FolderStatus {} : folderStatus(found->second);
}

ScannerViewModel::FolderStatus ScannerViewModel::folderStatus(const FilesStore::StatusCounts& counts)
{
    const int errors = counts.error;
    if (counts.scanning > 0)
        return { FolderStatusKind::scanning, 0, 0, errors };
    if (counts.passed + counts.failed == 0)
        return { FolderStatusKind::notScanned, 0, 0, errors };
    if (counts.failed == 0)
        return { FolderStatusKind::allPassed, counts.passed, 0, errors };
    if (counts.passed == 0)
        return { FolderStatusKind::allFailed, 0, counts.failed, errors };
    return { FolderStatusKind::mixed, counts.passed, counts.failed, errors };
}

ScannerViewModel::FolderStatus ScannerViewModel::folderStatus(const std::vector<AudioFile>& files)
{
    FilesStore::StatusCounts counts;
    for (const AudioFile& file : files)
        counts.increment(file.status());
    return folderStatus(counts);
}

double ScannerViewModel::scanProgress() const noexcept
{
    const auto& c = m_cachedCounts;
    const int total = c.passed + c.failed + c.error + c.pending + c.scanning;
    if (total < 1)
        return 0.0;
    return static_cast<double>(c.passed + c.failed + c.error) / static_cast<double>(total);
}

std::string ScannerViewModel::statusMessage() const
{
    return statusMessage(m_allFiles.size(), m_cachedCounts, m_isDiscovering, m_isScanning);
}

std::string ScannerViewModel::statusMessage(
    std::size_t records, const FilesStore::StatusCounts& c, bool isDiscovering, bool isScanning)
{
    const std::string n = std::to_string(records);
    const int decided = c.passed + c.failed + c.error;
    const int total = decided + c.pending + c.scanning;
    if (isDiscovering)
        return "Discovering files... " + n + " found";
    if (isScanning)
        return "Scanning " + std::to_string(decided) + " of " + std::to_string(total) + " files";
    if (records == 0)
        return "Select a folder to scan";
    if (decided < 1)
        return n + " files ready to scan";
    std::string message
        = n + " files - " + std::to_string(c.passed) + " passed - " + std::to_string(c.failed) + " failed";
    // Verdicts taken from the cache at discovery leave only the rest waiting for a scan.
    if (c.pending > 0)
        message += " - " + std::to_string(c.pending) + " ready to scan";
    return message;
}

} // namespace sondrel::app
