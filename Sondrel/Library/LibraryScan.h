#pragma once

#include "AudioFile.h"
#include "FileVerdict.h"
#include "FilesStore.h"
#include "SpectrumAnalyzer.h"

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace sondrel::core {
class AnalysisCache;
class FilePrefetcher;
} // namespace sondrel::core

namespace sondrel::app {

// The scan run of a library: applies the cached results of the files it is given, analyses the
// rest in a bounded window (as many analyses at once as allowed, a few more files queued and
// read ahead), stores every verdict and result in the store and the new results in the cache.
// Also the re-scan of single files. Lives on the GUI thread; the store is its only output,
// and the signals say when to copy it.
class LibraryScan : public QObject {
    Q_OBJECT

public:
    using RunId = quint64;
    struct Setup {
        core::AnalysisCache* cache = nullptr; // none: neither read nor written
        core::FilePrefetcher* prefetcher = nullptr; // none: no read-ahead
        core::FileAnalysis analysis; // empty: the real analysis
        int concurrentAnalyses = 0; // 0: one per usable core
        // The files' records were built just before the scan (a one-shot run of the command
        // line): the cached pass keys each file by the attributes its record holds instead of
        // reading them again. Off where a scan may start long after the records were built.
        bool recordsAreFresh = false;
        // A result's status under the threshold of the moment; called on any thread.
        std::function<ScanStatus(const core::AnalysisResult&)> verdict;
    };

    // `io` runs the cache step and the flush, in order with the owner's other disk jobs.
    LibraryScan(FilesStore& store, Setup setup, QThreadPool& io, QObject* parent = nullptr);
    // Cancels the scan and waits for its analyses.
    ~LibraryScan() override;

    // Starts scan `id` of `files`, returning at once; a scan still running is to be cancelled
    // first.
    void start(RunId id, std::vector<AudioFile> files);
    // The scan's late results are dropped and its files still being analysed go back to
    // pending. Returns whether it cancelled a scan.
    bool cancel();
    // Analyses one file again, ignoring the cache. Re-scans run one after another.
    void rescan(const AudioFile& file);

signals:
    // Results reached the store: the counts changed, and with `rows` the rows are due a copy.
    void storeChanged(bool rows);
    // Scan `id` ended, by itself or cancelled, with the cache flushed; `current`: no scan was
    // started or cancelled after it.
    void finished(sondrel::app::LibraryScan::RunId id, bool current);
    // A re-scan's verdict (or error) is in the store.
    void rescanFinished(QUuid id);

private:
    struct Run;
    struct Outcome {
        QUuid id;
        Result<core::FileVerdict> analysed;
    };

    void startAnalyses(const std::shared_ptr<Run>& run, std::vector<AudioFile> uncached);
    void launchAnalysis(const std::shared_ptr<Run>& run, const AudioFile& file);
    void onAnalysisResult(const std::shared_ptr<Run>& run, Outcome outcome);
    void finish(const std::shared_ptr<Run>& run, bool flushCache);
    // The verdict or the error of a result, into the store.
    void store(const QUuid& id, const Result<core::FileVerdict>& analysed);

    FilesStore& m_store;
    const Setup m_setup;
    QThreadPool& m_io;
    std::shared_ptr<Run> m_current;
    std::optional<core::SpectrumAnalyzer> m_analyzer; // re-scans only, one at a time
    // One thread per concurrent analysis.
    QThreadPool m_analysisPool;
    // Re-scans, one at a time on the one analyzer.
    QThreadPool m_rescanPool;
};

} // namespace sondrel::app
