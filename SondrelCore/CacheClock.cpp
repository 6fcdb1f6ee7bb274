#include "AnalysisCache.h"

#include <time.h>

#include <condition_variable>
#include <map>
#include <thread>

namespace sondrel::core {

namespace {

// Boot time, so a save due during a suspend runs on waking; tasks run on one thread of its own,
// started with the first task.
class SystemClock final : public AnalysisCache::Clock {
public:
    ~SystemClock() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    [[nodiscard]] Instant now() const override
    {
        timespec ts {};
        ::clock_gettime(CLOCK_BOOTTIME, &ts);
        return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    }

    [[nodiscard]] std::chrono::system_clock::time_point date() const override
    {
        return std::chrono::system_clock::now();
    }

    void callAt(Instant deadline, std::function<void()> task) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.emplace(deadline, std::move(task));
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (m_tasks.empty()) {
                m_wake.wait(lock);
                continue;
            }
            const auto first = m_tasks.begin();
            const Instant current = now();
            if (current < first->first) {
                // The wait runs on the monotonic clock, which pauses in sleep; the
                // loop re-reads boot time, so a sleep only delays a save, never skips it.
                m_wake.wait_for(lock, first->first - current);
                continue;
            }
            std::function<void()> task = std::move(first->second);
            m_tasks.erase(first);
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<Instant, std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace

std::shared_ptr<AnalysisCache::Clock> AnalysisCache::Clock::system()
{
    return std::make_shared<SystemClock>();
}

} // namespace sondrel::core
