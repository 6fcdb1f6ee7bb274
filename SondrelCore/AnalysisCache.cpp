#include "AnalysisCache.h"
#include "AtomicFile.h"
#include "FileDescriptor.h"

#include "JsonSupport.h"
#include "Result.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <span>
#include <iostream>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace sondrel::core {

namespace fs = std::filesystem;
using std::chrono::system_clock;

namespace {

// Dates in the file count seconds from 2001-01-01T00:00:00Z.
constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;
// Beyond this, nanosecond time points overflow; such a date counts as damage.
constexpr double kMaxDateSeconds = 8.0e9;

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

    [[nodiscard]] system_clock::time_point date() const override { return system_clock::now(); }

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

[[nodiscard]] Error systemError(std::string_view what, const fs::path& path, int error)
{
    return Error { std::string(what) + " " + path.string() + ": " + std::system_category().message(error) };
}

[[nodiscard]] double secondsSinceReferenceDate(system_clock::time_point date)
{
    const auto sinceUnixEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch());
    const auto whole = std::chrono::floor<std::chrono::seconds>(sinceUnixEpoch);
    const auto fraction = sinceUnixEpoch - whole;
    return static_cast<double>(whole.count() - kReferenceDateUnixSeconds)
        + static_cast<double>(fraction.count()) / 1e9;
}

// Microsecond precision: a double of this magnitude holds no more.
[[nodiscard]] std::optional<system_clock::time_point> dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds)
        return std::nullopt;
    const auto micros = std::chrono::microseconds(std::llround(seconds * 1e6))
        + std::chrono::seconds(kReferenceDateUnixSeconds);
    return system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(micros));
}

[[nodiscard]] float finiteOr(float value, float fallback) noexcept
{
    return std::isfinite(value) ? value : fallback;
}

// JSON has no NaN or infinity; one such value would fail every later save.
[[nodiscard]] AnalysisResult sanitised(AnalysisResult result) noexcept
{
    result.cutoffFrequency = finiteOr(result.cutoffFrequency, 0.0f);
    result.confidence = finiteOr(result.confidence, 0.5f);
    result.clipping.peakAmplitude = finiteOr(result.clipping.peakAmplitude, 0.0f);
    return result;
}

[[nodiscard]] json::Object encodeEntry(const AnalysisCache::CachedResult& entry)
{
    json::Object object = json::Object::object();
    object["cutoffFrequency"] = json::shortest(entry.cutoffFrequency);
    object["estimatedBitrate"] = entry.estimatedBitrate;
    object["rating"] = entry.rating;
    object["confidence"] = json::shortest(entry.confidence);
    object["clippedSamples"] = entry.clippedSamples;
    object["totalSamples"] = entry.totalSamples;
    object["peakAmplitude"] = json::shortest(entry.peakAmplitude);
    object["cachedAt"] = secondsSinceReferenceDate(entry.cachedAt);
    if (entry.userOverride) {
        json::Object override = json::Object::object();
        override["djReady"] = entry.userOverride->djReady;
        override["qualityRating"] = std::string(rawValue(entry.userOverride->qualityRating));
        override["timestamp"] = secondsSinceReferenceDate(entry.userOverride->timestamp);
        object["userOverride"] = std::move(override);
    }
    if (entry.lossyEvidence)
        object["lossyEvidence"] = json::toJson(*entry.lossyEvidence);
    return object;
}

// Written member by member: an ordered object would look up each new key linearly.
[[nodiscard]] std::string encode(const AnalysisCache::Map& cache)
{
    std::string out;
    out.reserve(cache.size() * 320 + 2);
    out += '{';
    bool first = true;
    for (const auto& [key, entry] : cache) {
        if (!first)
            out += ',';
        first = false;
        out += json::text(json::Object(key));
        out += ':';
        out += json::text(encodeEntry(entry));
    }
    out += '}';
    return out;
}

using Json = nlohmann::json;

[[nodiscard]] const Json* member(const Json& object, const char* name)
{
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

[[nodiscard]] bool readFloat(const Json& object, const char* name, float& out)
{
    const Json* value = member(object, name);
    if (value == nullptr || !value->is_number())
        return false;
    const double number = value->get<double>();
    if (!std::isfinite(number) || std::fabs(number) > std::numeric_limits<float>::max())
        return false;
    out = static_cast<float>(number);
    return true;
}

[[nodiscard]] bool readInteger(const Json& object, const char* name, std::int64_t& out)
{
    const Json* value = member(object, name);
    if (value == nullptr)
        return false;
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return false;
        out = static_cast<std::int64_t>(number);
        return true;
    }
    if (!value->is_number_integer())
        return false;
    out = value->get<std::int64_t>();
    return true;
}

[[nodiscard]] bool readDate(const Json& object, const char* name, system_clock::time_point& out)
{
    const Json* value = member(object, name);
    if (value == nullptr || !value->is_number())
        return false;
    const auto date = dateFromReferenceSeconds(value->get<double>());
    if (!date)
        return false;
    out = *date;
    return true;
}

[[nodiscard]] std::optional<UserOverride> decodeOverride(const Json& object)
{
    if (!object.is_object())
        return std::nullopt;
    const Json* djReady = member(object, "djReady");
    const Json* rating = member(object, "qualityRating");
    if (djReady == nullptr || !djReady->is_boolean() || rating == nullptr || !rating->is_string())
        return std::nullopt;
    const auto qualityRating = qualityRatingFromRawValue(rating->get_ref<const std::string&>());
    UserOverride override;
    if (!qualityRating || !readDate(object, "timestamp", override.timestamp))
        return std::nullopt;
    override.djReady = djReady->get<bool>();
    override.qualityRating = *qualityRating;
    return override;
}

[[nodiscard]] std::optional<AnalysisCache::CachedResult> decodeEntry(const Json& object)
{
    if (!object.is_object())
        return std::nullopt;
    AnalysisCache::CachedResult entry;
    const Json* rating = member(object, "rating");
    if (rating == nullptr || !rating->is_string())
        return std::nullopt;
    entry.rating = rating->get<std::string>();
    if (!readFloat(object, "cutoffFrequency", entry.cutoffFrequency)
        || !readInteger(object, "estimatedBitrate", entry.estimatedBitrate)
        || !readFloat(object, "confidence", entry.confidence)
        || !readInteger(object, "clippedSamples", entry.clippedSamples)
        || !readInteger(object, "totalSamples", entry.totalSamples)
        || !readFloat(object, "peakAmplitude", entry.peakAmplitude)
        || !readDate(object, "cachedAt", entry.cachedAt))
        return std::nullopt;
    // Absent and null both mean no override.
    if (const Json* override = member(object, "userOverride"); override != nullptr && !override->is_null()) {
        entry.userOverride = decodeOverride(*override);
        if (!entry.userOverride)
            return std::nullopt;
    }
    if (const Json* evidence = member(object, "lossyEvidence"); evidence != nullptr && !evidence->is_null()) {
        entry.lossyEvidence = json::lossyEvidenceFromJson(*evidence);
        if (!entry.lossyEvidence)
            return std::nullopt;
    }
    return entry;
}

// One bad entry rejects the whole file.
[[nodiscard]] std::optional<AnalysisCache::Map> decode(std::string_view text)
{
    try {
        const Json document = Json::parse(text, nullptr, false);
        if (!document.is_object())
            return std::nullopt;
        AnalysisCache::Map cache;
        for (const auto& [key, value] : document.items()) {
            auto entry = decodeEntry(value);
            if (!entry)
                return std::nullopt;
            // The parser's object is ordered the same way, so each insert lands at the end.
            cache.emplace_hint(cache.end(), key, std::move(*entry));
        }
        return cache;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Far beyond any real library (about 300 bytes an entry): a larger file is damage,
// such as a link to a device that never ends.
constexpr off_t kMaxCacheFileBytes = off_t { 256 } << 20;

enum class FileState { missing, unreadable, read };

struct FileContents {
    FileState state = FileState::missing;
    std::string bytes;
};

// Only a regular file is read; a FIFO or a device neither blocks the open nor is read.
[[nodiscard]] FileContents readCacheFile(const fs::path& path)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid())
        return { errno == ENOENT ? FileState::missing : FileState::unreadable, {} };
    struct stat info { };
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxCacheFileBytes)
        return { FileState::unreadable, {} };
    FileContents contents { FileState::read, {} };
    contents.bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 || contents.bytes.size() > static_cast<std::size_t>(kMaxCacheFileBytes))
            return { FileState::unreadable, {} };
        if (count == 0)
            return contents;
        contents.bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

// The path part of "path|mtime|size"; the path itself may hold "|".
[[nodiscard]] std::string_view pathOfKey(std::string_view key) noexcept
{
    const std::size_t sizeBar = key.rfind('|');
    if (sizeBar == std::string_view::npos || sizeBar == 0)
        return key;
    const std::size_t timeBar = key.rfind('|', sizeBar - 1);
    return key.substr(0, timeBar == std::string_view::npos ? sizeBar : timeBar);
}

// Holds an exclusive lock on the cache's folder, which every process saving there takes. The
// folder, not the file: the file is replaced by a rename at every save. Without a folder to
// lock the save goes ahead and fails on its own.
class FolderLock {
public:
    explicit FolderLock(const fs::path& file)
        : m_folder(::open(
            file.has_parent_path() ? file.parent_path().c_str() : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_folder.valid()) {
            while (::flock(m_folder.get(), LOCK_EX) != 0 && errno == EINTR) { }
        }
    }

private:
    FileDescriptor m_folder; // closing it releases the lock
};

// On failure the old file is untouched and no temporary file is left.
[[nodiscard]] Status writeAtomically(const fs::path& target, std::string_view bytes)
{
    auto file = AtomicFile::create(target, Placement::replace);
    if (!file)
        return systemError("cannot create a file beside", target, file.error().value());
    const std::span content(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (const std::error_code error = file->append(content))
        return systemError("cannot write", target, error.value());
    if (const std::error_code error = file->commit())
        return systemError("cannot replace", target, error.value());
    return Ok {};
}

// Keeps a damaged file for the user instead of letting the next save overwrite it.
void keepUnreadableFile(const fs::path& file, system_clock::time_point now)
{
    fs::path kept = file;
    kept += ".unreadable-";
    kept += std::to_string(std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count());
    if (::rename(file.c_str(), kept.c_str()) == 0)
        std::cerr << "Unreadable analysis cache kept as " << kept.string() << std::endl;
}

} // namespace

struct AnalysisCache::Lifeline {
    std::mutex mutex;
    AnalysisCache* cache = nullptr;
};

std::shared_ptr<AnalysisCache::Clock> AnalysisCache::Clock::system()
{
    return std::make_shared<SystemClock>();
}

AnalysisCache::CachedResult::CachedResult(
    const AnalysisResult& result, std::optional<UserOverride> override, system_clock::time_point cachedAtDate)
    : cutoffFrequency(result.cutoffFrequency)
    , estimatedBitrate(result.estimatedBitrate)
    , rating(rawValue(result.rating))
    , confidence(result.confidence)
    , clippedSamples(result.clipping.clippedSamples)
    , totalSamples(result.clipping.totalSamples)
    , peakAmplitude(result.clipping.peakAmplitude)
    , cachedAt(cachedAtDate)
    , userOverride(std::move(override))
    , lossyEvidence(result.lossyEvidence)
{
}

AnalysisResult AnalysisCache::CachedResult::toAnalysisResult() const
{
    return AnalysisResult {
        cutoffFrequency,
        estimatedBitrate,
        qualityRatingFromRawValue(rating).value_or(QualityRating::suspicious),
        confidence,
        ClippingInfo { clippedSamples, totalSamples, peakAmplitude },
        lossyEvidence,
    };
}

AnalysisCache::AnalysisCache(fs::path cacheFile)
    : AnalysisCache(std::move(cacheFile), Clock::system())
{
}

AnalysisCache::AnalysisCache(fs::path cacheFile, std::shared_ptr<Clock> clock)
    : m_cacheURL(std::move(cacheFile))
    , m_clock(std::move(clock))
    , m_lifeline(std::make_shared<Lifeline>())
    , m_failureStream(&std::cout)
{
    m_lifeline->cache = this;
    load();
}

AnalysisCache::~AnalysisCache()
{
    // Waits for a timer save in progress; later timer calls find no cache.
    std::lock_guard lock(m_lifeline->mutex);
    m_lifeline->cache = nullptr;
}

AnalysisCache& AnalysisCache::shared()
{
    // Never destroyed: nothing may save at exit, and no thread outlives its object.
    static AnalysisCache* const instance = new AnalysisCache(defaultLocation());
    return *instance;
}

fs::path userDataHome()
{
    // Relative values are invalid for XDG variables and are ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        return xdg;
    fs::path home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] != '\0') {
        home = variable;
    } else {
        passwd entry {};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
            home = found->pw_dir;
    }
    return home / ".local" / "share";
}

fs::path AnalysisCache::defaultLocation()
{
    return userDataHome() / "Sondrel" / kFileName;
}

std::optional<std::string> AnalysisCache::cacheKey(const fs::path& location)
{
    struct stat info { };
    if (location.empty() || ::stat(location.c_str(), &info) != 0)
        return std::nullopt;
    const double modified
        = static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
    // Fixed notation: the plain shortest form would write 1700000000 as 1.7e+09.
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, modified, std::chars_format::fixed);
    if (error != std::errc {})
        return std::nullopt;
    std::string mtime(text, end);
    if (mtime.find('.') == std::string::npos)
        mtime += ".0";
    std::string key = location.native();
    key += '|';
    key += mtime;
    key += '|';
    key += std::to_string(static_cast<std::int64_t>(info.st_size));
    return key;
}

std::optional<AnalysisCache::CachedResult> AnalysisCache::entry(const fs::path& location) const
{
    const auto key = cacheKey(location);
    if (!key)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    const auto it = m_cache.find(*key);
    if (it == m_cache.end())
        return std::nullopt;
    return it->second;
}

std::optional<AnalysisResult> AnalysisCache::get(const fs::path& location) const
{
    const auto found = entry(location);
    if (!found)
        return std::nullopt;
    return found->toAnalysisResult();
}

void AnalysisCache::set(const fs::path& location, const AnalysisResult& result)
{
    auto key = cacheKey(location);
    if (!key)
        return;
    CachedResult entry(sanitised(result), std::nullopt, m_clock->date());
    std::lock_guard lock(m_mutex);
    store(m_changes, *key, entry);
    store(m_cache, *key, std::move(entry));
    markChangedLocked();
}

void AnalysisCache::store(Map& map, const std::string& key, CachedResult entry)
{
    const std::string_view path = pathOfKey(key);
    std::string prefix(path);
    prefix += '|';
    // Every key of the path starts with the prefix, so they sit together in the map.
    for (auto it = map.lower_bound(prefix); it != map.end() && it->first.starts_with(prefix);) {
        if (it->first != key && pathOfKey(it->first) == path)
            it = map.erase(it);
        else
            ++it;
    }
    map.insert_or_assign(key, std::move(entry));
}

bool AnalysisCache::has(const fs::path& location) const
{
    const auto key = cacheKey(location);
    if (!key)
        return false;
    std::lock_guard lock(m_mutex);
    return m_cache.contains(*key);
}

std::optional<UserOverride> AnalysisCache::getOverride(const fs::path& location) const
{
    const auto found = entry(location);
    if (!found)
        return std::nullopt;
    return found->userOverride;
}

void AnalysisCache::setOverride(const fs::path& location, const UserOverride& override)
{
    const auto key = cacheKey(location);
    if (!key)
        return;
    std::lock_guard lock(m_mutex);
    const auto it = m_cache.find(*key);
    if (it == m_cache.end())
        return;
    it->second.userOverride = override;
    store(m_changes, it->first, it->second);
    markChangedLocked();
}

void AnalysisCache::clearOverride(const fs::path& location)
{
    const auto key = cacheKey(location);
    if (!key)
        return;
    std::lock_guard lock(m_mutex);
    const auto it = m_cache.find(*key);
    if (it == m_cache.end())
        return;
    it->second.userOverride.reset();
    store(m_changes, it->first, it->second);
    markChangedLocked();
}

void AnalysisCache::clear()
{
    Map removed;
    {
        std::lock_guard lock(m_mutex);
        removed.swap(m_cache);
        m_changes.clear();
        m_cleared = true;
        markChangedLocked();
    }
    // The entries are freed here, outside the lock.
}

std::size_t AnalysisCache::count() const
{
    std::lock_guard lock(m_mutex);
    return m_cache.size();
}

std::vector<std::filesystem::path> AnalysisCache::overriddenFiles() const
{
    std::vector<std::filesystem::path> files;
    std::lock_guard lock(m_mutex);
    for (const auto& [key, entry] : m_cache) {
        if (!entry.userOverride)
            continue;
        // "path|mtime|size": the path is what comes before the last two bars (it may hold one).
        const auto size = key.rfind('|');
        const auto time = size == std::string::npos || size == 0 ? std::string::npos : key.rfind('|', size - 1);
        files.emplace_back(key.substr(0, time));
    }
    return files;
}

bool AnalysisCache::isDirty() const
{
    std::lock_guard lock(m_mutex);
    return m_generation != m_savedGeneration;
}

void AnalysisCache::flush()
{
    {
        std::lock_guard lock(m_mutex);
        m_savePending = false;
    }
    saveCache();
}

void AnalysisCache::load()
{
    std::error_code ignored;
    if (m_cacheURL.has_parent_path())
        fs::create_directories(m_cacheURL.parent_path(), ignored);
    const FileContents file = readCacheFile(m_cacheURL);
    if (file.state == FileState::missing)
        return;
    std::optional<Map> cache = file.state == FileState::read ? decode(file.bytes) : std::nullopt;
    if (!cache) {
        keepUnreadableFile(m_cacheURL, m_clock->date());
        return;
    }
    std::lock_guard lock(m_mutex);
    m_cache = std::move(*cache);
}

void AnalysisCache::markChangedLocked()
{
    ++m_generation;
    scheduleSaveLocked();
}

void AnalysisCache::scheduleSaveLocked()
{
    // One timer at most: it re-arms itself while changes keep moving the deadline.
    m_saveDeadline = m_clock->now() + kSaveDelay;
    m_savePending = true;
    if (!m_timerArmed)
        armTimerLocked(m_saveDeadline);
}

void AnalysisCache::armTimerLocked(Clock::Instant deadline)
{
    m_timerArmed = true;
    try {
        m_clock->callAt(deadline, [lifeline = m_lifeline] {
            std::lock_guard guard(lifeline->mutex);
            if (lifeline->cache != nullptr)
                lifeline->cache->onSaveTimer();
        });
    } catch (...) {
        // No timer thread: the next change or flush() tries again.
        m_timerArmed = false;
    }
}

void AnalysisCache::onSaveTimer()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_savePending) {
            m_timerArmed = false;
            return;
        }
        if (m_clock->now() < m_saveDeadline) {
            armTimerLocked(m_saveDeadline);
            return;
        }
        m_savePending = false;
        m_timerArmed = false;
    }
    saveCache();
}

void AnalysisCache::saveCache()
{
    std::lock_guard saveLock(m_saveMutex);
    Map changes;
    bool cleared = false;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_generation == m_savedGeneration)
            return;
        changes.swap(m_changes);
        cleared = std::exchange(m_cleared, false);
        generation = m_generation;
    }
    std::optional<Map> merged;
    Status status = Ok {};
    try {
        const FolderLock folderLock(m_cacheURL);
        // What other processes saved since, unless this one cleared the cache.
        if (cleared) {
            merged.emplace();
        } else {
            const FileContents file = readCacheFile(m_cacheURL);
            if (file.state == FileState::missing)
                merged.emplace();
            else if (file.state == FileState::read)
                merged = decode(file.bytes);
        }
        if (!merged) {
            // Damaged since it was loaded: this process's own view replaces it.
            std::lock_guard lock(m_mutex);
            merged = m_cache;
        }
        for (const auto& [key, entry] : changes)
            store(*merged, key, entry);
        status = writeAtomically(m_cacheURL, encode(*merged));
    } catch (const std::exception& error) {
        status = Error { error.what() };
    }

    if (!status)
        *m_failureStream.load() << "Failed to save analysis cache: " << status.error().description
                                << std::endl;
    std::lock_guard lock(m_mutex);
    if (!status) {
        // The changes wait for the next save, under the ones made since; a clear since drops them.
        if (!m_cleared) {
            for (auto& [key, entry] : m_changes)
                store(changes, key, std::move(entry));
            m_changes.swap(changes);
            m_cleared = cleared;
        }
        return;
    }
    // The other processes' entries become look-ups here too.
    if (!m_cleared) {
        for (const auto& [key, entry] : m_changes)
            store(*merged, key, entry);
        m_cache.swap(*merged);
    }
    m_savedGeneration = generation;
}

} // namespace sondrel::core
