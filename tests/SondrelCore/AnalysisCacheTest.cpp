#include "AnalysisCache.h"
#include "FixtureFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <vector>

namespace sondrel::core {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::system_clock;

// Appending, not "text" + std::string: GCC 12 at -O3 warns falsely (-Wrestrict) on the latter.
std::string numbered(std::string_view prefix, std::size_t number, std::string_view suffix = "")
{
    std::string name(prefix);
    name += std::to_string(number);
    name += suffix;
    return name;
}

// Runs timer tasks only when a test advances it.
class FakeClock final : public AnalysisCache::Clock {
public:
    [[nodiscard]] Instant now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    [[nodiscard]] system_clock::time_point date() const override { return m_date; }
    void callAt(Instant deadline, std::function<void()> task) override
    {
        std::lock_guard lock(m_mutex);
        m_tasks.emplace(deadline, std::move(task));
    }

    void advance(std::chrono::nanoseconds step)
    {
        Instant target;
        {
            std::lock_guard lock(m_mutex);
            target = m_now + step;
        }
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(m_mutex);
                const auto first = m_tasks.begin();
                if (first == m_tasks.end() || first->first > target) {
                    m_now = target;
                    return;
                }
                m_now = std::max(m_now, first->first);
                task = std::move(first->second);
                m_tasks.erase(first);
            }
            task();
        }
    }

    void setDate(system_clock::time_point date) { m_date = date; }

private:
    mutable std::mutex m_mutex;
    Instant m_now { 1000s };
    system_clock::time_point m_date { 1712345678s + 500ms };
    std::multimap<Instant, std::function<void()>> m_tasks;
};

using TemporaryDirectory = sondrel::test::FixtureFolder;

void setModificationTime(const fs::path& path, std::int64_t seconds, long nanoseconds)
{
    const timespec times[2] = { { 0, UTIME_OMIT }, { static_cast<time_t>(seconds), nanoseconds } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

fs::path makeFile(const fs::path& path, std::string_view bytes, std::int64_t seconds = 1712345678,
    long nanoseconds = 250'000'000)
{
    std::ofstream(path, std::ios::binary) << bytes;
    setModificationTime(path, seconds, nanoseconds);
    return path;
}

using sondrel::test::folderListing;
using sondrel::test::readText;

const AnalysisResult kHigh { 19500.0f, 320, QualityRating::high, 0.8225806f,
    ClippingInfo { 3, 441000, 0.99f } };
const AnalysisResult kPoor { 15500.0f, 128, QualityRating::poor, 0.75f, ClippingInfo { 0, 0, 0.5f } };
const UserOverride kOverride { true, QualityRating::lossless, system_clock::time_point(1712345700s) };

class AnalysisCacheTest : public ::testing::Test {
protected:
    [[nodiscard]] fs::path cacheFile() const { return m_folder.path() / "Sondrel" / "analysis_cache.json"; }
    [[nodiscard]] std::unique_ptr<AnalysisCache> makeCache() const
    {
        return std::make_unique<AnalysisCache>(cacheFile(), m_clock);
    }
    [[nodiscard]] fs::path file(std::string_view name, std::string_view bytes = "audio") const
    {
        return makeFile(m_folder.path() / name, bytes);
    }
    [[nodiscard]] std::string dir() const { return m_folder.path().string(); }
    // Stores each result under its file in a fresh cache, saves, and gives back the saved text.
    std::string saved(std::initializer_list<std::pair<fs::path, AnalysisResult>> entries) const
    {
        auto cache = makeCache();
        for (const auto& [path, result] : entries)
            cache->set(path, result);
        cache->flush();
        return readText(cacheFile());
    }
    // Reads the saved file, lets `edit` change it as another version would, and writes it back.
    void rewrite(const std::function<void(nlohmann::json&)>& edit) const
    {
        nlohmann::json json = nlohmann::json::parse(readText(cacheFile()));
        edit(json);
        std::ofstream(cacheFile()) << json.dump();
    }

    TemporaryDirectory m_folder;
    std::shared_ptr<FakeClock> m_clock = std::make_shared<FakeClock>();
};

// --- Keys ---

TEST_F(AnalysisCacheTest, KeyJoinsPathShortestModificationTimeAndSize)
{
    const fs::path fractional = file("a.mp3", "12345");
    EXPECT_EQ(AnalysisCache::cacheKey(fractional), fractional.string() + "|1712345678.25|5");

    // The plain shortest form of a whole number would be 1.7e+09.
    const fs::path whole = makeFile(m_folder.path() / "b.mp3", "abc", 1700000000, 0);
    EXPECT_EQ(AnalysisCache::cacheKey(whole), whole.string() + "|1700000000.0|3");

    const fs::path nanos = makeFile(m_folder.path() / "c.mp3", "", 1712345678, 123456789);
    EXPECT_EQ(AnalysisCache::cacheKey(nanos), nanos.string() + "|1712345678.1234567|0");

    // From attributes read elsewhere: the same text, and the entry found by it.
    EXPECT_EQ(AnalysisCache::stampOf(whole), (FileStamp { 1700000000, 0, 3 }));
    EXPECT_EQ(AnalysisCache::cacheKey("/x/b.mp3", FileStamp { 1700000000, 0, 3 }), "/x/b.mp3|1700000000.0|3");
    EXPECT_EQ(AnalysisCache::cacheKey(nanos, *AnalysisCache::stampOf(nanos)), AnalysisCache::cacheKey(nanos));
    auto cache = makeCache();
    cache->set(fractional, kHigh);
    EXPECT_EQ(cache->entryForKey(*AnalysisCache::cacheKey(fractional)), cache->entry(fractional));
    EXPECT_TRUE(cache->entryForKey(*AnalysisCache::cacheKey(fractional)));
    EXPECT_FALSE(cache->entryForKey(*AnalysisCache::cacheKey(whole)));

    // The path text as given: the same file spelled another way is another key.
    const fs::path dotted = m_folder.path() / "." / "a.mp3";
    EXPECT_TRUE(cache->has(fractional));
    EXPECT_FALSE(cache->has(dotted));
    EXPECT_EQ(AnalysisCache::cacheKey(dotted), dotted.string() + "|1712345678.25|5");
}

TEST_F(AnalysisCacheTest, AMissingFileOrAnOverrideWithoutEntryStoresAndSavesNothing)
{
    const fs::path missing = m_folder.path() / "gone.mp3";
    const fs::path track = file("track.mp3");
    auto cache = makeCache();
    EXPECT_FALSE(AnalysisCache::cacheKey(missing));
    cache->set(missing, kHigh);
    cache->setOverride(missing, kOverride);
    cache->setOverride(track, kOverride);
    cache->clearOverride(track);
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_FALSE(cache->get(missing));
    EXPECT_FALSE(cache->has(missing));
    EXPECT_FALSE(cache->getOverride(missing));
    EXPECT_FALSE(cache->getOverride(track));
    EXPECT_FALSE(cache->isDirty());
    m_clock->advance(10s);
    EXPECT_FALSE(fs::exists(cacheFile()));
}

// --- Entries and overrides ---

TEST_F(AnalysisCacheTest, EditedFileMissesAndItsStaleEntryIsDropped)
{
    const fs::path track = file("track.mp3");
    // Shares the prefix "track.mp3|" of the other path's keys.
    const fs::path piped = file("track.mp3|1.0");
    saved({ { track, kHigh }, { piped, kHigh } });
    auto cache = makeCache();
    EXPECT_EQ(cache->get(track), kHigh);

    setModificationTime(track, 1712349999, 0);
    EXPECT_FALSE(cache->get(track));
    cache->set(track, kPoor);
    EXPECT_EQ(cache->count(), 2u);
    EXPECT_EQ(cache->get(track), kPoor);
    EXPECT_EQ(cache->get(piped), kHigh);
    cache->flush();
    EXPECT_EQ(makeCache()->count(), 2u);
}

TEST_F(AnalysisCacheTest, StoringAResultAgainDropsTheOverride)
{
    const fs::path track = file("track.mp3");
    auto cache = makeCache();
    cache->set(track, kHigh);
    cache->setOverride(track, kOverride);
    EXPECT_EQ(cache->getOverride(track), kOverride);
    cache->set(track, kPoor);
    EXPECT_FALSE(cache->getOverride(track));

    // Clearing an absent override still counts as a change.
    cache->flush();
    cache->clearOverride(track);
    EXPECT_TRUE(cache->isDirty());
}

TEST_F(AnalysisCacheTest, NonFiniteValuesAreStoredAsFiniteSoSavesKeepWorking)
{
    const fs::path track = file("track.mp3");
    AnalysisResult broken = kHigh;
    broken.cutoffFrequency = std::numeric_limits<float>::quiet_NaN();
    broken.confidence = std::numeric_limits<float>::infinity();
    broken.clipping.peakAmplitude = -std::numeric_limits<float>::infinity();
    AnalysisResult expected = kHigh;
    expected.cutoffFrequency = 0.0f;
    expected.confidence = 0.5f;
    expected.clipping.peakAmplitude = 0.0f;

    testing::internal::CaptureStdout();
    {
        auto cache = makeCache();
        cache->set(track, broken);
        EXPECT_EQ(cache->get(track), expected);
        cache->flush();
        EXPECT_FALSE(cache->isDirty());
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(makeCache()->get(track), expected);
}

// --- File format ---

TEST_F(AnalysisCacheTest, WritesCompactJsonWithShortestFloatsAndReferenceDates)
{
    const fs::path a = file("a.mp3", "12345");
    const fs::path b = makeFile(m_folder.path() / "b.flac", "abc", 1700000000, 0);
    auto cache = makeCache();
    cache->set(a, kHigh);
    cache->setOverride(a, kOverride);
    cache->set(b, kPoor);
    cache->flush();

    // "@" stands for the temporary folder.
    std::string expected
        = R"({"@/a.mp3|1712345678.25|5":{"cutoffFrequency":19500.0,"estimatedBitrate":320,"rating":"320kbps",)"
          R"("confidence":0.8225806,"clippedSamples":3,"totalSamples":441000,"peakAmplitude":0.99,)"
          R"("cachedAt":734038478.5,"userOverride":{"djReady":true,"qualityRating":"Lossless",)"
          R"("timestamp":734038500.0}},"@/b.flac|1700000000.0|3":{"cutoffFrequency":15500.0,)"
          R"("estimatedBitrate":128,"rating":"128kbps","confidence":0.75,"clippedSamples":0,)"
          R"("totalSamples":0,"peakAmplitude":0.5,"cachedAt":734038478.5}})";
    for (auto at = expected.find('@'); at != std::string::npos; at = expected.find('@', at))
        expected.replace(at, 1, dir());
    EXPECT_EQ(readText(cacheFile()), expected);
}

TEST_F(AnalysisCacheTest, ReadsMembersInAnyOrderWithEscapedOrPlainSlashes)
{
    const fs::path a = file("a.mp3", "12345");
    const fs::path b = makeFile(m_folder.path() / "b.flac", "abc", 1700000000, 0);
    std::string escaped = dir();
    for (std::size_t at = escaped.find('/'); at != std::string::npos; at = escaped.find('/', at + 2))
        escaped.insert(at, "\\");
    fs::create_directories(cacheFile().parent_path());
    std::ofstream(cacheFile())
        << "{\n  \"" << escaped
        << "\\/a.mp3|1712345678.25|5\": {\n"
           "    \"userOverride\": {\"timestamp\": 734038500.25, \"qualityRating\": \"< 128kbps\", "
           "\"djReady\": false},\n"
           "    \"cachedAt\": 1, \"peakAmplitude\": 1, \"totalSamples\": 10, \"clippedSamples\": 0,\n"
           "    \"confidence\": 0.5, \"rating\": \"320kbps\", \"estimatedBitrate\": 256, "
           "\"cutoffFrequency\": 19000\n"
           "  },\n"
           "  \""
        << dir()
        << "/b.flac|1700000000.0|3\": {\"rating\": \"96kbps\", \"cutoffFrequency\": 11000.5,"
           " \"estimatedBitrate\": 96, \"confidence\": 0.9, \"clippedSamples\": 7, \"totalSamples\": 70000,"
           " \"peakAmplitude\": 1.0, \"cachedAt\": 734038478.5, \"userOverride\": null}\n}\n";

    auto cache = makeCache();
    EXPECT_EQ(cache->count(), 2u);
    EXPECT_EQ(cache->get(a),
        (AnalysisResult { 19000.0f, 256, QualityRating::high, 0.5f, ClippingInfo { 0, 10, 1.0f } }));
    EXPECT_EQ(cache->getOverride(a),
        (UserOverride { false, QualityRating::suspicious, system_clock::time_point(1712345700s + 250ms) }));
    // A rating text that names no rating reads as suspicious.
    EXPECT_EQ(cache->get(b),
        (AnalysisResult { 11000.5f, 96, QualityRating::suspicious, 0.9f, ClippingInfo { 7, 70000, 1.0f } }));
    EXPECT_FALSE(cache->getOverride(b));
    EXPECT_FALSE(cache->isDirty());
}

TEST_F(AnalysisCacheTest, ClearedCacheIsWrittenAsAnEmptyObject)
{
    const fs::path track = file("track.mp3");
    auto cache = makeCache();
    cache->set(track, kHigh);
    cache->flush();
    cache->clear();
    EXPECT_EQ(cache->count(), 0u);
    m_clock->advance(2s);
    EXPECT_EQ(readText(cacheFile()), "{}");
}

// --- Debounced save ---

TEST_F(AnalysisCacheTest, ChangesOneSecondApartAreWrittenOnceTwoSecondsAfterTheLast)
{
    auto cache = makeCache();
    for (int i = 0; i < 10; ++i) {
        cache->set(file(numbered("t", static_cast<std::size_t>(i), ".mp3")), kHigh);
        m_clock->advance(1s);
        ASSERT_FALSE(fs::exists(cacheFile())) << "written after change " << i;
    }
    m_clock->advance(999ms);
    EXPECT_FALSE(fs::exists(cacheFile()));
    m_clock->advance(1ms);
    ASSERT_TRUE(fs::exists(cacheFile()));
    EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).count(), 10u);
    EXPECT_FALSE(cache->isDirty());
}

TEST_F(AnalysisCacheTest, FlushWritesAtOnceLaterChangesScheduleAgainAndADestroyedCacheDropsItsPendingSave)
{
    const fs::path a = file("a.mp3");
    auto cache = makeCache();
    cache->set(a, kHigh);
    m_clock->advance(1s);
    cache->flush();
    EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).count(), 1u);

    cache->set(file("b.mp3"), kPoor);
    m_clock->advance(1999ms);
    EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).count(), 1u);
    m_clock->advance(1ms);
    EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).count(), 2u);

    cache->set(file("c.mp3"), kPoor);
    cache.reset();
    m_clock->advance(5s);
    EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).count(), 2u);
}

TEST_F(AnalysisCacheTest, SystemClockRunsTasksAtTheirDeadlineAndDropsLaterOnes)
{
    std::promise<void> ran;
    std::atomic<bool> lateRan { false };
    {
        const auto clock = AnalysisCache::Clock::system();
        const auto start = clock->now();
        clock->callAt(start + 1h, [&] { lateRan = true; });
        clock->callAt(start + 20ms, [&] { ran.set_value(); });
        ASSERT_EQ(ran.get_future().wait_for(5s), std::future_status::ready);
        EXPECT_GE(clock->now() - start, 20ms);
    }
    EXPECT_FALSE(lateRan);
}

// --- Damaged files and failed writes ---

TEST_F(AnalysisCacheTest, UndecodableFileIsKeptAsideAndTheCacheStartsEmpty)
{
    const fs::path track = file("track.mp3");
    const auto entry = [](std::string_view totalSamples) {
        return "\"cutoffFrequency\":1,\"estimatedBitrate\":1,\"rating\":\"320kbps\",\"confidence\":1,"
               "\"clippedSamples\":1,\"totalSamples\":"
            + std::string(totalSamples) + ",\"peakAmplitude\":1";
    };
    const std::map<std::string, std::string> damaged = {
        { "truncated", "{\"a\":{" },
        { "no cachedAt", "{\"good\":{" + entry("1") + ",\"cachedAt\":1},\"bad\":{" + entry("1") + "}}" },
        { "wrong type", "{\"a\":{" + entry("1") + ",\"cachedAt\":\"yesterday\"}}" },
        { "fractional count", "{\"a\":{" + entry("1.5") + ",\"cachedAt\":1}}" },
        { "unknown override rating",
            "{\"a\":{" + entry("1")
                + ",\"cachedAt\":1,\"userOverride\":"
                  "{\"djReady\":true,\"qualityRating\":\"great\",\"timestamp\":1}}}" },
        { "incomplete brick-wall evidence",
            "{\"a\":{" + entry("1") + ",\"cachedAt\":1,\"lossyEvidence\":{\"depth\":13}}}" },
        { "encoder low-pass as text",
            "{\"a\":{" + entry("1")
                + ",\"cachedAt\":1,\"encoder\":\"LAME3.100\",\"encoderLowpass\":\"19.5 kHz\"}}" },
        { "encoder as a number", "{\"a\":{" + entry("1") + ",\"cachedAt\":1,\"encoder\":3100}}" },
        { "top-level array", "[]" },
        { "array of entries", "[{" + entry("1") + ",\"cachedAt\":1}]" },
        { "text after the object", "{\"a\":{" + entry("1") + ",\"cachedAt\":1}} {}" },
    };
    for (const auto& [defect, content] : damaged) {
        SCOPED_TRACE(defect);
        fs::remove_all(cacheFile().parent_path());
        fs::create_directories(cacheFile().parent_path());
        std::ofstream(cacheFile()) << content;

        testing::internal::CaptureStderr();
        auto cache = makeCache();
        const std::string log = testing::internal::GetCapturedStderr();
        const fs::path kept = cacheFile().string() + ".unreadable-1712345678";
        EXPECT_EQ(cache->count(), 0u);
        EXPECT_FALSE(fs::exists(cacheFile()));
        EXPECT_EQ(readText(kept), content);
        EXPECT_NE(log.find(kept.string()), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);

        cache->set(track, kHigh);
        cache->flush();
        EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).count(), 1u);
    }
}

TEST_F(AnalysisCacheTest, SpecialFileAtTheCachePathIsKeptAsideWithoutBlocking)
{
    fs::create_directories(cacheFile().parent_path());
    const fs::path kept = cacheFile().string() + ".unreadable-1712345678";
    for (const bool fifo : { true, false }) {
        SCOPED_TRACE(fifo ? "FIFO" : "link to /dev/zero");
        fs::remove(kept);
        if (fifo)
            ASSERT_EQ(::mkfifo(cacheFile().c_str(), 0600), 0);
        else
            fs::create_symlink("/dev/zero", cacheFile());
        testing::internal::CaptureStderr();
        auto loading = std::async(std::launch::async, [this] { return makeCache(); });
        if (loading.wait_for(5s) == std::future_status::timeout) {
            ADD_FAILURE() << "the cache blocked on its file";
            // A writer that comes and goes lets a blocked reader see the end of the FIFO.
            ::close(::open(cacheFile().c_str(), O_WRONLY | O_NONBLOCK));
        }
        auto cache = loading.get();
        (void)testing::internal::GetCapturedStderr();
        EXPECT_EQ(cache->count(), 0u);
        EXPECT_TRUE(fs::is_symlink(kept) || fs::is_fifo(kept));
        cache->set(file("a.mp3"), kHigh);
        cache->flush();
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(cacheFile())));
        fs::remove(cacheFile());
    }
}

TEST_F(AnalysisCacheTest, CachesSavingAtOnceLoseNoEntryOfEachOther)
{
    // Two instances on one file stand for two processes: each has its own folder lock.
    auto first = makeCache();
    auto second = makeCache();
    first->set(file("old.mp3"), kHigh);
    first->flush();
    const auto fill = [this](AnalysisCache& cache, std::string_view prefix) {
        for (std::size_t i = 0; i < 15; ++i) {
            cache.set(file(numbered(prefix, i, ".mp3")), kPoor);
            cache.flush();
        }
    };
    auto one = std::async(std::launch::async, [&] { fill(*first, "first-"); });
    auto two = std::async(std::launch::async, [&] { fill(*second, "second-"); });
    one.get();
    two.get();
    EXPECT_EQ(makeCache()->count(), 31u);
    // Each sees the other's saved entries.
    EXPECT_EQ(second->get(m_folder.path() / "old.mp3"), kHigh);
}

TEST_F(AnalysisCacheTest, SaveKeepsPermissionBitsAndLeavesOnlyTheCacheFile)
{
    auto cache = makeCache();
    cache->set(file("a.mp3"), kHigh);
    cache->flush();
    ASSERT_EQ(::chmod(cacheFile().c_str(), 0640), 0);
    cache->set(file("b.mp3"), kHigh);
    cache->flush();
    struct stat info { };
    ASSERT_EQ(::stat(cacheFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(folderListing(cacheFile().parent_path()), std::vector<std::string> { "analysis_cache.json" });
}

TEST_F(AnalysisCacheTest, FailedSaveIsReportedKeepsChangesAndLeavesNoTemporaryFile)
{
    const fs::path track = file("track.mp3");
    auto cache = makeCache();
    // A folder where the file should be makes the final rename fail.
    fs::create_directories(cacheFile() / "blocker");
    cache->set(track, kHigh);

    testing::internal::CaptureStdout();
    m_clock->advance(2s);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("Failed to save analysis cache: ", 0), 0u) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1);
    EXPECT_TRUE(cache->isDirty());
    EXPECT_EQ(folderListing(cacheFile().parent_path()), std::vector<std::string> { "analysis_cache.json" });
    EXPECT_TRUE(fs::exists(cacheFile() / "blocker"));

    fs::remove_all(cacheFile());
    cache->flush();
    EXPECT_FALSE(cache->isDirty());
    EXPECT_EQ(AnalysisCache(cacheFile(), m_clock).get(track), kHigh);
}

// --- Shared instance and location ---

class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvironmentVariable()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST_F(AnalysisCacheTest, DefaultLocationUsesXdgDataHomeElseHomeLocalShare)
{
    {
        EnvironmentVariable xdg("XDG_DATA_HOME", "/data/home");
        EXPECT_EQ(AnalysisCache::defaultLocation(), fs::path("/data/home/Sondrel/analysis_cache.json"));
    }
    EnvironmentVariable home("HOME", "/home/dj");
    for (const char* ignored : { static_cast<const char*>(nullptr), "", "relative/data" }) {
        EnvironmentVariable xdg("XDG_DATA_HOME", ignored);
        EXPECT_EQ(
            AnalysisCache::defaultLocation(), fs::path("/home/dj/.local/share/Sondrel/analysis_cache.json"));
    }
}

TEST_F(AnalysisCacheTest, SharedInstanceIsCreatedOnceUnderXdgDataHome)
{
    EnvironmentVariable xdg("XDG_DATA_HOME", dir().c_str());
    std::vector<std::future<AnalysisCache*>> callers;
    for (int i = 0; i < 4; ++i)
        callers.push_back(std::async(std::launch::async, [] { return &AnalysisCache::shared(); }));
    AnalysisCache* const first = callers.front().get();
    for (std::size_t i = 1; i < callers.size(); ++i)
        EXPECT_EQ(callers[i].get(), first);
    EXPECT_EQ(first->cacheURL(), cacheFile());

    // Read by its first use, not when created: a window opens before a large cache is read.
    EXPECT_FALSE(fs::exists(cacheFile().parent_path()));
    auto writer = makeCache();
    writer->set(file("a.mp3"), kHigh);
    writer->flush();
    EXPECT_EQ(first->count(), 1u);
}

TEST_F(AnalysisCacheTest, AFileReplacedByAnotherWriterIsReadBackBeforeSavingEvenAtTheSameSize)
{
    auto cache = makeCache();
    const fs::path track = file("a.mp3");
    cache->set(track, kHigh);
    cache->flush();
    // Another writer places its own version: same size, one digit of the bitrate changed.
    std::string text = readText(cacheFile());
    const std::size_t bitrate = text.find("\"estimatedBitrate\":320");
    ASSERT_NE(bitrate, std::string::npos);
    text.replace(bitrate, 22, "\"estimatedBitrate\":321");
    const fs::path placed = cacheFile().string() + ".other";
    std::ofstream(placed, std::ios::binary) << text;
    fs::rename(placed, cacheFile());

    cache->set(file("b.mp3"), kPoor);
    cache->flush();
    const auto reread = makeCache();
    EXPECT_EQ(reread->count(), 2u);
    EXPECT_EQ(reread->get(track)->estimatedBitrate, 321);
}

TEST_F(AnalysisCacheTest, OptionalFactsAreWrittenOnlyWhereTheResultHasThemAndEntriesWithoutThemReadAsBefore)
{
    const fs::path wall = file("wall.flac");
    const fs::path tagged = file("tagged.mp3");
    const fs::path untagged = file("untagged.mp3");
    const fs::path older = file("older.mp3");
    AnalysisResult fake { 20500.0f, 128, QualityRating::suspicious, 0.5f, ClippingInfo { 0, 49152, 0.2f } };
    fake.lossyEvidence = LossyEvidence { 16900.0f, 13.2f, 200.0f };
    AnalysisResult lame = kPoor;
    lame.encoder = "LAME3.100";
    lame.encoderLowpass = 17000;
    const std::string text = saved({ { wall, fake }, { tagged, lame }, { untagged, kPoor } });
    EXPECT_NE(text.find("\"lossyEvidence\":{\"wallFrequency\":16900.0,\"depth\":13.2,\"width\":200.0}"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\"encoder\":\"LAME3.100\",\"encoderLowpass\":17000"), std::string::npos) << text;
    // Written once, for the file that has it: older readers skip a member they do not know.
    EXPECT_EQ(text.find("lossyEvidence"), text.rfind("lossyEvidence"));
    EXPECT_EQ(text.find("encoderLowpass"), text.rfind("encoderLowpass"));

    // An entry as an earlier version wrote it, beside them.
    rewrite([&](nlohmann::json& json) {
        json[*AnalysisCache::cacheKey(older)] = json[*AnalysisCache::cacheKey(untagged)];
    });
    AnalysisCache reread(cacheFile(), m_clock);
    EXPECT_EQ(reread.get(wall), fake);
    EXPECT_EQ(reread.get(tagged), lame);
    EXPECT_EQ(reread.get(untagged), kPoor);
    const auto before = reread.get(older);
    ASSERT_TRUE(before);
    EXPECT_FALSE(before->encoder);
    EXPECT_FALSE(before->encoderLowpass);
}

TEST_F(AnalysisCacheTest,
    ARoundingFloorAndAnEncodersPruningRoundTripAndWhatALaterVersionAddsLeavesTheRestReadable)
{
    const fs::path floor = file("floor.flac");
    const fs::path pruned = file("pruned.mp3");
    const fs::path later = file("later.flac");
    AnalysisResult copy { 20500.0f, 128, QualityRating::suspicious, 0.5f, ClippingInfo { 0, 49152, 0.2f } };
    copy.lossyEvidence = LossyEvidence { 16100.0f, 12.4f, 2700.0f, LossyEvidence::Kind::roundingFloor };
    AnalysisResult v0 { 15500.0f, 320, QualityRating::high, 0.5f, ClippingInfo { 0, 49152, 0.2f } };
    v0.encoderPruning = EncoderPruning { 20500.0f, 21300.0f };
    v0.encoder = "LAME3.100";
    const std::string text = saved({ { floor, copy }, { pruned, v0 }, { later, copy } });
    EXPECT_NE(text.find("\"depth\":12.4,\"width\":2700.0,\"kind\":\"roundingFloor\"}"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\"encoderPruning\":{\"judgedFrequency\":20500.0,\"loudReach\":21300.0}"),
        std::string::npos)
        << text;

    // As a later version might write them: a kind of evidence, members this one does not know, and
    // tags of a shape it does not expect. An older reader meets "tags" the same way.
    rewrite([&](nlohmann::json& json) {
        json[*AnalysisCache::cacheKey(later)]["lossyEvidence"]["kind"] = "somethingNew";
        json[*AnalysisCache::cacheKey(floor)]["futureFacts"]
            = { { "list", { 1, 2, { { "deep", nullptr } } } } };
        json[*AnalysisCache::cacheKey(floor)]["futureCount"] = 7;
        json[*AnalysisCache::cacheKey(pruned)]["tags"] = { { "title", 12 } };
    });
    AnalysisCache reread(cacheFile(), m_clock);
    EXPECT_EQ(reread.count(), 3u);
    EXPECT_EQ(reread.get(floor), copy);
    EXPECT_EQ(reread.get(pruned), v0);
    EXPECT_FALSE(reread.entry(pruned)->tags);
    ASSERT_TRUE(reread.get(later)->lossyEvidence);
    EXPECT_EQ(reread.get(later)->lossyEvidence->kind, LossyEvidence::Kind::wall);
    EXPECT_EQ(reread.get(later)->judgedCutoff(), 16100.0f);
    EXPECT_FALSE(reread.isDirty());
}

TEST_F(AnalysisCacheTest, TagsAreKeptOnlyForTheFileAsItWasWhenTheyWereRead)
{
    const fs::path tagged = file("tagged.mp3");
    const fs::path untagged = file("untagged.mp3");
    const fs::path edited = file("edited.mp3");
    const auto tags = std::make_shared<const ID3Parser::Metadata>(
        ID3Parser::Metadata { "Windowlicker", "Aphex Twin", std::nullopt, 320 });
    const auto none = std::make_shared<const ID3Parser::Metadata>();
    const auto editedStamp = AnalysisCache::stampOf(edited);
    // Saved again by an editor after its tags were read.
    makeFile(edited, "longer audio");
    auto cache = makeCache();
    cache->set(tagged, kHigh, tags, AnalysisCache::stampOf(tagged));
    cache->set(untagged, kPoor, none, AnalysisCache::stampOf(untagged));
    cache->set(edited, kPoor, tags, editedStamp);
    cache->flush();
    const std::string text = readText(cacheFile());
    EXPECT_NE(text.find("\"tags\":{\"title\":\"Windowlicker\",\"artist\":\"Aphex Twin\",\"bitrate\":320}"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\"tags\":{}"), std::string::npos) << text;

    AnalysisCache reread(cacheFile(), m_clock);
    ASSERT_TRUE(reread.entry(tagged)->tags);
    EXPECT_EQ(*reread.entry(tagged)->tags, *tags);
    ASSERT_TRUE(reread.entry(untagged)->tags);
    EXPECT_EQ(*reread.entry(untagged)->tags, ID3Parser::Metadata::empty);
    EXPECT_FALSE(reread.entry(edited)->tags);
    EXPECT_EQ(reread.get(tagged), kHigh);
}

TEST_F(AnalysisCacheTest, TagsAreAddedUnderTheChangeTimeTheyWereReadAt)
{
    const fs::path track = file("track.mp3");
    const fs::path other = file("other.mp3");
    const auto first = std::make_shared<const ID3Parser::Metadata>(ID3Parser::Metadata { "One", {}, {}, {} });
    const auto second
        = std::make_shared<const ID3Parser::Metadata>(ID3Parser::Metadata { "Two", {}, {}, {} });
    const ChangeTime before { 100, 1 };
    const ChangeTime after { 100, 2 };
    auto cache = makeCache();
    // No entry: nothing to add to, nothing to save.
    cache->addTags(*AnalysisCache::cacheKey(track), first, before);
    EXPECT_FALSE(cache->isDirty());
    cache->set(track, kHigh);
    cache->flush();
    cache->addTags(*AnalysisCache::cacheKey(track), first, before);
    EXPECT_TRUE(cache->isDirty());
    cache->flush();
    // The same tags read again under the same change time change nothing.
    cache->addTags(
        *AnalysisCache::cacheKey(track), std::make_shared<const ID3Parser::Metadata>(*first), before);
    EXPECT_FALSE(cache->isDirty());
    // Read again after an edit that kept the key: the new tags replace the old.
    cache->addTags(*AnalysisCache::cacheKey(track), second, after);
    EXPECT_EQ(cache->entry(track)->tags, second);
    EXPECT_EQ(cache->getOverride(track), std::nullopt);
    cache->flush();
    const auto reread = makeCache()->entry(track);
    EXPECT_EQ(reread->tags->title, "Two");
    EXPECT_EQ(reread->tagsChanged, after);

    // Found by its path alone, whatever its stamp; a longer path that shares the text is not it.
    const fs::path barred = file("track.mp3|1|2.mp3");
    cache->set(barred, kPoor);
    const auto found = cache->entryOfPath(track);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->key, *AnalysisCache::cacheKey(track));
    EXPECT_FALSE(cache->entryOfPath(other));
    EXPECT_FALSE(cache->entryOfPath(m_folder.path() / "track.mp3|1"));
}

} // namespace
} // namespace sondrel::core
