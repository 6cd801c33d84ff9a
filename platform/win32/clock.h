// The Win32 backend of the clock.
// May contain: the declaration of the backend class; the kernel32 calls live in clock.cpp.
#pragma once

#include "platform/clock.h"

/// The local time of GetLocalTime, kernel32's Sleep, the UTC time of
/// GetSystemTimeAsFileTime, and GetTickCount64 as the boot clock.
class Win32Clock : public Clock {
public:
    LocalTime now() override;
    void sleepMs(std::uint32_t milliseconds) override;
    std::int64_t bootMs() override;
    std::string bootId() override;
};
