// The Win32 test programs keep their standard handles to themselves.
// May contain: that one step, for tests/win32 and the logic suites' Win32 half.
#pragma once

#include "platform/win32/windows.h"

/// Makes the standard handles that processes started from now on receive
/// the NUL device, so that none of them holds CTest's pipes. Wine gives a
/// new process the unix side of its creator's standard handles even when
/// handles are not inherited, and CTest waits until every writer of its
/// pipes has gone: a helper or service left running would make a finished
/// test look like a hang. The program's own output is unaffected: the C
/// runtime keeps the handles it took at start-up.
inline void keepStandardHandlesFromChildren() {
    const HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE) return;
    ::SetStdHandle(STD_INPUT_HANDLE, nul);
    ::SetStdHandle(STD_OUTPUT_HANDLE, nul);
    ::SetStdHandle(STD_ERROR_HANDLE, nul);
}
