#pragma once

#include "Id3Frame.h"

#include <optional>

namespace sondrel::tags {

// recordingDayMonth ("DDMM"); not written unless both are present.
struct DayMonthFrame : Id3Frame {
    DayMonthFrame() = default;
    DayMonthFrame(std::optional<int> dayOfMonth, std::optional<int> monthOfYear)
        : day(dayOfMonth)
        , month(monthOfYear)
    {
    }

    std::optional<int> day;
    std::optional<int> month;
};

} // namespace sondrel::tags
