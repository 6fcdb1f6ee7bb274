#include "ScannerViewModel.h"

#include "AnalysisCache.h"
#include "AppSettings.h"
#include "Background.h"
#include "FilePrefetcher.h"

#include <QSemaphore>

#include <atomic>
#include <chrono>

namespace sondrel::app {
namespace {

constexpr std::size_t kDiscoveryBatch = 100;
constexpr std::chrono::milliseconds kDiscoverySyncInterval { 100 };

// Builds the records of a batch on the pool's threads (tag reads touch the disk), each with the
// cache's entry for the file as it is, if there is a cache. The threads stay for the next batch:
// starting new ones for every 100 files cost more system calls than the files themselves.
std::vector<AudioFile::Discovered> buildRecords(const std::vector<std::filesystem::path>& locations,
    std::size_t begin, std::size_t end, core::AnalysisCache* cache, QThreadPool& pool)
{
    std::vector<std::optional<AudioFile::Discovered>> built(end - begin);
    std::atomic<std::size_t> next { 0 };
    const auto build = [&] {
        for (std::size_t i; (i = next++) < built.size();) {
            const std::filesystem::path& url = locations[begin + i];
            built[i].emplace(
                cache ? AudioFile::discover(url, *cache) : AudioFile::Discovered { AudioFile(url), {} });
        }
    };
    const int helpers = std::min(pool.maxThreadCount(), static_cast<int>(built.size())) - 1;
    QSemaphore done;
    for (int h = 0; h < helpers; ++h)
        pool.start([&] {
            build();
            done.release();
        });
    // The calling thread takes its share too.
    build();
    done.acquire(std::max(helpers, 0));
    std::vector<AudioFile::Discovered> records;
    records.reserve(built.size());
    for (auto& record : built)
        records.push_back(std::move(*record));
    return records;
}

// What a record found in the cache at discovery takes from it: the verdict under the threshold
// of the moment, the result and any override.
struct CachedVerdicts {
    std::function<QualityThreshold()> threshold;

    void applyTo(std::vector<AudioFile::Discovered>& records) const
    {
        const QualityThreshold now = threshold();
        for (auto& [file, entry] : records) {
            if (!entry)
                continue;
            const core::AnalysisResult result = entry->toAnalysisResult();
            file.setStatus(verdict(result, now));
            file.setResult(result);
            file.setUserOverride(entry->userOverride);
        }
    }
};

} // namespace

ScannerViewModel::Services ScannerViewModel::Services::standard()
{
    Services services;
    services.cache = &core::AnalysisCache::shared();
    services.prefetcher = &core::FilePrefetcher::shared();
    AppSettings* settings = &AppSettings::shared();
    services.threshold = [settings] { return settings->qualityThreshold(); };
    services.settings = settings;
    return services;
}

ScannerViewModel::ScannerViewModel(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_scan(m_filesStore,
          { m_services.cache, m_services.prefetcher, m_services.analysis, m_services.concurrentAnalyses,
              m_services.recordsAreFresh,
              [this](const core::AnalysisResult& result) { return verdict(result, threshold()); } },
          m_ioPool)
    , m_processing(m_filesStore, m_services.fileOperations, m_services.cache, m_ioPool)
{
    m_ioPool.setMaxThreadCount(1);
    m_cacheReadPool.setMaxThreadCount(1);
    // The rows' signals are the view model's own.
    connect(&m_rows, &LibraryRows::filesAboutToBeReset, this, &ScannerViewModel::filesAboutToBeReset);
    connect(&m_rows, &LibraryRows::filesReset, this, &ScannerViewModel::filesReset);
    connect(&m_rows, &LibraryRows::filesAboutToBeInserted, this, &ScannerViewModel::filesAboutToBeInserted);
    connect(&m_rows, &LibraryRows::filesInserted, this, &ScannerViewModel::filesInserted);
    connect(&m_rows, &LibraryRows::filesAboutToBeRemoved, this, &ScannerViewModel::filesAboutToBeRemoved);
    connect(&m_rows, &LibraryRows::filesRemoved, this, &ScannerViewModel::filesRemoved);
    connect(&m_rows, &LibraryRows::filesChanged, this, &ScannerViewModel::filesChanged);
    connect(&m_rows, &LibraryRows::folderStatusesChanged, this, &ScannerViewModel::folderStatusesChanged);

    connect(&m_scan, &LibraryScan::storeChanged, this, [this](bool rows) {
        if (rows)
            syncFromStore();
        else
            setCachedCounts(m_filesStore.counts());
    });
    connect(&m_scan, &LibraryScan::finished, this, [this](RunId scan, bool current) {
        if (current)
            setIsScanning(false);
        syncFromStore();
        emit scanFinished(scan);
    });
    connect(&m_scan, &LibraryScan::rescanFinished, this, &ScannerViewModel::rescanFinished);
    connect(&m_processing, &ProcessingRuns::storeChanged, this, &ScannerViewModel::syncFromStore);
    connect(
        &m_processing, &ProcessingRuns::isProcessingChanged, this, &ScannerViewModel::isProcessingChanged);
    connect(&m_processing, &ProcessingRuns::progress, this, &ScannerViewModel::processingProgress);
    connect(&m_processing, &ProcessingRuns::finished, this, &ScannerViewModel::processingFinished);
    if (m_services.settings)
        connect(m_services.settings, &AppSettings::qualityThresholdChanged, this,
            &ScannerViewModel::applyThreshold);
}

ScannerViewModel::~ScannerViewModel()
{
    // Workers report back through queued calls, which are dropped once their owner is gone;
    // what they touch directly (the store, the scan) must outlive them.
    m_scan.cancel();
    ++*m_discoveryGeneration;
    m_ioPool.waitForDone();
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
    sync(LibraryRows::Announce::byRuns);
}

void ScannerViewModel::sync(LibraryRows::Announce announce)
{
    FilesStore::Changes changes = m_filesStore.changesSince(m_syncedRevision);
    m_syncedRevision = changes.revision;
    m_rows.apply(std::move(changes), announce);
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

std::optional<std::size_t> ScannerViewModel::rowOf(const QUuid& id) const
{
    return m_rows.rowOf(id);
}

const AudioFile* ScannerViewModel::file(const QUuid& id) const
{
    return m_rows.file(id);
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
    const auto report = [self = QPointer<QObject>(this), stale](std::function<void()> change) {
        reportTo(self, [stale, change = std::move(change)] {
            if (!stale())
                change();
        });
    };

    std::optional<CachedVerdicts> verdicts;
    if (m_services.cache && m_services.verdictsOnDiscovery)
        verdicts = CachedVerdicts { m_services.threshold };
    // Read while the folders are walked: the records take their tags from it.
    if (m_services.cache)
        m_cacheReadPool.start([cache = m_services.cache] { (void)cache->count(); });
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
            std::vector<AudioFile::Discovered> discovered
                = buildRecords(locations, begin, end, m_services.cache, m_recordPool);
            // The records hold their own copies: a path split into its components is a few
            // hundred bytes, too much to keep twice for a whole library.
            for (std::size_t i = begin; i < end; ++i)
                locations[i] = std::filesystem::path();
            if (verdicts)
                verdicts->applyTo(discovered);
            std::vector<AudioFile> records;
            records.reserve(discovered.size());
            for (auto& found : discovered)
                records.push_back(std::move(found.file));
            discovered.clear();
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

// --- the scan and the threshold ----------------------------------------------------------

std::optional<ScannerViewModel::RunId> ScannerViewModel::startScan()
{
    if (!m_rootFolder || m_isScanning)
        return std::nullopt;
    std::vector<AudioFile> files = m_selectedFolder && m_selectedFolder->url() != *m_rootFolder
        ? filesInFolder(*m_selectedFolder)
        : allFiles();
    if (files.empty())
        return std::nullopt;
    const RunId scan = ++m_lastRunId;
    setIsScanning(true);
    emit scanStarted(scan);
    m_scan.start(scan, std::move(files));
    return scan;
}

void ScannerViewModel::cancelScan()
{
    m_scan.cancel();
    setIsScanning(false);
    setIsDiscovering(false);
}

void ScannerViewModel::rescanFile(const AudioFile& file)
{
    m_scan.rescan(file);
}

void ScannerViewModel::applyThreshold()
{
    const QualityThreshold now = threshold();
    m_filesStore.rejudge([now](const core::AnalysisResult& result) { return verdict(result, now); });
    sync(LibraryRows::Announce::asOneRange);
    emit thresholdChanged(now);
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
    m_processing.start(run, std::move(work), std::move(done));
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
    storeUserOverride(file, core::UserOverride { djReady, rating, std::chrono::system_clock::now() });
}

void ScannerViewModel::clearUserOverride(const AudioFile& file)
{
    storeUserOverride(file, std::nullopt);
}

void ScannerViewModel::storeUserOverride(
    const AudioFile& file, const std::optional<core::UserOverride>& userOverride)
{
    runInBackground(
        m_ioPool, this,
        [cache = m_services.cache, url = file.url(), userOverride] {
            if (!cache)
                return;
            if (userOverride)
                cache->setOverride(url, *userOverride);
            else
                cache->clearOverride(url);
        },
        [this, id = file.id(), userOverride] {
            m_filesStore.updateOverride(id, userOverride);
            syncFromStore();
        });
}

std::vector<AudioFile> ScannerViewModel::failedFiles() const
{
    return m_rows.failedFiles();
}

std::vector<AudioFile> ScannerViewModel::filesInFolder(const FolderNode& folder) const
{
    return filesInFolder(folder.url());
}

std::vector<AudioFile> ScannerViewModel::filesInFolder(const std::filesystem::path& folder) const
{
    return m_rows.filesInFolder(folder);
}

ScannerViewModel::FolderStatus ScannerViewModel::folderStatus(const FolderNode& folder) const
{
    return folderStatus(folder.url());
}

ScannerViewModel::FolderStatus ScannerViewModel::folderStatus(const std::filesystem::path& folder) const
{
    return folderStatus(m_rows.countsBelow(folder));
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
    return statusMessage(allFiles().size(), m_cachedCounts, m_isDiscovering, m_isScanning);
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
