#pragma once

#include "Id3Frame.h"

#include <cstdint>
#include <optional>

namespace sondrel::tags {

// beatsPerMinute, lengthInMilliseconds, sizeInBytes, movementIndex, movementCount. A frame without
// a value is not written.
struct IntegerFrame : Id3Frame {
    IntegerFrame() = default;
    explicit IntegerFrame(std::optional<std::int64_t> number)
        : value(number)
    {
    }

    std::optional<std::int64_t> value;
};

} // namespace sondrel::tags
