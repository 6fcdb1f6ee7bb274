#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace sondrel::core {

// Warms the page cache for files about to be analysed: the bytes the analysis will read
// (the header, the packets of the three excerpts), read and thrown away. The decoder that
// read them stays open for the analysis of the same file (see ReadAheadHandoff), so a file
// is opened once.
//
// A mutex-guarded serialised service. Each read-ahead runs on its own thread at
// lowered CPU and I/O priority, never under the lock, so prefetch() returns at once.
// At most kMaxConcurrentPrefetches locations are in flight; further requests are
// dropped, not queued. Nothing is reported: unreadable files end their read-ahead
// silently. The destructor waits for running read-aheads.
class FilePrefetcher {
public:
    // Performs one read-ahead; replaceable so tests can hold or observe it.
    using Reader = std::function<void(const std::filesystem::path&)>;

    static constexpr std::size_t kMaxConcurrentPrefetches = 4;

    FilePrefetcher();
    explicit FilePrefetcher(Reader reader);
    ~FilePrefetcher();

    FilePrefetcher(const FilePrefetcher&) = delete;
    FilePrefetcher& operator=(const FilePrefetcher&) = delete;

    // The process-wide instance, created on first use and never destroyed.
    [[nodiscard]] static FilePrefetcher& shared();

    // Starts a read-ahead unless one is in flight for this path (compared as text)
    // or kMaxConcurrentPrefetches are.
    void prefetch(const std::filesystem::path& location);
    // The same for each of the first kMaxConcurrentPrefetches locations, in order;
    // later ones are never looked at.
    void prefetch(std::span<const std::filesystem::path> locations);
    // Frees the location's slot at once; a read that has begun runs to its end.
    void cancel(const std::filesystem::path& location);

    [[nodiscard]] std::size_t inFlightCount() const;
    [[nodiscard]] bool isPrefetching(const std::filesystem::path& location) const;
    // Read-ahead threads not yet ended, cancelled ones included.
    [[nodiscard]] std::size_t runningCount() const;
    // Blocks until every read-ahead thread has ended; for tests and shutdown.
    void waitUntilIdle();

    // The default reader: open without blocking (regular files only) and read, without
    // decoding, what the analysis's seeks and reads will read, keeping the decoder for the
    // analysis. Every failure just ends it.
    static void prefetchSync(const std::filesystem::path& location) noexcept;

private:
    void startLocked(const std::filesystem::path& location);
    void run(std::uint64_t id, const std::filesystem::path& location);
    void joinFinished();

    const Reader m_reader;

    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_changed;
    // Path text -> id of its read-ahead, at most one per location.
    std::map<std::string, std::uint64_t, std::less<>> m_prefetchTasks;
    std::map<std::uint64_t, std::thread> m_running;
    std::vector<std::thread> m_finished; // ended, awaiting join
    std::uint64_t m_nextId = 1;
};

} // namespace sondrel::core
