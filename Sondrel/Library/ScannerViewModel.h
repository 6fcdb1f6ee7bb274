#pragma once

#include "AudioFile.h"
#include "DirectoryScanner.h"
#include "FileVerdict.h"
#include "FilesStore.h"
#include "FolderNode.h"
#include "LibraryRows.h"
#include "LibraryScan.h"
#include "Processing.h"
#include "ProcessingRuns.h"
#include "QualityThreshold.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sondrel::core {
class AnalysisCache;
class FilePrefetcher;
} // namespace sondrel::core

namespace sondrel::app {

class AppSettings;
using core::AnalysisError;

// The application's single orchestrator: discovery of a library, the threshold, overrides and
// the derived views of the records, over its parts: the store, the scan run (LibraryScan), the
// processing runs (ProcessingRuns) and the rows the views read with their folder counts
// (LibraryRows). Lives on the thread that creates it (the GUI thread) and must be used from there
// only; every step that touches the disk or decodes runs on a worker and reports back to that
// thread. The views read only the copies `allFiles` and `cachedCounts`.
class ScannerViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(bool isDiscovering READ isDiscovering NOTIFY isDiscoveringChanged)
    Q_PROPERTY(double discoveryProgress READ discoveryProgress NOTIFY discoveryProgressChanged)
    Q_PROPERTY(int discoveredFileCount READ discoveredFileCount NOTIFY discoveredFileCountChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)

public:
    // One file's analysis, on a worker thread. The default creates a SpectrumAnalyzer for the
    // file alone.
    using Analysis = core::FileAnalysis;

    // What the view model works with. The defaults are the process-wide services.
    struct Services {
        core::AnalysisCache* cache = nullptr; // none: the scan neither reads nor writes a cache
        core::FilePrefetcher* prefetcher = nullptr; // none: no read-ahead
        std::function<QualityThreshold()> threshold; // read at every verdict
        // Each change of its threshold judges every stored result again at once
        // (applyThreshold()); none: only calls of applyThreshold() do.
        AppSettings* settings = nullptr;
        Analysis analysis; // empty: the real analysis
        FileOperations* fileOperations = nullptr; // rename, move and trash; none: the system's
        int concurrentAnalyses = 0; // 0: one per usable core
        // Discovery gives every file whose cache entry matches its verdict, result and override
        // at once, so that only the rest waits for a scan. Off: every record starts pending.
        bool verdictsOnDiscovery = true;
        // A scan follows discovery at once (a one-shot run of the command line): its cached
        // pass takes each file's attributes from the record discovery just built. Off (the
        // window, where a scan may start long after discovery): they are read again.
        bool recordsAreFresh = false;

        [[nodiscard]] static Services standard();
    };

    enum class FolderStatusKind { allFailed, mixed, notScanned, scanning, allPassed };
    struct FolderStatus {
        FolderStatusKind kind = FolderStatusKind::notScanned;
        int passed = 0;
        int failed = 0; // the count of allFailed, or the failed of mixed
        int errors = 0; // files that could not be analysed, whatever the kind

        bool operator==(const FolderStatus&) const = default;
    };

    explicit ScannerViewModel(Services services = Services::standard(), QObject* parent = nullptr);
    ~ScannerViewModel() override;

    ScannerViewModel(const ScannerViewModel&) = delete;
    ScannerViewModel& operator=(const ScannerViewModel&) = delete;

    [[nodiscard]] const std::optional<std::filesystem::path>& rootFolder() const noexcept
    {
        return m_rootFolder;
    }
    [[nodiscard]] const std::shared_ptr<FolderNode>& rootNode() const noexcept { return m_rootNode; }
    [[nodiscard]] const std::shared_ptr<FolderNode>& selectedFolder() const noexcept
    {
        return m_selectedFolder;
    }
    void setSelectedFolder(std::shared_ptr<FolderNode> folder);
    // In the store's order (discovery order); rows change only as the file signals below say.
    [[nodiscard]] const std::vector<AudioFile>& allFiles() const noexcept { return m_rows.files(); }
    // The row of a record in allFiles(), or none.
    [[nodiscard]] std::optional<std::size_t> rowOf(const QUuid& id) const;
    // The record in allFiles() with this id, or null; valid until the next change of the rows.
    [[nodiscard]] const AudioFile* file(const QUuid& id) const;
    [[nodiscard]] bool isScanning() const noexcept { return m_isScanning; }
    [[nodiscard]] bool isDiscovering() const noexcept { return m_isDiscovering; }
    [[nodiscard]] double discoveryProgress() const noexcept { return m_discoveryProgress; }
    [[nodiscard]] int discoveredFileCount() const noexcept { return m_discoveredFileCount; }
    [[nodiscard]] const FilesStore::StatusCounts& cachedCounts() const noexcept { return m_cachedCounts; }
    [[nodiscard]] FilesStore& filesStore() noexcept { return m_filesStore; }
    // The threshold every verdict is judged by, now.
    [[nodiscard]] QualityThreshold threshold() const { return m_services.threshold(); }
    // Judges every stored result again by threshold(), without analysing: statuses, counts,
    // folder statuses and failedFiles() follow in one pass, the rows in one filesChanged();
    // then thresholdChanged().
    void applyThreshold();

    // Brings allFiles() and cachedCounts() up to date with the store, row by row.
    void syncFromStore();

    // Chooses the library and discovers it; returns at once. A discovery still running is
    // stopped first, so two never fill the store together.
    void setLibrary(const std::filesystem::path& location);
    // Drops every record and discovers the library again; nothing without a library.
    void refreshLibrary();

    // Identifies one scan or one processing run in the signals.
    using RunId = quint64;

    // Scans the selected folder's files (all files when the root or nothing is selected);
    // returns at once with the scan's id. Does nothing (none) without a library, while a scan
    // runs, or with no files.
    std::optional<RunId> startScan();
    // Late results are discarded; files still being analysed return to pending.
    void cancelScan();
    // Analyses one file again, ignoring the cache. Re-scans run one after another.
    void rescanFile(const AudioFile& file);

    // Runs the ticked operations (rename, move, trash, tags, in that order) on the failed files
    // of the scope off this thread, then synchronises and hands the results to `done`. A run
    // asked for while another is in progress waits for it and then works on the records as
    // that one left them; every run answers `done`. Tag progress lines go to standard output
    // and to processingProgress().
    using Done = std::function<void(const ProcessingResults&)>;
    RunId process(const ProcessingRequest& request, Done done);
    [[nodiscard]] bool isProcessing() const noexcept { return m_processing.isProcessing(); }

    // The single operations of a run, each as a run of its own; `scope` none: the library.
    using Scope = std::optional<QSet<QUuid>>;
    RunId renameFailedFiles(const Scope& scope, Done done);
    RunId moveFailedFiles(const std::filesystem::path& destination, const Scope& scope, Done done);
    RunId deleteFailedFiles(const Scope& scope, Done done);
    RunId updateMetadata(const Scope& scope, Done done);
    // Any files the user chose, failed or not; the count and error come back in `deletedCount`
    // and `errors`.
    RunId deleteFiles(std::vector<AudioFile> files, Done done);
    // One file's tags; the counts come back in the metadata fields.
    RunId updateFileMetadata(const AudioFile& file, Done done);

    void setUserOverride(const AudioFile& file, bool djReady, core::QualityRating rating);
    void clearUserOverride(const AudioFile& file);
    // Stores the override (none: clears it) in the cache, then in the record.
    void storeUserOverride(const AudioFile& file, const std::optional<core::UserOverride>& userOverride);

    [[nodiscard]] std::vector<AudioFile> failedFiles() const;
    [[nodiscard]] std::vector<AudioFile> filesInFolder(const FolderNode& folder) const;
    [[nodiscard]] std::vector<AudioFile> filesInFolder(const std::filesystem::path& folder) const;
    // From counts kept per folder as the rows change: no walk over the records.
    [[nodiscard]] FolderStatus folderStatus(const FolderNode& folder) const;
    [[nodiscard]] FolderStatus folderStatus(const std::filesystem::path& folder) const;

    [[nodiscard]] double scanProgress() const noexcept;
    [[nodiscard]] std::string statusMessage() const;

    // The rules behind folderStatus and statusMessage, over given records and counts.
    [[nodiscard]] static FolderStatus folderStatus(const std::vector<AudioFile>& files);
    [[nodiscard]] static FolderStatus folderStatus(const FilesStore::StatusCounts& counts);
    [[nodiscard]] static std::string statusMessage(
        std::size_t records, const FilesStore::StatusCounts& counts, bool isDiscovering, bool isScanning);

signals:
    void rootFolderChanged();
    void rootNodeChanged();
    void selectedFolderChanged();
    // After every synchronisation with the store, once the row signals below have been sent.
    void allFilesChanged();
    void cachedCountsChanged();
    // Row by row, as allFiles() changes: each "about to" signal comes before allFiles() changes,
    // the other after. Rows are positions in allFiles(), `last` included.
    void filesAboutToBeReset();
    void filesReset();
    void filesAboutToBeInserted(int first, int last);
    void filesInserted(int first, int last);
    void filesAboutToBeRemoved(int first, int last);
    void filesRemoved(int first, int last);
    void filesChanged(int first, int last);
    // Some folder's status may have changed.
    void folderStatusesChanged();
    void isScanningChanged(bool isScanning);
    void isDiscoveringChanged(bool isDiscovering);
    void discoveryProgressChanged(double progress);
    void discoveredFileCountChanged(int count);
    // A discovery ran to its end (not emitted for one that a newer discovery replaced).
    void discoveryFinished();
    // Discovery could not list this folder (whole or in part); `reason` is the system's text.
    void folderSkipped(const std::filesystem::path& folder, const std::string& reason);
    // After applyThreshold(), once the records show the new verdicts.
    void thresholdChanged(sondrel::app::QualityThreshold threshold);
    void scanStarted(sondrel::app::ScannerViewModel::RunId scan);
    // A scan ended, by itself or cancelled, with the cache flushed and the copies synchronised.
    // A cancelled scan reports its own id, never that of a scan started after it.
    void scanFinished(sondrel::app::ScannerViewModel::RunId scan);
    void scanProgressChanged(double progress);
    void isProcessingChanged(bool isProcessing);
    // "Metadata update: position/total" of a processing run.
    void processingProgress(sondrel::app::ScannerViewModel::RunId run, int position, int total);
    void processingFinished(sondrel::app::ScannerViewModel::RunId run);
    // A re-scan's verdict (or error) is in the store and the copies.
    void rescanFinished(QUuid id);

private:
    // Brings the rows and counts up to date with the store.
    void sync(LibraryRows::Announce announce);
    void setCachedCounts(const FilesStore::StatusCounts& counts);
    void setIsScanning(bool value);
    void setIsDiscovering(bool value);
    void setDiscoveryProgress(double value);
    void setDiscoveredFileCount(int value);
    void startDiscovery(const std::filesystem::path& location);
    // Runs `work` with a Processing on the I/O worker, then synchronises and calls `done`.
    RunId runProcessing(std::function<ProcessingResults(Processing&)> work, Done done);

    const Services m_services;
    FilesStore m_filesStore;
    DirectoryScanner m_scanner;
    RunId m_lastRunId = 0;

    std::optional<std::filesystem::path> m_rootFolder;
    std::shared_ptr<FolderNode> m_rootNode;
    std::shared_ptr<FolderNode> m_selectedFolder;
    LibraryRows m_rows;
    std::uint64_t m_syncedRevision = 0;
    FilesStore::StatusCounts m_cachedCounts;
    bool m_isScanning = false;
    bool m_isDiscovering = false;
    double m_discoveryProgress = 0.0;
    int m_discoveredFileCount = 0;

    // Bumped by every new discovery; a discovery whose number is no longer current stops.
    std::shared_ptr<std::atomic<int>> m_discoveryGeneration = std::make_shared<std::atomic<int>>(0);

    // Helps discovery build each batch's records, one thread per core less the one it runs on.
    QThreadPool m_recordPool;
    // Discovery, cache look-ups and flushes and processing, one job at a time, in order.
    QThreadPool m_ioPool;
    // Reads a cache file not read yet while discovery walks the folders.
    QThreadPool m_cacheReadPool;
    // These run their disk steps on the I/O pool, so they come after it.
    LibraryScan m_scan;
    ProcessingRuns m_processing;
};

} // namespace sondrel::app
