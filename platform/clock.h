// The clock interface: local time and sleeping.
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

class Clock {
public:
    virtual ~Clock() = default;
    /// The current local date and time.
    virtual LocalTime now() = 0;
    /// Blocks the calling thread for `milliseconds` (kernel32 Sleep).
    virtual void sleepMs(std::uint32_t milliseconds) = 0;
    /// Milliseconds since 1970-01-01 00:00 UTC. Unlike local time it neither
    /// jumps with daylight saving nor differs between processes, so one
    /// process can set a deadline that another one checks.
    virtual std::int64_t utcMs() = 0;
};
