#include "FilesStore.h"

#include <algorithm>
#include <new>
#include <utility>

namespace sondrel::app {

namespace {

template <typename Counts> [[nodiscard]] auto& counterFor(Counts& counts, ScanStatus::Kind kind) noexcept
{
    switch (kind) {
    case ScanStatus::Kind::pending:
        return counts.pending;
    case ScanStatus::Kind::scanning:
        return counts.scanning;
    case ScanStatus::Kind::passed:
        return counts.passed;
    case ScanStatus::Kind::failed:
        return counts.failed;
    case ScanStatus::Kind::error:
        return counts.error;
    }
    return counts.pending;
}

} // namespace

void FilesStore::StatusCounts::increment(const ScanStatus& status) noexcept
{
    ++counterFor(*this, status.kind());
}

void FilesStore::StatusCounts::decrement(const ScanStatus& status) noexcept
{
    int& counter = counterFor(*this, status.kind());
    if (counter > 0)
        --counter;
}

int FilesStore::StatusCounts::count(ScanStatus::Kind kind) const noexcept
{
    return counterFor(*this, kind);
}

// Each operation allocates (copies a status text, a slot) before it changes anything, so an
// allocation failure leaves the record and its counters consistent.

FilesStore::Record* FilesStore::findLocked(const QUuid& id) noexcept
{
    const auto found = m_positionById.find(id);
    return found == m_positionById.end() ? nullptr : &m_records[found->second];
}

void FilesStore::reindexLocked()
{
    m_positionById.clear();
    for (std::size_t i = 0; i < m_records.size(); ++i)
        m_positionById.emplace(m_records[i].file.id(), i);
}

void FilesStore::addFiles(std::vector<AudioFile> files) noexcept
{
    const std::lock_guard lock(m_mutex);
    try {
        // Both grow geometrically: reserving the exact size would move every record and rehash
        // the whole index at every batch of a discovery.
        const std::size_t wanted = m_records.size() + files.size();
        if (wanted > m_records.capacity())
            m_records.reserve(std::max(wanted, m_records.capacity() * 2));
        for (AudioFile& file : files) {
            if (Record* existing = findLocked(file.id())) {
                m_counts.decrement(existing->file.status());
                m_counts.increment(file.status());
                existing->file = std::move(file);
                existing->revision = ++m_revision;
            } else {
                const ScanStatus status = file.status();
                m_positionById.emplace(file.id(), m_records.size());
                m_records.push_back({ std::move(file), ++m_revision });
                m_counts.increment(status);
            }
        }
    } catch (const std::bad_alloc&) {
        // The index may hold a position past the end; rebuild it from what was stored.
        try {
            reindexLocked();
        } catch (const std::bad_alloc&) {
        }
    }
}

void FilesStore::removeFiles(const QSet<QUuid>& ids) noexcept
{
    const std::lock_guard lock(m_mutex);
    try {
        m_removals.reserve(m_removals.size() + static_cast<std::size_t>(ids.size()));
        const auto firstRemoved
            = std::remove_if(m_records.begin(), m_records.end(), [&](const Record& record) {
                  if (!ids.contains(record.file.id()))
                      return false;
                  m_counts.decrement(record.file.status());
                  m_removals.emplace_back(++m_revision, record.file.id());
                  return true;
              });
        if (firstRemoved == m_records.end())
            return;
        m_records.erase(firstRemoved, m_records.end());
        reindexLocked();
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::setStatusLocked(AudioFile& file, const ScanStatus& status)
{
    // The copy may throw; the counts change only once it exists.
    ScanStatus copy = status;
    m_counts.decrement(file.status());
    m_counts.increment(copy);
    file.setStatus(std::move(copy));
}

void FilesStore::updateStatus(const QUuid& id, const ScanStatus& status) noexcept
{
    const std::lock_guard lock(m_mutex);
    Record* record = findLocked(id);
    if (!record)
        return;
    try {
        setStatusLocked(record->file, status);
        record->revision = ++m_revision;
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::rejudge(const std::function<ScanStatus(const core::AnalysisResult&)>& verdict) noexcept
{
    const std::lock_guard lock(m_mutex);
    try {
        for (Record& record : m_records) {
            const auto kind = record.file.status().kind();
            if ((kind != ScanStatus::Kind::passed && kind != ScanStatus::Kind::failed)
                || !record.file.result())
                continue;
            const ScanStatus status = verdict(*record.file.result());
            if (status == record.file.status())
                continue;
            setStatusLocked(record.file, status);
            record.revision = ++m_revision;
        }
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::updateFileAnalysis(
    const QUuid& id, const ScanStatus& status, const std::optional<core::AnalysisResult>& result) noexcept
{
    const std::lock_guard lock(m_mutex);
    Record* record = findLocked(id);
    // Nothing to stamp when nothing changes (a scan applying the verdict a record already shows).
    if (!record || (record->file.status() == status && record->file.result() == result))
        return;
    try {
        setStatusLocked(record->file, status);
        record->file.setResult(result);
        record->revision = ++m_revision;
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::updateOverride(
    const QUuid& id, const std::optional<core::UserOverride>& userOverride) noexcept
{
    const std::lock_guard lock(m_mutex);
    if (Record* record = findLocked(id); record && record->file.userOverride() != userOverride) {
        record->file.setUserOverride(userOverride);
        record->revision = ++m_revision;
    }
}

void FilesStore::resetToPending(const std::vector<QUuid>& ids) noexcept
{
    const std::lock_guard lock(m_mutex);
    for (const QUuid& id : ids) {
        Record* record = findLocked(id);
        if (!record || (record->file.status() == ScanStatus::pending() && !record->file.result()))
            continue;
        // A pending status has no text to copy, so this cannot throw.
        setStatusLocked(record->file, ScanStatus::pending());
        record->file.setResult(std::nullopt);
        record->revision = ++m_revision;
    }
}

std::optional<QUuid> FilesStore::replaceFile(const QUuid& id, const std::filesystem::path& newUrl,
    const std::optional<core::AnalysisResult>& preservingResult, const ScanStatus& status) noexcept
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_positionById.contains(id))
            return std::nullopt;
    }
    try {
        // Built without the lock: reading size and tags must not stall the other operations.
        AudioFile replacement(newUrl);
        replacement.setResult(preservingResult);
        replacement.setStatus(status);
        const QUuid newId = replacement.id();

        const std::lock_guard lock(m_mutex);
        const auto found = m_positionById.find(id);
        // Removed by another caller while the new record was being built.
        if (found == m_positionById.end())
            return std::nullopt;
        const std::size_t position = found->second;
        // Allocate first: the new index entry and the removal note may throw.
        m_removals.reserve(m_removals.size() + 1);
        m_positionById.emplace(newId, position);
        // The emplace may have rehashed: look the old entry up again rather than reuse `found`.
        m_positionById.erase(id);
        Record& record = m_records[position];
        m_counts.decrement(record.file.status());
        m_counts.increment(replacement.status());
        m_removals.emplace_back(++m_revision, id);
        record = { std::move(replacement), ++m_revision };
        return newId;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void FilesStore::clear() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_records.clear();
    m_positionById.clear();
    m_removals.clear();
    m_counts = {};
    m_clearedAt = ++m_revision;
}

std::vector<AudioFile> FilesStore::snapshot() const noexcept
{
    const std::lock_guard lock(m_mutex);
    try {
        std::vector<AudioFile> files;
        files.reserve(m_records.size());
        for (const Record& record : m_records)
            files.push_back(record.file);
        return files;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

FilesStore::Changes FilesStore::changesSince(std::uint64_t revision) const noexcept
{
    const std::lock_guard lock(m_mutex);
    Changes changes;
    try {
        changes.reset = revision < m_clearedAt;
        if (!changes.reset) {
            for (const auto& [removedAt, id] : m_removals) {
                if (removedAt > revision)
                    changes.removed.push_back(id);
            }
        }
        for (std::size_t i = 0; i < m_records.size(); ++i) {
            if (changes.reset || m_records[i].revision > revision)
                changes.changed.push_back({ i, m_records[i].file });
        }
        changes.revision = m_revision;
    } catch (const std::bad_alloc&) {
        // Nothing delivered: the same question again next time.
        changes = {};
        changes.revision = revision;
    }
    return changes;
}

FilesStore::StatusCounts FilesStore::counts() const noexcept
{
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

std::optional<AudioFile> FilesStore::file(const QUuid& id) const noexcept
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_positionById.find(id);
    if (found == m_positionById.end())
        return std::nullopt;
    try {
        return m_records[found->second].file;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace sondrel::app
