#include "AnalysisCache.h"

#include "CacheCodec.h"
#include "CacheFile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <utility>
#include <vector>

namespace sondrel::core {

namespace fs = std::filesystem;
using std::chrono::system_clock;

namespace {

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

// The path part of "path|mtime|size"; the path itself may hold "|".
[[nodiscard]] std::string_view pathOfKey(std::string_view key) noexcept
{
    const std::size_t sizeBar = key.rfind('|');
    if (sizeBar == std::string_view::npos || sizeBar == 0)
        return key;
    const std::size_t timeBar = key.rfind('|', sizeBar - 1);
    return key.substr(0, timeBar == std::string_view::npos ? sizeBar : timeBar);
}

} // namespace

struct AnalysisCache::Lifeline {
    std::mutex mutex;
    AnalysisCache* cache = nullptr;
};

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
    , encoderPruning(result.encoderPruning)
    , encoder(result.encoder)
    , encoderLowpass(result.encoderLowpass)
{
}

AnalysisResult AnalysisCache::CachedResult::toAnalysisResult() const
{
    AnalysisResult result {
        cutoffFrequency,
        estimatedBitrate,
        qualityRatingFromRawValue(rating).value_or(QualityRating::suspicious),
        confidence,
        ClippingInfo { clippedSamples, totalSamples, peakAmplitude },
        lossyEvidence,
    };
    result.encoderPruning = encoderPruning;
    result.encoder = encoder;
    result.encoderLowpass = encoderLowpass;
    return result;
}

bool AnalysisCache::CachedResult::operator==(const CachedResult& other) const noexcept
{
    const bool sameTags = tags == other.tags || (tags && other.tags && *tags == *other.tags);
    return sameTags && tagsChanged == other.tagsChanged && cutoffFrequency == other.cutoffFrequency
        && estimatedBitrate == other.estimatedBitrate && rating == other.rating
        && confidence == other.confidence && clippedSamples == other.clippedSamples
        && totalSamples == other.totalSamples && peakAmplitude == other.peakAmplitude
        && cachedAt == other.cachedAt && userOverride == other.userOverride
        && lossyEvidence == other.lossyEvidence && encoderPruning == other.encoderPruning
        && encoder == other.encoder && encoderLowpass == other.encoderLowpass;
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
    ensureLoaded();
}

AnalysisCache::AnalysisCache(fs::path cacheFile, std::shared_ptr<Clock> clock, LoadOnFirstUse)
    : m_cacheURL(std::move(cacheFile))
    , m_clock(std::move(clock))
    , m_lifeline(std::make_shared<Lifeline>())
    , m_failureStream(&std::cout)
{
    m_lifeline->cache = this;
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
    // Loaded by its first user, so that a window can open before a large cache is read.
    static AnalysisCache* const instance
        = new AnalysisCache(defaultLocation(), Clock::system(), LoadOnFirstUse {});
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

std::optional<FileStamp> AnalysisCache::stampOf(const fs::path& location)
{
    struct stat info { };
    if (location.empty() || ::stat(location.c_str(), &info) != 0)
        return std::nullopt;
    return FileStamp { info.st_mtim.tv_sec, info.st_mtim.tv_nsec, static_cast<std::int64_t>(info.st_size) };
}

std::optional<std::string> AnalysisCache::cacheKey(const fs::path& location)
{
    const auto stamp = stampOf(location);
    if (!stamp)
        return std::nullopt;
    return cacheKey(location, *stamp);
}

std::optional<std::string> AnalysisCache::cacheKey(const fs::path& location, const FileStamp& stamp)
{
    const double modified = static_cast<double>(stamp.seconds) + static_cast<double>(stamp.nanoseconds) / 1e9;
    // Fixed notation: the plain shortest form would write 1700000000 as 1.7e+09.
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, modified, std::chars_format::fixed);
    if (error != std::errc {})
        return std::nullopt;
    const std::string_view mtime(text, static_cast<std::size_t>(end - text));
    std::string key;
    key.reserve(location.native().size() + mtime.size() + 24);
    key += location.native();
    key += '|';
    key += mtime;
    if (mtime.find('.') == std::string_view::npos)
        key += ".0";
    key += '|';
    key += std::to_string(stamp.size);
    return key;
}

std::optional<AnalysisCache::CachedResult> AnalysisCache::entryForKey(std::string_view key) const
{
    ensureLoaded();
    std::lock_guard lock(m_mutex);
    const auto it = m_cache.find(key);
    if (it == m_cache.end())
        return std::nullopt;
    return it->second;
}

std::optional<AnalysisCache::CachedResult> AnalysisCache::entry(const fs::path& location) const
{
    const auto key = cacheKey(location);
    if (!key)
        return std::nullopt;
    return entryForKey(*key);
}

std::optional<AnalysisResult> AnalysisCache::get(const fs::path& location) const
{
    const auto found = entry(location);
    if (!found)
        return std::nullopt;
    return found->toAnalysisResult();
}

std::optional<AnalysisCache::KeyedEntry> AnalysisCache::entryOfPath(const fs::path& location) const
{
    ensureLoaded();
    std::string prefix = location.native();
    prefix += '|';
    std::lock_guard lock(m_mutex);
    // The path's keys sit together, behind those of longer paths that share the prefix.
    for (auto it = m_cache.lower_bound(prefix); it != m_cache.end() && it->first.starts_with(prefix); ++it) {
        if (pathOfKey(it->first) == location.native())
            return KeyedEntry { it->first, it->second };
    }
    return std::nullopt;
}

void AnalysisCache::set(const fs::path& location, const AnalysisResult& result, const Tags& tags,
    const std::optional<FileStamp>& tagsStamp)
{
    ensureLoaded();
    const auto stamp = stampOf(location);
    auto key = stamp ? cacheKey(location, *stamp) : std::nullopt;
    if (!key)
        return;
    CachedResult entry(sanitised(result), std::nullopt, m_clock->date());
    if (tags && tagsStamp == stamp)
        entry.tags = tags;
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

void AnalysisCache::addTags(std::string_view key, Tags tags, ChangeTime changed)
{
    if (!tags)
        return;
    ensureLoaded();
    std::lock_guard lock(m_mutex);
    const auto it = m_cache.find(key);
    if (it == m_cache.end()
        || (it->second.tags && it->second.tagsChanged == changed && *it->second.tags == *tags))
        return;
    // Not a change to lay over another process's file: the tags reach the file when this
    // map is written whole, and a save that merges drops them, which only means the file is
    // read once more. A first listing of an older cache would otherwise copy every entry.
    it->second.tags = std::move(tags);
    it->second.tagsChanged = changed;
    markChangedLocked();
}

bool AnalysisCache::has(const fs::path& location) const
{
    ensureLoaded();
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
    replaceOverride(location, override);
}

void AnalysisCache::clearOverride(const fs::path& location)
{
    replaceOverride(location, std::nullopt);
}

void AnalysisCache::replaceOverride(const fs::path& location, const std::optional<UserOverride>& override)
{
    ensureLoaded();
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

void AnalysisCache::clear()
{
    ensureLoaded();
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
    ensureLoaded();
    std::lock_guard lock(m_mutex);
    return m_cache.size();
}

std::vector<std::filesystem::path> AnalysisCache::overriddenFiles() const
{
    ensureLoaded();
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
    ensureLoaded();
    std::lock_guard lock(m_mutex);
    return m_generation != m_savedGeneration;
}

void AnalysisCache::flush()
{
    ensureLoaded();
    {
        std::lock_guard lock(m_mutex);
        m_savePending = false;
    }
    saveCache();
}

void AnalysisCache::ensureLoaded() const
{
    // The map is the object's state; loading it once is not a change a caller can see.
    std::call_once(m_loadOnce, [this] { const_cast<AnalysisCache*>(this)->load(); });
}

void AnalysisCache::load()
{
    std::error_code ignored;
    if (m_cacheURL.has_parent_path())
        fs::create_directories(m_cacheURL.parent_path(), ignored);
    CacheFile::Contents file = CacheFile::read(m_cacheURL);
    if (file.state == CacheFile::State::missing)
        return;
    std::optional<Map> cache
        = file.state == CacheFile::State::read ? CacheCodec::decode(file.bytes) : std::nullopt;
    // The text is no longer needed; free it before the map is handed over.
    file.bytes = std::string();
    if (!cache) {
        CacheFile::keepAside(m_cacheURL, m_clock->date());
        return;
    }
    std::lock_guard lock(m_mutex);
    m_cache = std::move(*cache);
    m_fileSeen = file.identity;
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
    std::optional<CacheFile::Identity> seen;
    {
        std::lock_guard lock(m_mutex);
        if (m_generation == m_savedGeneration)
            return;
        changes.swap(m_changes);
        cleared = std::exchange(m_cleared, false);
        generation = m_generation;
        seen = m_fileSeen;
    }
    std::optional<Map> merged;
    Status status = Ok {};
    try {
        const FolderLock folderLock(m_cacheURL);
        // What other processes saved since, unless this one cleared the cache.
        if (cleared) {
            merged.emplace();
        } else if (const auto identity = CacheFile::identify(m_cacheURL); identity && identity == seen) {
            std::lock_guard lock(m_mutex);
            merged = m_cache;
        } else {
            const CacheFile::Contents file = CacheFile::read(m_cacheURL);
            if (file.state == CacheFile::State::missing)
                merged.emplace();
            else if (file.state == CacheFile::State::read)
                merged = CacheCodec::decode(file.bytes);
        }
        if (!merged) {
            // Damaged since it was loaded: this process's own view replaces it.
            std::lock_guard lock(m_mutex);
            merged = m_cache;
        }
        for (const auto& [key, entry] : changes)
            store(*merged, key, entry);
        status = CacheFile::write(m_cacheURL, CacheCodec::encode(*merged));
        // Still under the folder lock: the file now there is the one just written.
        if (status)
            seen = CacheFile::identify(m_cacheURL);
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
    m_fileSeen = m_cleared ? std::nullopt : seen;
    m_savedGeneration = generation;
}

} // namespace sondrel::core
