#pragma once

#include "Id3Version.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sondrel::tags {

// A frame that was read but not parsed into a modelled kind (TXXX, GEOB, PRIV, POPM, a GIF
// picture, a compressed frame, ...), kept exactly as it stood so that a rewrite carries it over.
struct PreservedFrame {
    Id3Version version = Id3Version::version3; // the version of the tag it came from
    std::string identifier; // 3 characters in version 2.2, else 4
    std::array<std::uint8_t, 2> flags {}; // both 0 in version 2.2, which has none
    std::vector<std::uint8_t> body; // every byte after the frame header

    bool operator==(const PreservedFrame&) const = default;
};

} // namespace sondrel::tags
