#pragma once

// Builds ID3v2.4 tags by hand for the one layout FFmpeg's mp3 muxer cannot produce: the picture
// ahead of the text frames. Private to the fixtures library.

#include "AudioIo.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sondrel::fixtures::detail {

// Frames in this order: APIC (image/jpeg, front cover), COMM (eng), TIT2, TPE1, TALB; empty
// fields are skipped. No padding, no unsynchronisation.
[[nodiscard]] std::vector<std::uint8_t> buildId3v24Tag(const Id3Tags& tags);

// Rewrites the file as prefix + old contents. Returns an empty string on success.
[[nodiscard]] std::string prependToFile(
    const std::filesystem::path& path, const std::vector<std::uint8_t>& prefix);

} // namespace sondrel::fixtures::detail
