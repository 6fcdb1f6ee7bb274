#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace sondrel {

// Calls `body(i)` for every i in [0, count) on up to `threads` threads (0: one per core), each
// taking the next index in turn. The loop starts on construction and runs beside the caller,
// which may wait for its results as they come; destruction waits for the loop to end.
class ParallelFor {
public:
    ParallelFor(std::size_t count, unsigned threads, std::function<void(std::size_t)> body)
        : m_count(count)
        , m_body(std::move(body))
    {
        if (threads == 0)
            threads = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t workers = std::min<std::size_t>(threads, count);
        m_workers.reserve(workers);
        for (std::size_t t = 0; t < workers; ++t) {
            m_workers.emplace_back([this] {
                for (std::size_t i; (i = m_next++) < m_count;)
                    m_body(i);
            });
        }
    }

    ParallelFor(const ParallelFor&) = delete;
    ParallelFor& operator=(const ParallelFor&) = delete;

private:
    const std::size_t m_count;
    const std::function<void(std::size_t)> m_body;
    std::atomic<std::size_t> m_next { 0 };
    std::vector<std::jthread> m_workers; // last: joined before the members they use go
};

} // namespace sondrel
