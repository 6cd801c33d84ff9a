// The Win32 backend of the desktop interface.
// May contain: the declaration of the backend class; the user32 calls live in desktop.cpp.
#pragma once

#include "platform/desktop.h"

/// The desktops of the interactive window station through user32:
/// OpenDesktopA, SwitchDesktop and CloseDesktop as they are. GetLastError() is
/// the system error code right after the last call: 0 after a success, and 0
/// after a switch that the system refused without a reason (a locked
/// workstation), since the code is cleared before each call.
class Win32Desktop : public Desktop {
public:
    DeskHandle OpenDesktop(const std::string& name, std::uint32_t access) override;
    bool SwitchDesktop(DeskHandle desktop) override;
    bool CloseDesktop(DeskHandle desktop) override;
    long GetLastError() override;

private:
    long lastError_ = 0;
};
