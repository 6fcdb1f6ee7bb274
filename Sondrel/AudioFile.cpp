#include "AudioFile.h"

#include "PathText.h"

#include <limits>
#include <system_error>
#include <utility>

namespace sondrel::app {

namespace {

[[nodiscard]] std::int64_t sizeOf(const std::filesystem::path& url) noexcept
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(url, error);
    if (error || size > static_cast<std::uintmax_t>(std::numeric_limits<std::int64_t>::max()))
        return 0;
    return static_cast<std::int64_t>(size);
}

} // namespace

AudioFile::AudioFile(const std::filesystem::path& url)
    : AudioFile(url, core::audioFormatOf(url), sizeOf(url), core::ID3Parser::parse(url))
{
}

AudioFile::AudioFile(std::filesystem::path url, core::AudioFormat format, std::int64_t fileSize,
    const core::ID3Parser::Metadata& tags)
    : m_id(QUuid::createUuid())
{
    std::string name = PathText::lastPathComponent(url);
    m_facts = std::make_shared<const Facts>(Facts { std::move(url), std::move(name), format, fileSize,
        tags.bitrate, tags.artist, tags.album, tags.title });
}

bool AudioFile::operator==(const AudioFile& other) const noexcept
{
    return m_id == other.m_id && (m_facts == other.m_facts || *m_facts == *other.m_facts)
        && m_status == other.m_status && m_result == other.m_result && m_userOverride == other.m_userOverride;
}

} // namespace sondrel::app
