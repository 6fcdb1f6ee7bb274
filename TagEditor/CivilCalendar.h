#pragma once

#include <cstdint>

namespace sondrel::tags {

// Days since 1970-01-01 in the proleptic Gregorian calendar and back, for any 64-bit count (the
// well-known era-based algorithm). month is 1 to 12.
struct CivilDate {
    std::int64_t year = 1970;
    int month = 1;
    int day = 1;
};

[[nodiscard]] constexpr std::int64_t daysFromCivil(std::int64_t year, int month, int day) noexcept
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

[[nodiscard]] constexpr CivilDate civilFromDays(std::int64_t days) noexcept
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const auto month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return { yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day };
}

} // namespace sondrel::tags
