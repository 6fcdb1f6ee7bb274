#include "AudioFile.h"

#include "FileDescriptor.h"
#include "FileName.h"
#include "PathText.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

namespace sondrel::app {

namespace {

struct Attributes {
    std::int64_t size = 0;
    std::optional<core::FileStamp> stamp;
    core::ID3Parser::Metadata tags;
    // Taken before the tags were read: a later change moves it past this.
    std::optional<core::ChangeTime> changed;
};

// One shared set of no tags for every file without any.
const core::AnalysisCache::Tags& noTags()
{
    static const core::AnalysisCache::Tags none = std::make_shared<const core::ID3Parser::Metadata>();
    return none;
}

[[nodiscard]] core::AnalysisCache::Tags shared(const core::ID3Parser::Metadata& tags)
{
    return tags == core::ID3Parser::Metadata::empty ? noTags()
                                                    : std::make_shared<const core::ID3Parser::Metadata>(tags);
}

[[nodiscard]] std::int64_t sizeOf(const struct stat& info)
{
    // Only a regular file has a size worth showing.
    return S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : 0;
}

[[nodiscard]] core::FileStamp stampOf(const struct stat& info)
{
    return core::FileStamp { info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
        static_cast<std::int64_t>(info.st_size) };
}

[[nodiscard]] core::ChangeTime changeTimeOf(const struct stat& info)
{
    return core::ChangeTime { info.st_ctim.tv_sec, info.st_ctim.tv_nsec };
}

// One open and one fstat give an MP3's tags, size and stamp; other formats need the
// attributes and, for AAC, the claimed bitrate.
[[nodiscard]] Attributes readAttributes(const std::filesystem::path& url)
{
    struct stat info { };
    bool known = false;
    Attributes attributes;
    if (hasMp3Extension(url)) {
        // O_NONBLOCK keeps a FIFO named *.mp3 from blocking the open; regular files ignore it.
        const FileDescriptor file(::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        known = file.valid() && ::fstat(file.get(), &info) == 0;
        if (known && S_ISREG(info.st_mode))
            attributes.tags = core::ID3Parser::parseOpenFile(file.get());
    } else {
        known = ::stat(url.c_str(), &info) == 0;
        // Other formats have no ID3 tag; an AAC file still states its average bitrate.
        attributes.tags = core::ID3Parser::parse(url);
    }
    if (!known)
        return attributes;
    attributes.size = sizeOf(info);
    attributes.stamp = stampOf(info);
    attributes.changed = changeTimeOf(info);
    return attributes;
}

} // namespace

AudioFile::AudioFile(const std::filesystem::path& url)
    : AudioFile([&url] {
        Attributes attributes = readAttributes(url);
        return AudioFile(url, core::audioFormatOf(url), attributes.size, attributes.tags, attributes.stamp);
    }())
{
}

AudioFile::AudioFile(std::filesystem::path url, core::AudioFormat format, std::int64_t fileSize,
    const core::ID3Parser::Metadata& tags, std::optional<core::FileStamp> stamp)
    : AudioFile(std::move(url), format, fileSize, shared(tags), stamp)
{
}

AudioFile::AudioFile(std::filesystem::path url, core::AudioFormat format, std::int64_t fileSize,
    core::AnalysisCache::Tags tags, std::optional<core::FileStamp> stamp)
    : m_id(QUuid::createUuid())
{
    std::string name = PathText::lastPathComponent(url);
    m_facts = std::make_shared<const Facts>(Facts {
        std::move(url), std::move(name), format, fileSize, tags ? std::move(tags) : noTags(), stamp });
}

AudioFile::Discovered AudioFile::discover(const std::filesystem::path& url, core::AnalysisCache& cache)
{
    // Only a file the cache knows is examined before it is read: for the others that would be
    // one more system call.
    auto known = cache.entryOfPath(url);
    if (known && known->entry.tags && known->entry.tagsChanged) {
        struct stat info { };
        if (::stat(url.c_str(), &info) == 0 && core::AnalysisCache::cacheKey(url, stampOf(info)) == known->key
            && changeTimeOf(info) == *known->entry.tagsChanged)
            return { AudioFile(url, core::audioFormatOf(url), sizeOf(info), known->entry.tags, stampOf(info)),
                std::move(known->entry) };
    }
    const Attributes attributes = readAttributes(url);
    Discovered found { AudioFile(
                           url, core::audioFormatOf(url), attributes.size, attributes.tags, attributes.stamp),
        std::nullopt };
    if (!known || !attributes.stamp || !attributes.changed)
        return found;
    const auto key = core::AnalysisCache::cacheKey(url, *attributes.stamp);
    found.entry = key ? cache.entryForKey(*key) : std::nullopt;
    if (found.entry) {
        // Read under the key's attributes: the next listing need not open the file.
        found.entry->tags = found.file.tags();
        found.entry->tagsChanged = attributes.changed;
        cache.addTags(*key, found.entry->tags, *attributes.changed);
    }
    return found;
}

bool AudioFile::Facts::operator==(const Facts& other) const noexcept
{
    return url == other.url && name == other.name && format == other.format && fileSize == other.fileSize
        && (tags == other.tags || *tags == *other.tags) && stamp == other.stamp;
}

bool AudioFile::operator==(const AudioFile& other) const noexcept
{
    return m_id == other.m_id && (m_facts == other.m_facts || *m_facts == *other.m_facts)
        && m_status == other.m_status && m_result == other.m_result && m_userOverride == other.m_userOverride;
}

} // namespace sondrel::app
