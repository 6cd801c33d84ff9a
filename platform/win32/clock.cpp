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

std::int64_t Win32Clock::bootMs() { return static_cast<std::int64_t>(::GetTickCount64()); }

std::string Win32Clock::bootId() { return ""; }
