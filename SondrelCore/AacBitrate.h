#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace sondrel::core {

// The average bitrate an AAC file claims, in kbps (rounded), without decoding. An M4A file:
// its sound track's stated average (the `esds` descriptor), else the track's bytes × 8 over its
// duration. A raw ADTS stream (.aac): its frames' bytes × 8 over their duration. None when the
// file cannot be read or holds no such stream. Never throws.
[[nodiscard]] std::optional<std::int64_t> claimedAacBitrate(const std::filesystem::path& path) noexcept;

} // namespace sondrel::core
