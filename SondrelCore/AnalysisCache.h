#pragma once

#include "AnalysisModel.h"
#include "CacheFile.h"
#include "FileStamp.h"
#include "ID3Parser.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

namespace sondrel::core {

// The per-user data folder: $XDG_DATA_HOME when it is absolute, else ~/.local/share.
[[nodiscard]] std::filesystem::path userDataHome();

// Results of analysed files, kept across runs in one JSON file and keyed by
// path, modification time and size, so a changed file simply misses.
//
// A mutex-guarded serialised service: every operation is thread-safe and runs one
// at a time over the in-memory map. Operations that take a location read the
// file's attributes before taking the lock. A save takes the changes made since
// the last save under the lock and merges and writes them outside, so look-ups
// never wait for the disk; saves are serialised among themselves. No operation
// throws. Dates are stored as seconds since 2001-01-01 in a double, which keeps
// microseconds.
//
// Several processes may share the file (the window and a terminal scan): a save
// takes an exclusive lock on the file's folder, reads what the others saved since,
// lays this process's changes over it and writes the result, so no process loses
// another's entries. An entry stored for a path drops that path's entries of other
// modification times or sizes, which could never match again.
class AnalysisCache {
public:
    // Time source and timer of the debounced save; tests replace it to run the
    // save without waiting.
    class Clock {
    public:
        // Time since an arbitrary fixed origin; never goes backwards.
        using Instant = std::chrono::nanoseconds;

        virtual ~Clock() = default;

        [[nodiscard]] virtual Instant now() const = 0;
        // Wall-clock time for the `cachedAt` of new entries.
        [[nodiscard]] virtual std::chrono::system_clock::time_point date() const = 0;
        // Runs `task` once, no earlier than `deadline`, on a thread of the clock's
        // choosing, never from inside callAt() itself and with none of the clock's
        // locks held. Tasks still waiting when the clock is destroyed are dropped.
        // May throw when it cannot schedule; the save then waits for the next change.
        virtual void callAt(Instant deadline, std::function<void()> task) = 0;

        // Boot-time clock (keeps counting while the machine sleeps) with one timer thread.
        [[nodiscard]] static std::shared_ptr<Clock> system();
    };

    // A file's title, artist, album and claimed bitrate, shared by the entry and the records
    // built from it.
    using Tags = std::shared_ptr<const ID3Parser::Metadata>;

    // One entry: a result plus the user's override, the only field that changes.
    struct CachedResult {
        float cutoffFrequency = 0.0f;
        std::int64_t estimatedBitrate = 0;
        std::string rating; // raw value of a QualityRating
        float confidence = 0.0f;
        std::int64_t clippedSamples = 0;
        std::int64_t totalSamples = 0;
        float peakAmplitude = 0.0f;
        std::chrono::system_clock::time_point cachedAt;
        std::optional<UserOverride> userOverride;
        // Absent in entries written before the brick-wall detector, and where it did not act.
        std::optional<LossyEvidence> lossyEvidence;
        // Absent in entries written before it, and where it did not act.
        std::optional<EncoderPruning> encoderPruning;
        // The LAME tag's facts; absent in older entries and for files without a tag.
        std::optional<std::string> encoder;
        std::optional<int> encoderLowpass;
        // What the tag reader gives for the file in the state the key names, so that listing
        // it again need not open it; absent in older entries.
        Tags tags;
        // The file's change time when `tags` were read: the key alone cannot tell a tag edit
        // that kept the size and put the modification time back. Tags without it are read again.
        std::optional<ChangeTime> tagsChanged;

        CachedResult() = default;
        explicit CachedResult(const AnalysisResult& result,
            std::optional<UserOverride> override = std::nullopt,
            std::chrono::system_clock::time_point cachedAtDate = std::chrono::system_clock::now());

        // A rating text that names no QualityRating gives `suspicious`.
        [[nodiscard]] AnalysisResult toAnalysisResult() const;

        // Every field, the tags by value.
        bool operator==(const CachedResult& other) const noexcept;
    };
    struct KeyedEntry {
        std::string key;
        CachedResult entry;
    };

    using Map = std::map<std::string, CachedResult, std::less<>>;

    static constexpr std::chrono::seconds kSaveDelay { 2 };
    static constexpr std::string_view kFileName = "analysis_cache.json";

    // Loads `cacheFile` if it exists, creating its folder first. A file that cannot be
    // read or decoded, or is not a regular file after links are followed (a FIFO, a
    // device; neither blocks nor is read), is renamed to "<name>.unreadable-<unix time>" beside it (one line
    // on standard error names the copy) and the cache starts empty.
    explicit AnalysisCache(std::filesystem::path cacheFile);
    AnalysisCache(std::filesystem::path cacheFile, std::shared_ptr<Clock> clock);
    // Does not save: changes whose save has not started yet are lost.
    ~AnalysisCache();

    AnalysisCache(const AnalysisCache&) = delete;
    AnalysisCache& operator=(const AnalysisCache&) = delete;

    // The process-wide instance at defaultLocation(), created on first use and never destroyed; its
    // file is read by the first call that needs an entry, on that caller's thread.
    [[nodiscard]] static AnalysisCache& shared();
    // $XDG_DATA_HOME/Sondrel/analysis_cache.json, else ~/.local/share/Sondrel/analysis_cache.json.
    [[nodiscard]] static std::filesystem::path defaultLocation();

    // "path|mtime|size", e.g. "/Music/a.mp3|1712345678.25|8123456"; the path as given,
    // symbolic links followed for the attributes. None when the attributes can't be read.
    [[nodiscard]] static std::optional<std::string> cacheKey(const std::filesystem::path& location);
    // The same key from attributes already read; touches no disk. None only when the time
    // cannot be written (it always can for a real file).
    [[nodiscard]] static std::optional<std::string> cacheKey(
        const std::filesystem::path& location, const FileStamp& stamp);
    // The stamp of the item at `location`; none when its attributes cannot be read.
    [[nodiscard]] static std::optional<FileStamp> stampOf(const std::filesystem::path& location);

    // The whole entry (result and override) with one read of the file's attributes.
    [[nodiscard]] std::optional<CachedResult> entry(const std::filesystem::path& location) const;
    // The entry under a key made by cacheKey(); reads nothing from disk.
    [[nodiscard]] std::optional<CachedResult> entryForKey(std::string_view key) const;
    [[nodiscard]] std::optional<AnalysisResult> get(const std::filesystem::path& location) const;
    // An entry stored for the path, whatever the modification time and size, with its key;
    // reads nothing from disk. Where the path has several, one of them.
    [[nodiscard]] std::optional<KeyedEntry> entryOfPath(const std::filesystem::path& location) const;
    // Replaces any entry (and its override) and drops the entries of the same path
    // under another modification time or size. Non-finite cutoff, confidence and peak are
    // stored as 0, 0.5 and 0 so that the file can always be written. `tags`, read from the
    // file when it had the attributes `tagsStamp`, are kept only if it still has them.
    void set(const std::filesystem::path& location, const AnalysisResult& result, const Tags& tags = {},
        const std::optional<FileStamp>& tagsStamp = std::nullopt);
    // Gives the entry under `key` the tags read from the file in the state the key names, when
    // the file had the change time `changed`, unless it has those already; without such an entry
    // nothing changes. Saved with the next save unless that save merges a file another process
    // wrote since.
    void addTags(std::string_view key, Tags tags, ChangeTime changed);
    [[nodiscard]] bool has(const std::filesystem::path& location) const;

    [[nodiscard]] std::optional<UserOverride> getOverride(const std::filesystem::path& location) const;
    // Only for a file that has an entry; otherwise nothing changes.
    void setOverride(const std::filesystem::path& location, const UserOverride& override);
    void clearOverride(const std::filesystem::path& location);

    void clear();
    [[nodiscard]] std::size_t count() const;
    // The files that carry a user override, in key order (what clear() would drop with them).
    [[nodiscard]] std::vector<std::filesystem::path> overriddenFiles() const;

    // Cancels the pending save and writes now if anything changed; returns once written.
    // Blocks on the disk: not for the GUI thread.
    void flush();

    [[nodiscard]] bool isDirty() const;
    // Where "Failed to save analysis cache: ..." goes; standard output unless changed.
    // The stream must outlive the cache.
    void reportSaveFailuresTo(std::ostream& stream) noexcept { m_failureStream = &stream; }
    [[nodiscard]] const std::filesystem::path& cacheURL() const noexcept { return m_cacheURL; }

private:
    struct Lifeline;
    struct LoadOnFirstUse { };

    // shared() reads its file when first used rather than when created.
    AnalysisCache(std::filesystem::path cacheFile, std::shared_ptr<Clock> clock, LoadOnFirstUse);
    void ensureLoaded() const;
    void load();
    void replaceOverride(const std::filesystem::path& location, const std::optional<UserOverride>& override);
    void markChangedLocked();
    void scheduleSaveLocked();
    void armTimerLocked(Clock::Instant deadline);
    void onSaveTimer();
    void saveCache();
    // Stores `entry` under `key` in `map` and drops the path's other keys.
    static void store(Map& map, const std::string& key, CachedResult entry);

    const std::filesystem::path m_cacheURL;
    const std::shared_ptr<Clock> m_clock;

    mutable std::once_flag m_loadOnce;
    mutable std::mutex m_mutex; // guards everything below
    Map m_cache;
    // The file as this object last read or wrote it: while it is still that file, m_cache holds
    // everything in it and a save need not read it back.
    std::optional<CacheFile::Identity> m_fileSeen;
    // What changed since the last save began: laid over the file's content when saving.
    Map m_changes;
    bool m_cleared = false; // the file's content counts for nothing at the next save
    // Dirty while the last change is newer than the last snapshot written.
    std::uint64_t m_generation = 0;
    std::uint64_t m_savedGeneration = 0;
    bool m_savePending = false;
    bool m_timerArmed = false;
    Clock::Instant m_saveDeadline {};

    std::mutex m_saveMutex; // one save at a time, so an older snapshot never lands last
    std::shared_ptr<Lifeline> m_lifeline;
    std::atomic<std::ostream*> m_failureStream;
};

} // namespace sondrel::core
