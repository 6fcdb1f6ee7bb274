#include "FilePrefetcher.h"
#include "AudioDecoder.h"
#include "SpectrumAnalyzer.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace sondrel::core {

namespace {

// The nice value of background work that should yield to the analyses.
constexpr int kUtilityNice = 10;
// ioprio_set(2): best-effort class at its lowest level, for the calling thread.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassBestEffort = 2;
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioLowestLevel = 7;

// On Linux both settings apply to the calling thread only. Refusals are ignored.
void lowerThreadPriority() noexcept
{
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    // Never raise a priority that is already lower.
    if (errno == 0 && current < kUtilityNice)
        ::setpriority(PRIO_PROCESS, thread, kUtilityNice);
    ::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0,
        (kIoprioClassBestEffort << kIoprioClassShift) | kIoprioLowestLevel);
}

} // namespace

FilePrefetcher::FilePrefetcher()
    : FilePrefetcher(&FilePrefetcher::prefetchSync)
{
}

FilePrefetcher::FilePrefetcher(Reader reader)
    : m_reader(std::move(reader))
{
}

FilePrefetcher::~FilePrefetcher()
{
    waitUntilIdle();
}

FilePrefetcher& FilePrefetcher::shared()
{
    // Never destroyed, so exit never waits for a slow disk.
    static FilePrefetcher* const instance = new FilePrefetcher();
    return *instance;
}

void FilePrefetcher::prefetch(const std::filesystem::path& location)
{
    joinFinished();
    std::lock_guard lock(m_mutex);
    startLocked(location);
}

void FilePrefetcher::prefetch(std::span<const std::filesystem::path> locations)
{
    joinFinished();
    std::lock_guard lock(m_mutex);
    for (const auto& location : locations.first(std::min(locations.size(), kMaxConcurrentPrefetches)))
        startLocked(location);
}

void FilePrefetcher::cancel(const std::filesystem::path& location)
{
    std::lock_guard lock(m_mutex);
    // The read itself never looks at cancellation; only the slot is freed.
    if (const auto it = m_prefetchTasks.find(location.native()); it != m_prefetchTasks.end())
        m_prefetchTasks.erase(it);
}

std::size_t FilePrefetcher::inFlightCount() const
{
    std::lock_guard lock(m_mutex);
    return m_prefetchTasks.size();
}

bool FilePrefetcher::isPrefetching(const std::filesystem::path& location) const
{
    std::lock_guard lock(m_mutex);
    return m_prefetchTasks.contains(location.native());
}

std::size_t FilePrefetcher::runningCount() const
{
    std::lock_guard lock(m_mutex);
    return m_running.size();
}

void FilePrefetcher::waitUntilIdle()
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_running.empty(); });
    }
    joinFinished();
}

void FilePrefetcher::startLocked(const std::filesystem::path& location)
{
    const std::string& key = location.native();
    if (m_prefetchTasks.contains(key) || m_prefetchTasks.size() >= kMaxConcurrentPrefetches)
        return;
    const std::uint64_t id = m_nextId++;
    try {
        // The slot exists before the thread, so a started thread always has a home.
        auto [slot, inserted] = m_running.try_emplace(id);
        try {
            slot->second = std::thread([this, id, location] { run(id, location); });
        } catch (...) {
            m_running.erase(slot);
            return;
        }
        m_prefetchTasks.emplace(key, id);
    } catch (...) {
        // Out of memory or threads: this read-ahead is simply dropped.
    }
}

void FilePrefetcher::run(std::uint64_t id, const std::filesystem::path& location)
{
    lowerThreadPriority();
    try {
        m_reader(location);
    } catch (...) {
        // A read-ahead has no outcome; nothing may escape the thread.
    }
    std::lock_guard lock(m_mutex);
    // Only its own entry: after cancel() the location may already belong to a newer read-ahead.
    if (const auto it = m_prefetchTasks.find(location.native());
        it != m_prefetchTasks.end() && it->second == id)
        m_prefetchTasks.erase(it);
    if (const auto it = m_running.find(id); it != m_running.end()) {
        m_finished.push_back(std::move(it->second));
        m_running.erase(it);
    }
    // Under the lock, so a waiting destructor cannot free the condition variable first.
    m_changed.notify_all();
}

void FilePrefetcher::joinFinished()
{
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(m_mutex);
        finished.swap(m_finished);
    }
    for (auto& thread : finished)
        thread.join();
}

void FilePrefetcher::prefetchSync(const std::filesystem::path& location) noexcept
{
    // Exactly what the analysis will read: the header and the packets of the three
    // excerpts, through the decoder's own seeks.
    readAhead(location, &SpectrumAnalyzer::excerpts);
}

} // namespace sondrel::core
