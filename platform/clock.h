// The clock interface: local time and sleeping.
#pragma once

#include <cstdint>

#include "base/local_time.h"

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
