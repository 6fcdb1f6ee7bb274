#pragma once

#include "AudioFile.h"

#include <QSet>
#include <QUuid>

#include <cstdint>

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace sondrel::app {

// The records of the library in discovery order, with running counts of their scan states.
//
// A mutex-guarded serialised service: every operation is thread-safe and runs to completion
// before the next one starts, so a status change and its two counter updates are always seen
// together. Counting is incremental (old status out, new status in), never a recount; after
// every operation each counter equals the number of records in that state. Identifiers that are
// not in the store are ignored. Only replaceFile() touches the disk. No operation throws: should
// memory run out, an operation stops between two records, with counts still matching records.
//
// The order is stable: records stay in the order they were added, a replaced record takes its
// predecessor's place, and a removal closes the gap. Every change stamps the record with a new
// revision, so a reader can ask for what changed since it last looked (changesSince()).
class FilesStore {
public:
    struct StatusCounts {
        int passed = 0;
        int failed = 0;
        int error = 0;
        int pending = 0;
        int scanning = 0;

        void increment(const ScanStatus& status) noexcept;
        // Never below 0: a counter at 0 stays 0.
        void decrement(const ScanStatus& status) noexcept;
        // The counter of the status's kind.
        [[nodiscard]] int count(ScanStatus::Kind kind) const noexcept;

        bool operator==(const StatusCounts&) const = default;
    };

    // In list order: stores each record under its id. A record that replaces one with the same
    // id takes the old one's place in the counts.
    void addFiles(std::vector<AudioFile> files) noexcept;
    void removeFiles(const QSet<QUuid>& ids) noexcept;
    // Changes the status only; the result stays.
    void updateStatus(const QUuid& id, const ScanStatus& status) noexcept;
    // Sets status and result; no result clears it.
    void updateFileAnalysis(const QUuid& id, const ScanStatus& status,
        const std::optional<core::AnalysisResult>& result) noexcept;
    // Judges every passed or failed record again by its result: each takes the status `verdict`
    // gives, and only those whose status changes are stamped. One pass under the lock.
    void rejudge(const std::function<ScanStatus(const core::AnalysisResult&)>& verdict) noexcept;
    // Counts are not touched; no override clears it.
    void updateOverride(const QUuid& id, const std::optional<core::UserOverride>& userOverride) noexcept;
    // Status `pending` and no result; the override stays.
    void resetToPending(const std::vector<QUuid>& ids) noexcept;
    // Removes the record and adds a fresh AudioFile(newUrl) with the given result and status (the
    // old override is not carried over); returns the new id, or none when `id` is not present.
    // Reads the new file's size and tags outside the lock; blocks on the disk.
    [[nodiscard]] std::optional<QUuid> replaceFile(const QUuid& id, const std::filesystem::path& newUrl,
        const std::optional<core::AnalysisResult>& preservingResult, const ScanStatus& status) noexcept;
    void clear() noexcept;

    // Copies of all records, in the store's order.
    [[nodiscard]] std::vector<AudioFile> snapshot() const noexcept;

    // What changed after `revision` (0: before anything), enough to bring a copy taken then up
    // to date: the records to drop, then the records added or changed, each with its place.
    struct Changes {
        // The store was cleared since: drop everything, `changed` holds every record.
        bool reset = false;
        std::vector<QUuid> removed;
        struct Entry {
            std::size_t position; // in the store's order, after the removals
            AudioFile file;
        };
        std::vector<Entry> changed; // ascending positions
        std::uint64_t revision = 0; // pass this next time
    };
    [[nodiscard]] Changes changesSince(std::uint64_t revision) const noexcept;
    [[nodiscard]] StatusCounts counts() const noexcept;
    [[nodiscard]] std::optional<AudioFile> file(const QUuid& id) const noexcept;

    struct UuidHash {
        std::size_t operator()(const QUuid& id) const noexcept { return qHash(id); }
    };

private:
    struct Record {
        AudioFile file;
        std::uint64_t revision;
    };

    // Moves the record's count to its new status; needs m_mutex held.
    void setStatusLocked(AudioFile& file, const ScanStatus& status);
    // The record with this id, or null; needs m_mutex held.
    [[nodiscard]] Record* findLocked(const QUuid& id) noexcept;
    void reindexLocked();

    mutable std::mutex m_mutex; // guards everything below
    std::vector<Record> m_records;
    std::unordered_map<QUuid, std::size_t, UuidHash> m_positionById;
    StatusCounts m_counts;
    std::uint64_t m_revision = 0;
    std::uint64_t m_clearedAt = 0;
    std::vector<std::pair<std::uint64_t, QUuid>> m_removals; // since the last clear
};

} // namespace sondrel::app
