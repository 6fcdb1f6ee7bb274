#pragma once

#include "FilesStore.h"
#include "MetadataEditor.h"
#include "Processing.h"

#include <QObject>
#include <QThreadPool>

#include <functional>

namespace sondrel::core {
class AnalysisCache;
}

namespace sondrel::app {

class FileOperations;

// The view model's processing runs: each runs with a Processing over the store on the I/O
// worker, one after another in the order asked for, and reports back on the GUI thread.
class ProcessingRuns : public QObject {
    Q_OBJECT

public:
    using RunId = quint64;
    using Done = std::function<void(const ProcessingResults&)>;

    // `operations` none: the system's; `cache` none: no cache to keep in step.
    ProcessingRuns(FilesStore& store, FileOperations* operations, core::AnalysisCache* cache, QThreadPool& io,
        QObject* parent = nullptr);

    [[nodiscard]] bool isProcessing() const noexcept { return m_runsInProgress > 0; }
    // Starts run `id` of `work`; at its end storeChanged(), then `done`, then finished().
    void start(RunId id, std::function<ProcessingResults(Processing&)> work, Done done);

signals:
    void isProcessingChanged(bool isProcessing);
    void progress(sondrel::app::ProcessingRuns::RunId run, int position, int total);
    // A run's changes are in the store, before its `done`.
    void storeChanged();
    void finished(sondrel::app::ProcessingRuns::RunId run);

private:
    FilesStore& m_store;
    FileOperations* const m_operations;
    core::AnalysisCache* const m_cache;
    QThreadPool& m_io;
    MetadataEditor m_metadataEditor;
    int m_runsInProgress = 0;
};

} // namespace sondrel::app
