#pragma once

#include "Id3Frame.h"

#include <optional>

namespace sondrel::tags {

// recordingHourMinute ("HHMM"); not written unless both are present.
struct HourMinuteFrame : Id3Frame {
    HourMinuteFrame() = default;
    HourMinuteFrame(std::optional<int> hours, std::optional<int> minutes)
        : hour(hours)
        , minute(minutes)
    {
    }

    std::optional<int> hour;
    std::optional<int> minute;
};

} // namespace sondrel::tags
