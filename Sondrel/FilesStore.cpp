#include "FilesStore.h"

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

// Each operation allocates (copies a status text, a node) before it changes anything, so an
// allocation failure leaves the record and its counters consistent.

void FilesStore::addFiles(std::vector<AudioFile> files) noexcept
{
    const std::lock_guard lock(m_mutex);
    try {
        for (AudioFile& file : files) {
            const auto existing = m_filesById.find(file.id());
            if (existing != m_filesById.end()) {
                m_counts.decrement(existing->second.status());
                m_counts.increment(file.status());
                existing->second = std::move(file);
            } else {
                const ScanStatus status = file.status();
                m_filesById.emplace(file.id(), std::move(file));
                m_counts.increment(status);
            }
        }
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::removeFiles(const QSet<QUuid>& ids) noexcept
{
    const std::lock_guard lock(m_mutex);
    for (const QUuid& id : ids) {
        const auto existing = m_filesById.find(id);
        if (existing == m_filesById.end())
            continue;
        m_counts.decrement(existing->second.status());
        m_filesById.erase(existing);
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
    const auto existing = m_filesById.find(id);
    if (existing == m_filesById.end())
        return;
    try {
        setStatusLocked(existing->second, status);
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::updateFileAnalysis(
    const QUuid& id, const ScanStatus& status, const std::optional<core::AnalysisResult>& result) noexcept
{
    const std::lock_guard lock(m_mutex);
    const auto existing = m_filesById.find(id);
    if (existing == m_filesById.end())
        return;
    try {
        setStatusLocked(existing->second, status);
        existing->second.setResult(result);
    } catch (const std::bad_alloc&) {
    }
}

void FilesStore::updateOverride(
    const QUuid& id, const std::optional<core::UserOverride>& userOverride) noexcept
{
    const std::lock_guard lock(m_mutex);
    const auto existing = m_filesById.find(id);
    if (existing != m_filesById.end())
        existing->second.setUserOverride(userOverride);
}

void FilesStore::resetToPending(const std::vector<QUuid>& ids) noexcept
{
    const std::lock_guard lock(m_mutex);
    for (const QUuid& id : ids) {
        const auto existing = m_filesById.find(id);
        if (existing == m_filesById.end())
            continue;
        // A pending status has no text to copy, so this cannot throw.
        setStatusLocked(existing->second, ScanStatus::pending());
        existing->second.setResult(std::nullopt);
    }
}

std::optional<QUuid> FilesStore::replaceFile(const QUuid& id, const std::filesystem::path& newUrl,
    const std::optional<core::AnalysisResult>& preservingResult, const ScanStatus& status) noexcept
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_filesById.contains(id))
            return std::nullopt;
    }
    try {
        // Built without the lock: reading size and tags must not stall the other operations.
        AudioFile replacement(newUrl);
        replacement.setResult(preservingResult);
        replacement.setStatus(status);
        const QUuid newId = replacement.id();

        const std::lock_guard lock(m_mutex);
        const auto existing = m_filesById.find(id);
        // Removed by another caller while the new record was being built.
        if (existing == m_filesById.end())
            return std::nullopt;
        const ScanStatus newStatus = replacement.status();
        m_filesById.emplace(newId, std::move(replacement));
        m_counts.increment(newStatus);
        m_counts.decrement(existing->second.status());
        m_filesById.erase(existing);
        return newId;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void FilesStore::clear() noexcept
{
    const std::lock_guard lock(m_mutex);
    m_filesById.clear();
    m_counts = {};
}

std::vector<AudioFile> FilesStore::snapshot() const noexcept
{
    const std::lock_guard lock(m_mutex);
    try {
        std::vector<AudioFile> files;
        files.reserve(m_filesById.size());
        for (const auto& [id, file] : m_filesById)
            files.push_back(file);
        return files;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

FilesStore::StatusCounts FilesStore::counts() const noexcept
{
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

std::optional<AudioFile> FilesStore::file(const QUuid& id) const noexcept
{
    const std::lock_guard lock(m_mutex);
    const auto existing = m_filesById.find(id);
    if (existing == m_filesById.end())
        return std::nullopt;
    try {
        return existing->second;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace sondrel::app
