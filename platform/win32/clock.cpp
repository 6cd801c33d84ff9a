// The system clock in local time.
// May contain: kernel32 time and sleep calls only.
#include "platform/win32/clock.h"

#include "platform/win32/windows.h"

LocalTime Win32Clock::now() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void Win32Clock::sleepMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::int64_t Win32Clock::utcMs() {
    FILETIME ft{};
    ::GetSystemTimeAsFileTime(&ft);
    const std::int64_t ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                                         ft.dwLowDateTime);
    // FILETIME counts 100 ns ticks from 1601-01-01.
    constexpr std::int64_t kTicksTo1970 = 116444736000000000LL;
    return (ticks - kTicksTo1970) / 10000;
}

std::int64_t Win32Clock::bootMs() { return static_cast<std::int64_t>(::GetTickCount64()); }

std::string Win32Clock::bootId() { return ""; }
