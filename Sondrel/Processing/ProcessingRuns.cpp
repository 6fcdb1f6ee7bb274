#include "ProcessingRuns.h"

#include "Background.h"
#include "SystemFileOperations.h"

#include <iostream>

namespace sondrel::app {

ProcessingRuns::ProcessingRuns(FilesStore& store, FileOperations* operations, core::AnalysisCache* cache,
    QThreadPool& io, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_operations(operations)
    , m_cache(cache)
    , m_io(io)
{
}

void ProcessingRuns::start(RunId id, std::function<ProcessingResults(Processing&)> work, Done done)
{
    if (m_runsInProgress++ == 0)
        emit isProcessingChanged(true);
    static SystemFileOperations systemOperations;
    FileOperations* operations = m_operations ? m_operations : &systemOperations;
    // The I/O worker runs one job at a time, so runs follow each other in the order asked for.
    runInBackground(
        m_io, this,
        [this, self = QPointer<QObject>(this), id, operations, work = std::move(work)] {
            Processing processing(m_store, *operations, m_metadataEditor, std::cout);
            processing.setCache(m_cache);
            processing.setProgressHandler([this, self, id](int position, int total) {
                reportTo(self, [this, id, position, total] { emit progress(id, position, total); });
            });
            return work(processing);
        },
        [this, id, done = std::move(done)](const ProcessingResults& results) {
            emit storeChanged();
            if (--m_runsInProgress == 0)
                emit isProcessingChanged(false);
            if (done)
                done(results);
            emit finished(id);
        });
}

} // namespace sondrel::app
