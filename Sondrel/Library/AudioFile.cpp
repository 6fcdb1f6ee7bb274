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
};

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
        // Other formats have no ID3 tag; an AAC file still states its average bitrate.
        attributes.tags = core::ID3Parser::parse(url);
    }
    if (!known)
        known = ::stat(url.c_str(), &info) == 0;
    if (!known)
        return attributes;
    // Only a regular file has a size worth showing.
    if (S_ISREG(info.st_mode))
        attributes.size = static_cast<std::int64_t>(info.st_size);
    attributes.stamp = core::FileStamp { info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
        static_cast<std::int64_t>(info.st_size) };
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
    : m_id(QUuid::createUuid())
{
    std::string name = PathText::lastPathComponent(url);
    m_facts = std::make_shared<const Facts>(Facts { std::move(url), std::move(name), format, fileSize,
        tags.bitrate, tags.artist, tags.album, tags.title, stamp });
}

bool AudioFile::operator==(const AudioFile& other) const noexcept
{
    return m_id == other.m_id && (m_facts == other.m_facts || *m_facts == *other.m_facts)
        && m_status == other.m_status && m_result == other.m_result && m_userOverride == other.m_userOverride;
}

} // namespace sondrel::app
