// A local date and time as the program's procedures see it: a plain value that
// the clock gives and the date pictures format.
// May contain: plain types only; nothing of the project, no system calls.
#pragma once

#include <cstdint>

/// A local date and time, to the millisecond where the clock knows it.
struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int millisecond = 0;  // 0-999; file dates and fake clocks leave it 0

    /// Days since 1970-01-01 of the date alone, for calendar-day differences.
    std::int64_t dayNumber() const {
        // Howard Hinnant's days_from_civil.
        const int y = year - (month <= 2 ? 1 : 0);
        const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
        const unsigned yoe = static_cast<unsigned>(y - era * 400);
        const unsigned mp = static_cast<unsigned>(month + (month > 2 ? -3 : 9));
        const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(day) - 1;
        const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    }
    bool operator==(const LocalTime&) const = default;
};
