#pragma once

#include "AnalysisCache.h"
#include "AnalysisModel.h"
#include "FileStamp.h"
#include "ID3Parser.h"
#include "ScanStatus.h"

#include <QUuid>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace sondrel::app {

// The record of one audio file of the library: a plain value, copied freely between threads.
// Its identity is id(), a random UUID given when the record is built and never reused; == compares
// every field. Only the scan state, the result and the override change; a file that gets a new
// location gets a new record.
class AudioFile {
public:
    // Reads the file's size and stamp and, through ID3Parser, its tags and claimed bitrate, with
    // one read of its attributes; blocks on the disk. Never fails: unreadable attributes give
    // size 0, unreadable tags none, and an unknown extension counts as mp3. Not on the GUI thread.
    explicit AudioFile(const std::filesystem::path& url);

    // A record from facts already known; touches no disk.
    AudioFile(std::filesystem::path url, core::AudioFormat format, std::int64_t fileSize,
        const core::ID3Parser::Metadata& tags, std::optional<core::FileStamp> stamp = std::nullopt);
    AudioFile(std::filesystem::path url, core::AudioFormat format, std::int64_t fileSize,
        core::AnalysisCache::Tags tags, std::optional<core::FileStamp> stamp);

    // A record and the cache's entry for the file as it is now, if there is one.
    struct Discovered;
    // Like AudioFile(url), but a file whose entry in `cache` matches its path, modification time
    // and size and holds its tags is only examined, not opened: the tags are the entry's. A file
    // that is opened and has a matching entry without tags gives the entry its tags. Blocks on
    // the disk; not on the GUI thread.
    [[nodiscard]] static Discovered discover(const std::filesystem::path& url, core::AnalysisCache& cache);

    [[nodiscard]] const QUuid& id() const noexcept { return m_id; }
    // Exactly as given: no symbolic-link resolution, no normalisation.
    [[nodiscard]] const std::filesystem::path& url() const noexcept { return m_facts->url; }
    // The last path component as valid UTF-8 (undecodable bytes shown as U+FFFD).
    [[nodiscard]] const std::string& name() const noexcept { return m_facts->name; }
    [[nodiscard]] core::AudioFormat format() const noexcept { return m_facts->format; }
    [[nodiscard]] std::int64_t fileSize() const noexcept { return m_facts->fileSize; }
    // kbps, as the tags or frame headers claim.
    [[nodiscard]] const std::optional<std::int64_t>& claimedBitrate() const noexcept
    {
        return m_facts->tags->bitrate;
    }
    [[nodiscard]] const std::optional<std::string>& artist() const noexcept { return m_facts->tags->artist; }
    [[nodiscard]] const std::optional<std::string>& album() const noexcept { return m_facts->tags->album; }
    [[nodiscard]] const std::optional<std::string>& title() const noexcept { return m_facts->tags->title; }
    // Title, artist, album and claimed bitrate together, shared with the cache entry they
    // came from or went to; never null.
    [[nodiscard]] const core::AnalysisCache::Tags& tags() const noexcept { return m_facts->tags; }
    // Modification time and size when the record was built, read with the size and tags (links
    // followed); none when the attributes could not be read. With the path they make the
    // file's cache key.
    [[nodiscard]] const std::optional<core::FileStamp>& stamp() const noexcept { return m_facts->stamp; }

    [[nodiscard]] const ScanStatus& status() const noexcept { return m_status; }
    [[nodiscard]] const std::optional<core::AnalysisResult>& result() const noexcept { return m_result; }
    [[nodiscard]] const std::optional<core::UserOverride>& userOverride() const noexcept
    {
        return m_userOverride;
    }

    void setStatus(ScanStatus status) noexcept { m_status = std::move(status); }
    void setResult(std::optional<core::AnalysisResult> result) noexcept { m_result = result; }
    void setUserOverride(std::optional<core::UserOverride> userOverride) noexcept
    {
        m_userOverride = userOverride;
    }

    // Every field, the facts by value.
    [[nodiscard]] bool operator==(const AudioFile& other) const noexcept;

private:
    // What the file was when the record was built; never changes, so the store's record and
    // the views' copies share one, and copying a record allocates nothing.
    struct Facts {
        std::filesystem::path url;
        std::string name;
        core::AudioFormat format;
        std::int64_t fileSize;
        // Shared, not copied: a large library's cache holds the same tags.
        core::AnalysisCache::Tags tags;
        std::optional<core::FileStamp> stamp;

        bool operator==(const Facts& other) const noexcept;
    };

    QUuid m_id;
    std::shared_ptr<const Facts> m_facts;
    ScanStatus m_status;
    std::optional<core::AnalysisResult> m_result;
    std::optional<core::UserOverride> m_userOverride;
};

struct AudioFile::Discovered {
    AudioFile file;
    std::optional<core::AnalysisCache::CachedResult> entry;
};

} // namespace sondrel::app
