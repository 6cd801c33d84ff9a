// The posix backend of the clock, over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in clock.cpp.
#pragma once

#include <string>

#include "platform/clock.h"

/// The system clock in local time (clock.cpp).
class PosixClock : public Clock {
public:
    LocalTime now() override;
    void sleepMs(std::uint32_t milliseconds) override;
    std::int64_t bootMs() override;
    /// /proc/sys/kernel/random/boot_id; "" where it cannot be read.
    std::string bootId() override;
};
