#pragma once

#include "AudioFile.h"
#include "FilesStore.h"

#include <QObject>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sondrel::app {

// The view model's copy of the store's records, the rows the views read, brought up to date
// from the store's changes with a signal per contiguous range of rows, and the status counts of
// the rows below each folder, kept as the rows change. Lives on the GUI thread.
class LibraryRows : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // In the store's order.
    [[nodiscard]] const std::vector<AudioFile>& files() const noexcept { return m_files; }
    [[nodiscard]] std::optional<std::size_t> rowOf(const QUuid& id) const;
    [[nodiscard]] const AudioFile* file(const QUuid& id) const;

    // How the changed rows of one update are announced: a range per run of adjacent rows, or
    // (for a change that may touch any row, such as a new threshold) one range over all of them.
    enum class Announce { byRuns, asOneRange };
    // Applies what changed in the store since the last update.
    void apply(FilesStore::Changes changes, Announce announce = Announce::byRuns);

    [[nodiscard]] std::vector<AudioFile> failedFiles() const;
    [[nodiscard]] std::vector<AudioFile> filesInFolder(const std::filesystem::path& folder) const;
    // The counts of the rows at any depth below the folder; all zero for one without rows.
    [[nodiscard]] FilesStore::StatusCounts countsBelow(const std::filesystem::path& folder) const;

signals:
    // As the view model's signals of the same names.
    void filesAboutToBeReset();
    void filesReset();
    void filesAboutToBeInserted(int first, int last);
    void filesInserted(int first, int last);
    void filesAboutToBeRemoved(int first, int last);
    void filesRemoved(int first, int last);
    void filesChanged(int first, int last);
    void folderStatusesChanged();

private:
    void reset(std::vector<FilesStore::Changes::Entry>& entries);
    void remove(const std::vector<QUuid>& ids);
    // Returns whether rows moved (an insertion before the end).
    bool addAndChange(std::vector<FilesStore::Changes::Entry>& entries, Announce announce);
    void indexRows();
    // Adds `delta` (1 or -1) of the status to the counts of every folder above the file.
    void countInFolders(const AudioFile& file, int delta);

    std::vector<AudioFile> m_files;
    // Rows by id; rebuilt when rows move.
    std::unordered_map<QUuid, std::size_t, FilesStore::UuidHash> m_rowById;
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept
        {
            return std::hash<std::string_view> {}(text);
        }
    };
    // Keyed by the folder's path without a trailing "/" ("" for "/").
    std::unordered_map<std::string, FilesStore::StatusCounts, TextHash, std::equal_to<>> m_folderCounts;
};

} // namespace sondrel::app
