#include "FilePrefetcher.h"
#include "AudioIo.h"
#include "FixtureFolder.h"
#include "SpectrumAnalyzer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace sondrel::core {
namespace {

namespace fs = std::filesystem;
namespace fx = sondrel::fixtures;
using namespace std::chrono_literals;

// Holds every read-ahead until the test releases it, and records what started.
class HeldReader {
public:
    [[nodiscard]] FilePrefetcher::Reader reader()
    {
        return [this](const fs::path& location) { read(location); };
    }

    void release(std::size_t index)
    {
        std::lock_guard lock(m_mutex);
        m_released.insert(index);
        m_changed.notify_all();
    }

    void releaseAll()
    {
        std::lock_guard lock(m_mutex);
        m_releaseAll = true;
        m_changed.notify_all();
    }

    [[nodiscard]] bool waitForStarts(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_started.size() >= count; });
    }

    [[nodiscard]] std::multiset<std::string> started() const
    {
        std::lock_guard lock(m_mutex);
        return { m_started.begin(), m_started.end() };
    }

    [[nodiscard]] std::vector<int> niceValues() const
    {
        std::lock_guard lock(m_mutex);
        return m_nice;
    }

private:
    void read(const fs::path& location)
    {
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        std::unique_lock lock(m_mutex);
        const std::size_t index = m_started.size();
        m_started.push_back(location.string());
        m_nice.push_back(nice);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_releaseAll || m_released.contains(index); });
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_started;
    std::vector<int> m_nice;
    std::set<std::size_t> m_released;
    bool m_releaseAll = false;
};

std::vector<fs::path> locations(std::string_view prefix, int count)
{
    std::vector<fs::path> paths;
    for (int i = 0; i < count; ++i)
        paths.emplace_back("/music/" + std::string(prefix) + std::to_string(i) + ".mp3");
    return paths;
}

class FilePrefetcherTest : public ::testing::Test {
protected:
    ~FilePrefetcherTest() override { m_held.releaseAll(); }

    HeldReader m_held;
    // Declared after the reader, so it is destroyed (and joined) first.
    FilePrefetcher m_prefetcher { m_held.reader() };
};

// --- Bound ---

TEST_F(FilePrefetcherTest, ListStartsOnlyTheFirstFourAtLoweredPriority)
{
    const auto paths = locations("t", 10);
    m_prefetcher.prefetch(paths);
    ASSERT_TRUE(m_held.waitForStarts(4));
    for (int nice : m_held.niceValues())
        EXPECT_GE(nice, 10);
    EXPECT_EQ(m_prefetcher.inFlightCount(), 4u);
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(m_prefetcher.isPrefetching(paths[i]), i < 4) << i;

    m_held.releaseAll();
    m_prefetcher.waitUntilIdle();
    EXPECT_EQ(m_held.started(), (std::multiset<std::string> { paths[0], paths[1], paths[2], paths[3] }));
}

TEST_F(FilePrefetcherTest, WithThreeInFlightAListOfFourStartsOneMore)
{
    for (const auto& path : locations("old", 3))
        m_prefetcher.prefetch(path);
    const auto fresh = locations("new", 4);
    m_prefetcher.prefetch(fresh);
    ASSERT_TRUE(m_held.waitForStarts(4));
    EXPECT_EQ(m_prefetcher.inFlightCount(), 4u);
    EXPECT_TRUE(m_prefetcher.isPrefetching(fresh[0]));
    EXPECT_FALSE(m_prefetcher.isPrefetching(fresh[1]));

    // Dropped, not queued: a free slot later does not start them.
    m_prefetcher.prefetch(fresh[3]);
    m_held.releaseAll();
    m_prefetcher.waitUntilIdle();
    EXPECT_EQ(m_held.started().size(), 4u);
    EXPECT_EQ(m_held.started().count(fresh[3].string()), 0u);
}

// --- De-duplication and the in-flight map ---

TEST_F(FilePrefetcherTest, LocationInFlightStartsOnceAndAgainAfterItEnds)
{
    const fs::path track = "/music/track.mp3";
    m_prefetcher.prefetch(track);
    m_prefetcher.prefetch(track);
    m_prefetcher.prefetch(std::vector<fs::path> { track, track });
    ASSERT_TRUE(m_held.waitForStarts(1));
    EXPECT_EQ(m_prefetcher.inFlightCount(), 1u);

    m_held.release(0);
    m_prefetcher.waitUntilIdle();
    EXPECT_EQ(m_prefetcher.inFlightCount(), 0u);
    EXPECT_FALSE(m_prefetcher.isPrefetching(track));

    m_prefetcher.prefetch(track);
    ASSERT_TRUE(m_held.waitForStarts(2));
    EXPECT_EQ(m_held.started().count(track.string()), 2u);
}

TEST_F(FilePrefetcherTest, ListNeverLooksBeyondItsFourthLocationAndPathsAreComparedAsText)
{
    const fs::path repeated = "/music/a.mp3";
    const fs::path fifth = "/music/b.mp3";
    m_prefetcher.prefetch(std::vector<fs::path> { repeated, repeated, repeated, repeated, fifth });
    ASSERT_TRUE(m_held.waitForStarts(1));
    EXPECT_EQ(m_prefetcher.inFlightCount(), 1u);
    EXPECT_FALSE(m_prefetcher.isPrefetching(fifth));
    // The same file spelled another way is another location.
    m_prefetcher.prefetch(fs::path("/music/./a.mp3"));
    ASSERT_TRUE(m_held.waitForStarts(2));
    EXPECT_EQ(m_prefetcher.inFlightCount(), 2u);
}

TEST_F(FilePrefetcherTest, CancelFreesTheSlotAndTheOldReadDoesNotEndTheNewOne)
{
    const fs::path track = "/music/track.mp3";
    m_prefetcher.prefetch(track);
    ASSERT_TRUE(m_held.waitForStarts(1));
    m_prefetcher.cancel(fs::path("/music/other.mp3"));
    EXPECT_EQ(m_prefetcher.inFlightCount(), 1u);

    m_prefetcher.cancel(track);
    EXPECT_EQ(m_prefetcher.inFlightCount(), 0u);
    EXPECT_EQ(m_prefetcher.runningCount(), 1u);

    m_prefetcher.prefetch(track);
    ASSERT_TRUE(m_held.waitForStarts(2));
    m_held.release(0);
    for (int i = 0; i < 5000 && m_prefetcher.runningCount() > 1; ++i)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(m_prefetcher.runningCount(), 1u);
    EXPECT_TRUE(m_prefetcher.isPrefetching(track));

    m_held.release(1);
    m_prefetcher.waitUntilIdle();
    EXPECT_FALSE(m_prefetcher.isPrefetching(track));
}

// --- The real read-ahead ---

using TemporaryDirectory = sondrel::test::FixtureFolder;

fs::path makeFile(const fs::path& path, std::size_t size)
{
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
}

// Bytes this thread has read through read(2) and pread(2) so far. Reading the counter
// itself adds to it, which the caller subtracts.
struct ReadCounter {
    long long rchar = 0;
    long long ownBytes = 0;
};

std::optional<ReadCounter> threadReadCounter()
{
    const int fd = ::open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[1024];
    const ssize_t count = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (count <= 0)
        return std::nullopt;
    text[count] = '\0';
    const char* field = std::strstr(text, "rchar: ");
    if (field == nullptr)
        return std::nullopt;
    return ReadCounter { std::atoll(field + 7), count };
}

TEST(FilePrefetcherReadTest, ReadsWhatTheAnalysisReadsAndLittleElse)
{
    TemporaryDirectory folder;
    const fx::Signal music = fx::makeMusicLike(40 * 44100, 44100, 2, 5);
    for (const auto& options : { fx::EncodeOptions { fx::Container::Mp3, fx::SampleFormat::S16, 320, {} },
             fx::EncodeOptions { fx::Container::Flac, fx::SampleFormat::S16, 0, {} } }) {
        if (!fx::encoderAvailable(options.container))
            continue;
        const fs::path path = folder.path() / ("music" + std::string(fx::fileExtension(options.container)));
        ASSERT_EQ(fx::writeAudioFile(path, music, options), "");
        SCOPED_TRACE(path.filename());
        const auto bytesOf = [](const auto& work) {
            const auto before = threadReadCounter();
            work();
            const auto after = threadReadCounter();
            return before && after ? after->rchar - before->rchar - before->ownBytes : -1;
        };
        const long long prefetched = bytesOf([&] { FilePrefetcher::prefetchSync(path); });
        if (prefetched < 0)
            GTEST_SKIP() << "no per-thread I/O counters";
        const long long analysed
            = bytesOf([&] { ASSERT_TRUE(SpectrumAnalyzer::make()->analyzeFileComplete(path)); });
        // The analysis takes over the read-ahead's open file and its look at the stream, so it
        // reads at most what the read-ahead did.
        EXPECT_LE(static_cast<double>(analysed), 1.25 * static_cast<double>(prefetched));
        // Three excerpts are about a fortieth of this file; opening it, checking that an MP3's
        // frames are constant and the FLAC decoder's own read-ahead add a few more.
        EXPECT_LT(prefetched, static_cast<long long>(fs::file_size(path)) / 5);
    }
}

TEST(FilePrefetcherReadTest, MissingAndSpecialFilesAreSkippedSilentlyAndLeaveNoEntry)
{
    TemporaryDirectory folder;
    const fs::path fifo = folder.path() / "pipe.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<fs::path> paths
        = { folder.path() / "missing.mp3", fifo, folder.path(), makeFile(folder.path() / "real.mp3", 1000) };

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        FilePrefetcher prefetcher;
        prefetcher.prefetch(paths);
        // A FIFO opened for blocking reads would never let this return.
        prefetcher.waitUntilIdle();
        EXPECT_EQ(prefetcher.inFlightCount(), 0u);
        EXPECT_EQ(prefetcher.runningCount(), 0u);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
} // namespace sondrel::core
