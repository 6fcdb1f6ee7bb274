#pragma once

#include "Id3Version.h"

#include <cstdint>

namespace sondrel::tags {

struct Id3TagProperties {
    // Every byte after the 10-byte tag header: as read, or as last written.
    std::uint32_t size = 0;
    Id3Version version = Id3Version::version3;

    bool operator==(const Id3TagProperties&) const = default;
};

} // namespace sondrel::tags
