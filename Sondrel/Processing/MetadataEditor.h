#pragma once

#include "Result.h"
#include "TagEditor.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace sondrel::app {

// The one failure of the editor's own; a failed read starts from a new tag, and a failed write
// passes the tag module's error on.
enum class MetadataError { unsupportedFormat };

[[nodiscard]] std::string_view description(MetadataError error) noexcept;

// Records a detected bitrate in an MP3 file's own tags as an English comment
// ("Sondrel Quality Check": "Detected bitrate: N kbps"), replacing an earlier one of that
// description; other comments and every other frame stay.
// A mutex-guarded serialised service: calls never overlap, so two writes into one file cannot
// interleave. Blocks on the disk: not for the GUI thread.
class MetadataEditor {
public:
    static constexpr std::string_view kCommentDescription = "Sondrel Quality Check";

    // Whether the file's name ends in ".mp3", in any letter case: the only files with ID3v2 tags.
    [[nodiscard]] static bool supports(const std::filesystem::path& location);

    // Only ".mp3" files, in any letter case: others fail with unsupportedFormat unopened. A file
    // without a readable tag gets a new ID3v2.3 tag; otherwise the tag keeps its version and its
    // other frames. A failed write leaves the file as it was and passes the tag module's error on.
    [[nodiscard]] Status updateBitrate(const std::filesystem::path& location, std::int64_t kbps);

private:
    std::mutex m_mutex;
    tags::TagEditor m_editor;
};

} // namespace sondrel::app
