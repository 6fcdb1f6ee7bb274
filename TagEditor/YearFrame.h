#pragma once

#include "Id3Frame.h"

#include <optional>

namespace sondrel::tags {

// recordingYear, an integer frame: not written without a year.
struct YearFrame : Id3Frame {
    YearFrame() = default;
    explicit YearFrame(std::optional<int> number)
        : year(number)
    {
    }

    std::optional<int> year;
};

} // namespace sondrel::tags
