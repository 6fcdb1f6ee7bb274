#include "LibraryRows.h"

#include "FileListRules.h"

#include <algorithm>

namespace sondrel::app {

std::optional<std::size_t> LibraryRows::rowOf(const QUuid& id) const
{
    const auto found = m_rowById.find(id);
    if (found == m_rowById.end())
        return std::nullopt;
    return found->second;
}

const AudioFile* LibraryRows::file(const QUuid& id) const
{
    const auto row = rowOf(id);
    return row ? &m_files[*row] : nullptr;
}

void LibraryRows::apply(FilesStore::Changes changes, Announce announce)
{
    if (changes.reset) {
        reset(changes.changed);
        return;
    }
    if (changes.removed.empty() && changes.changed.empty())
        return;
    const bool removed = !changes.removed.empty();
    remove(changes.removed);
    const bool inserted = addAndChange(changes.changed, announce);
    if (removed || inserted)
        indexRows();
    emit folderStatusesChanged();
}

void LibraryRows::reset(std::vector<FilesStore::Changes::Entry>& entries)
{
    emit filesAboutToBeReset();
    m_files.clear();
    m_files.reserve(entries.size());
    for (auto& entry : entries)
        m_files.push_back(std::move(entry.file));
    m_folderCounts.clear();
    for (const AudioFile& file : m_files)
        countInFolders(file, 1);
    indexRows();
    emit filesReset();
    emit folderStatusesChanged();
}

void LibraryRows::remove(const std::vector<QUuid>& ids)
{
    // As contiguous ranges from the bottom up, so that earlier rows keep their places.
    std::vector<std::size_t> rows;
    for (const QUuid& id : ids) {
        if (const auto found = m_rowById.find(id); found != m_rowById.end())
            rows.push_back(found->second);
    }
    std::sort(rows.begin(), rows.end());
    while (!rows.empty()) {
        const std::size_t last = rows.back();
        std::size_t first = last;
        rows.pop_back();
        while (!rows.empty() && rows.back() == first - 1) {
            first = rows.back();
            rows.pop_back();
        }
        emit filesAboutToBeRemoved(static_cast<int>(first), static_cast<int>(last));
        for (std::size_t row = first; row <= last; ++row)
            countInFolders(m_files[row], -1);
        m_files.erase(m_files.begin() + static_cast<std::ptrdiff_t>(first),
            m_files.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        emit filesRemoved(static_cast<int>(first), static_cast<int>(last));
    }
}

bool LibraryRows::addAndChange(std::vector<FilesStore::Changes::Entry>& entries, Announce announce)
{
    // In ascending store order. The store never reorders, so once the removals are done the
    // rows before each entry's position are exactly the store's: an entry either is the row at
    // its position already (a change) or goes in there.
    bool rowsMoved = false;
    std::optional<std::pair<std::size_t, std::size_t>> changedRange;
    const auto flushChanged = [&] {
        if (changedRange)
            emit filesChanged(static_cast<int>(changedRange->first), static_cast<int>(changedRange->second));
        changedRange.reset();
    };
    for (std::size_t i = 0; i < entries.size();) {
        const std::size_t position = entries[i].position;
        if (position < m_files.size() && m_files[position].id() == entries[i].file.id()) {
            // Folders count kinds only: a change within a kind leaves them as they are.
            const bool recount = m_files[position].status().kind() != entries[i].file.status().kind();
            if (recount)
                countInFolders(m_files[position], -1);
            m_files[position] = std::move(entries[i].file);
            if (recount)
                countInFolders(m_files[position], 1);
            const bool extends
                = changedRange && (announce == Announce::asOneRange || changedRange->second + 1 == position);
            if (extends)
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
            = position < m_files.size() ? std::optional(m_files[position].id()) : std::nullopt;
        std::size_t end = i + 1;
        while (end < entries.size() && entries[end].position == position + (end - i)
            && (!rowThere || entries[end].file.id() != *rowThere))
            ++end;
        const std::size_t count = end - i;
        emit filesAboutToBeInserted(static_cast<int>(position), static_cast<int>(position + count - 1));
        const bool append = position == m_files.size();
        std::vector<AudioFile> added;
        added.reserve(count);
        for (std::size_t k = i; k < end; ++k)
            added.push_back(std::move(entries[k].file));
        m_files.insert(m_files.begin() + static_cast<std::ptrdiff_t>(position),
            std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        for (std::size_t row = position; row < position + count; ++row) {
            countInFolders(m_files[row], 1);
            if (append)
                m_rowById.emplace(m_files[row].id(), row);
        }
        rowsMoved = rowsMoved || !append;
        emit filesInserted(static_cast<int>(position), static_cast<int>(position + count - 1));
        i = end;
    }
    flushChanged();
    return rowsMoved;
}

void LibraryRows::indexRows()
{
    m_rowById.clear();
    for (std::size_t row = 0; row < m_files.size(); ++row)
        m_rowById.emplace(m_files[row].id(), row);
}

void LibraryRows::countInFolders(const AudioFile& file, int delta)
{
    // Every "/" of the path ends the path of a folder above the file; the one at 0 is "/".
    const std::string_view text(file.url().native());
    for (std::size_t slash = text.find('/'); slash != std::string_view::npos;
         slash = text.find('/', slash + 1)) {
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

std::vector<AudioFile> LibraryRows::failedFiles() const
{
    std::vector<AudioFile> failed;
    std::copy_if(m_files.begin(), m_files.end(), std::back_inserter(failed),
        [](const AudioFile& file) { return file.status().kind() == ScanStatus::Kind::failed; });
    return failed;
}

std::vector<AudioFile> LibraryRows::filesInFolder(const std::filesystem::path& folder) const
{
    const std::string prefix = FileListRules::folderPrefix(folder);
    std::vector<AudioFile> files;
    std::copy_if(m_files.begin(), m_files.end(), std::back_inserter(files),
        [&](const AudioFile& file) { return FileListRules::isInFolder(file, prefix); });
    return files;
}

FilesStore::StatusCounts LibraryRows::countsBelow(const std::filesystem::path& folder) const
{
    std::string_view key = folder.native();
    while (!key.empty() && key.back() == '/')
        key.remove_suffix(1);
    const auto found = m_folderCounts.find(key);
    return found == m_folderCounts.end() ? FilesStore::StatusCounts {} : found->second;
}

} // namespace sondrel::app
