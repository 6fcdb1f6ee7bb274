#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace sondrel::fixtures {

// Copies the audio of `source` (an M4A) into `target` with `jpeg` (width x height pixels) as its
// cover art (an attached-picture stream, stored as the covr atom; the muxer wants the size). Returns an empty string on success,
// otherwise a message; a partly written target is removed.
[[nodiscard]] std::string writeWithCoverArt(const std::filesystem::path& source,
    const std::filesystem::path& target, std::span<const std::uint8_t> jpeg, int width, int height) noexcept;

} // namespace sondrel::fixtures
