// The clock interface: local time and sleeping.
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <cstdint>
#include <string>

#include "base/local_time.h"

class Clock {
public:
    virtual ~Clock() = default;
    /// The current local date and time.
    virtual LocalTime now() = 0;
    /// Blocks the calling thread for `milliseconds` (kernel32 Sleep).
    virtual void sleepMs(std::uint32_t milliseconds) = 0;
    /// Milliseconds since the machine started, on a clock that is never
    /// stepped (posix CLOCK_BOOTTIME, Win32 GetTickCount64) and that every
    /// process of the machine shares: a deadline on it holds whatever is done
    /// to the wall clock. It keeps counting while the machine sleeps.
    virtual std::int64_t bootMs() = 0;
    /// Names the machine's current boot, so that a bootMs time written by one
    /// process can be told from one written before the last restart: posix
    /// the kernel's boot id. Win32 offers no such name without the wall clock
    /// (which may be stepped), so it answers ""; a reader then knows a time of
    /// another boot only when it lies ahead of its own bootMs.
    virtual std::string bootId() = 0;
};
