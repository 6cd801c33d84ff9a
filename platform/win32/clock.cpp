// The system clock in local time.
// May contain: kernel32 time and sleep calls only.
#include "platform/win32/clock.h"

#include <windows.h>

LocalTime Win32Clock::now() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void Win32Clock::sleepMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }
