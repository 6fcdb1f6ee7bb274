#pragma once

#include "AudioFile.h"
#include "FileOperations.h"
#include "FilesStore.h"
#include "JsonSupport.h"
#include "MetadataEditor.h"

#include <QSet>
#include <QUuid>

#include <atomic>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace sondrel::core {
class AnalysisCache;
}

namespace sondrel::app {

struct ProcessingResults {
    int crateAddedCount = 0; // files put in the Mixxx crate by this run
    int renamedCount = 0;
    int movedCount = 0;
    int deletedCount = 0;
    int metadataUpdatedCount = 0;
    int metadataFailedCount = 0;
    std::vector<std::string> errors; // one line per operation that stopped, in run order
    std::vector<std::string> metadataFailures; // "path: reason", one per failed tag write
    std::vector<std::string> notInMixxxLibrary; // failed files that the crate could not take
    // Failed files the user marked DJ ready, which the rename, move and trash left alone.
    std::vector<std::string> keptFiles;
    bool interrupted = false; // the tag phase stopped early, at the user's request

    // "Processing Complete" or "Processing Complete with Issues" ("Processing Interrupted" when
    // stopped), then a line per non-zero count, then "Errors" and the error lines, then
    // "Metadata update failures" and the failed files with their reasons, then "Not in the Mixxx
    // library" and those files, then "Kept: marked DJ ready" and the files kept.
    [[nodiscard]] std::vector<std::string> lines() const;
    [[nodiscard]] bool hasIssues() const noexcept { return !errors.empty() || metadataFailedCount > 0; }
};

// The failed files go into this crate of a Mixxx library, before any of them is renamed or moved.
struct MixxxCrateRequest {
    std::string name;
    std::filesystem::path database;
    std::filesystem::path processes = "/proc"; // where a running Mixxx would show
};

struct ProcessingRequest {
    std::optional<QSet<QUuid>> scope; // none: the whole library
    std::optional<MixxxCrateRequest> crate;
    bool rename = false;
    bool move = false;
    bool trash = false;
    bool updateTags = false;
    std::optional<std::filesystem::path> destination; // a move without one is skipped
    // When set (by Ctrl-C), the tag phase stops after the file being written. May be null.
    const std::atomic<bool>* stopTagging = nullptr;
};

// The processing run on the worker side: renames, moves and trashes the failed files of a scope
// and writes detected bitrates into tags, in that order, keeping the store in step. Blocks on the
// disk: never on the GUI thread. The store is the only shared state it touches.
//
// Counts are of files actually renamed, moved and trashed. A record replaced by a rename or a
// move is followed to its new identifier, so the later steps of the same run act on the same
// files. A trash that stops part-way still drops the records of the files already trashed. A
// failed file already in the move's destination folder stays as it is. An error line names the
// file it stopped at: "Move: /Music/a.mp3: Permission denied".
//
// A failed file whose override says DJ ready is the user's decision to keep it: no rename, move
// or trash of a run touches it (it stays failed in the counts), and the run lists it as kept. An
// override survives every operation that keeps the file: a renamed or moved record carries it,
// and with a cache the result and override are stored again under the file's new place, or its
// new size and time after a tag write.
class Processing {
public:
    Processing(FilesStore& store, FileOperations& operations, MetadataEditor& editor, std::ostream& progress)
        : m_store(store)
        , m_operations(operations)
        , m_editor(editor)
        , m_progress(progress)
    {
    }

    // Called after each tag write with its position (from 1) and the total, on the run's thread.
    using Progress = std::function<void(int position, int total)>;
    void setProgressHandler(Progress handler) { m_onProgress = std::move(handler); }
    // Where results and overrides follow their files; none: only the store does.
    void setCache(core::AnalysisCache* cache) noexcept { m_cache = cache; }

    // The user marked the file DJ ready: a run never renames, moves or trashes it.
    [[nodiscard]] static bool isKeptByUser(const AudioFile& file) noexcept;
    // What a run's rename, move and trash act on: failed files not kept by the user.
    [[nodiscard]] static bool isProcessable(const AudioFile& file) noexcept;

    // `files`: the library's records as the views last saw them.
    [[nodiscard]] ProcessingResults run(
        const ProcessingRequest& request, const std::vector<AudioFile>& files);

    // What run() would do, one line per file and step, touching nothing.
    [[nodiscard]] static std::vector<std::string> plan(
        const ProcessingRequest& request, const std::vector<AudioFile>& files);

    // Moves these files (failed or not) to the Trash and drops their records, also the records
    // of the ones trashed before a failure; the error line starts "Delete: ".
    [[nodiscard]] std::pair<int, std::optional<std::string>> deleteFiles(std::vector<AudioFile> files);
    // Writes the bitrate of one analysed file into its tags: (1, {}) on success, (0, {name}) on
    // failure, (0, {}) without a result.
    [[nodiscard]] std::pair<int, std::vector<std::string>> updateFileMetadata(const AudioFile& file);

    // "Track 01.mp3" with 128 kbps gives "Track 01 fake-128.mp3"; none when already marked.
    [[nodiscard]] static std::optional<std::filesystem::path> markedName(const AudioFile& file);

private:
    struct Step {
        int done = 0;
        std::optional<std::string> error;
    };

    void addToMixxxCrate(
        const std::vector<AudioFile>& files, const MixxxCrateRequest& crate, ProcessingResults& results);
    Step renameFailedFiles(std::vector<AudioFile>& files);
    Step moveFailedFiles(std::vector<AudioFile>& files, const std::filesystem::path& destination);
    Step deleteFailedFiles(std::vector<AudioFile>& files);
    Step trash(std::vector<AudioFile>& files, bool onlyFailed);
    void updateMetadata(
        const std::vector<AudioFile>& files, const std::atomic<bool>* stop, ProcessingResults& results);
    // Replaces the record after its file moved, and the working list's copy with it.
    void replaceRecord(AudioFile& file, const std::filesystem::path& newUrl, const ScanStatus& status);
    // Stores the file's result and override in the cache under its current place and attributes.
    void recache(const AudioFile& file);
    void flushCache();

    FilesStore& m_store;
    FileOperations& m_operations;
    MetadataEditor& m_editor;
    std::ostream& m_progress;
    Progress m_onProgress;
    core::AnalysisCache* m_cache = nullptr;
    bool m_cacheChanged = false;
};

} // namespace sondrel::app
