#pragma once

#include "Id3Frame.h"

#include <optional>

namespace sondrel::tags {

// recordingDateTime (ID3v2.4 only). Written as whole seconds since 1970-01-01T00:00:00Z, the
// fields taken as a Gregorian date and time in GMT (out-of-range fields carry over, as 13/2020
// is 1/2021); not written unless all five are present.
struct DateTimeFrame : Id3Frame {
    std::optional<int> year;
    std::optional<int> month;
    std::optional<int> day;
    std::optional<int> hour;
    std::optional<int> minute;
};

} // namespace sondrel::tags
