#include "MetadataEditor.h"

#include "FileName.h"
#include "LocalizedTextFrame.h"

#include <memory>

namespace sondrel::app {

std::string_view description(MetadataError error) noexcept
{
    switch (error) {
    case MetadataError::unsupportedFormat:
        return "Only MP3 files support metadata editing. FLAC and other formats use different tag systems.";
    }
    return "Only MP3 files support metadata editing. FLAC and other formats use different tag systems.";
}

bool MetadataEditor::supports(const std::filesystem::path& location)
{
    return hasMp3Extension(location);
}

Status MetadataEditor::updateBitrate(const std::filesystem::path& location, std::int64_t kbps)
{
    if (!supports(location))
        return Error { std::string(description(MetadataError::unsupportedFormat)) };

    std::lock_guard lock(m_mutex);
    const auto english = tags::FrameLanguage::eng;
    // One parse of the file: a damaged tag fails the update and is never overwritten; a file
    // without a tag gets a new one.
    auto written = m_editor.update(location, [kbps, english](tags::Id3Tag& tag) {
        // Our comment is the English one with our description; every other comment stays.
        tag.frames[tags::FrameName::comment(english, std::string(kCommentDescription))]
            = std::make_shared<tags::LocalizedTextFrame>(english, std::string(kCommentDescription),
                "Detected bitrate: " + std::to_string(kbps) + " kbps");
    });
    if (!written)
        return Error { written.error().description() };
    return Ok {};
}

} // namespace sondrel::app
