// The desktop interface, shaped like the user32 calls the lock test makes.
// May contain: the interface, its constants and an RAII holder; no system calls.
#pragma once

#include <cstdint>
#include <string>

using DeskHandle = std::uintptr_t;

namespace desk {
inline constexpr std::uint32_t DESKTOP_ENUMERATE = 0x40;
inline constexpr std::uint32_t DESKTOP_SWITCHDESKTOP = 0x100;
}  // namespace desk

class Desktop {
public:
    virtual ~Desktop() = default;
    /// OpenDesktopA(name, 0, false, access): a handle on the named desktop of
    /// the interactive window station, or 0 (the reason in GetLastError()).
    /// Posix: logind's session on seat0 stands for the desktops; "Default"
    /// opens while such a session exists, "screen-saver" only while it is
    /// idle; without a reachable system bus nothing opens.
    virtual DeskHandle OpenDesktop(const std::string& name, std::uint32_t access) = 0;
    /// SwitchDesktop: makes the desktop take the input; false when refused.
    /// A locked workstation refuses without an error code (GetLastError() 0).
    /// Posix: refused with 0 while the session's LockedHint is true.
    virtual bool SwitchDesktop(DeskHandle desktop) = 0;
    /// CloseDesktop.
    virtual bool CloseDesktop(DeskHandle desktop) = 0;
    /// The code the last call left: 0 after a success or a silent refusal;
    /// Windows error codes there, errno values on posix.
    virtual long GetLastError() = 0;
};

/// Owns a desktop handle and closes it on every way out.
class ScopedDesktop {
public:
    explicit ScopedDesktop(Desktop& sys, DeskHandle handle = 0) : sys_(&sys), handle_(handle) {}
    ~ScopedDesktop() { reset(); }
    ScopedDesktop(const ScopedDesktop&) = delete;
    ScopedDesktop& operator=(const ScopedDesktop&) = delete;

    DeskHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    void reset(DeskHandle next = 0) {
        if (handle_ != 0) sys_->CloseDesktop(handle_);
        handle_ = next;
    }

private:
    Desktop* sys_;
    DeskHandle handle_;
};
