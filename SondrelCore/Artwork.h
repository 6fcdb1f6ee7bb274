#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace sondrel::core {

// The encoded bytes (JPEG, PNG, ...) of a file's first embedded picture: the first stream that
// FFmpeg marks as an attached picture (ID3 APIC, MP4 cover art, FLAC PICTURE). None when the
// file has no picture, cannot be opened, or is not a regular file (a FIFO or a device would
// block or never end). Reads the disk: not for the GUI thread. Thread-safe.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> readAttachedPicture(const std::filesystem::path& path);

} // namespace sondrel::core
