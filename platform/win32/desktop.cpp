// Desktops through user32.
// May contain: the user32 desktop calls; no program logic.
#include "platform/win32/desktop.h"

#include "platform/win32/windows.h"

namespace {
HDESK deskOf(DeskHandle h) { return reinterpret_cast<HDESK>(h); }
}  // namespace

DeskHandle Win32Desktop::OpenDesktop(const std::string& name, std::uint32_t access) {
    ::SetLastError(0);
    const HDESK desktop = ::OpenDesktopA(name.c_str(), 0, FALSE, access);
    lastError_ = desktop != nullptr ? 0 : static_cast<long>(::GetLastError());
    return reinterpret_cast<DeskHandle>(desktop);
}

bool Win32Desktop::SwitchDesktop(DeskHandle desktop) {
    // Cleared first: a locked workstation refuses without setting a code.
    ::SetLastError(0);
    const BOOL ok = ::SwitchDesktop(deskOf(desktop));
    lastError_ = ok ? 0 : static_cast<long>(::GetLastError());
    return ok != FALSE;
}

bool Win32Desktop::CloseDesktop(DeskHandle desktop) {
    ::SetLastError(0);
    const BOOL ok = ::CloseDesktop(deskOf(desktop));
    lastError_ = ok ? 0 : static_cast<long>(::GetLastError());
    return ok != FALSE;
}

long Win32Desktop::GetLastError() { return lastError_; }
