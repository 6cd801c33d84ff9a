// The posix backend of the desktop interface: logind's session on seat0
// stands for the interactive desktops.
// May contain: declarations only; the definitions live in desktop.cpp.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/desktop.h"

/// Desktops as logind shows them over the system bus (sd-bus): "Default"
/// opens while seat0 has an active session, "screen-saver" only while that
/// session is idle (IdleHint); SwitchDesktop is refused with code 0 while the
/// session is locked (LockedHint). Where no system bus is reachable, or the
/// program was built without libsystemd, nothing opens and GetLastError() is the
/// errno of the failure (ENOENT for a missing bus or session). Other names
/// fail with ENOENT.
class PosixDesktop : public Desktop {
public:
    PosixDesktop();
    ~PosixDesktop() override;
    PosixDesktop(const PosixDesktop&) = delete;
    PosixDesktop& operator=(const PosixDesktop&) = delete;

    DeskHandle OpenDesktop(const std::string& name, std::uint32_t access) override;
    bool SwitchDesktop(DeskHandle desktop) override;
    bool CloseDesktop(DeskHandle desktop) override;
    long GetLastError() override;

private:
    struct Session;
    std::map<DeskHandle, std::unique_ptr<Session>> open_;
    DeskHandle next_ = 0x20;
    long lastError_ = 0;
};
