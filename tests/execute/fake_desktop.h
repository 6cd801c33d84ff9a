// A desktop whose state the test sets, counting the handles it hands out.
#pragma once

#include <cerrno>

#include "platform/desktop.h"

class FakeDesktop : public Desktop {
public:
    bool screenSaver = false;   // "screen-saver" opens
    long defaultError = 0;      // "Default" fails with this code when not 0
    bool switchAccepted = true;
    long switchError = 0;       // the code a refused switch leaves
    int opened = 0;
    int closed = 0;
    int switches = 0;

    DeskHandle OpenDesktop(const std::string& name, std::uint32_t) override {
        const bool opens = name == "screen-saver" ? screenSaver : name == "Default" && defaultError == 0;
        last_ = opens ? 0 : (name == "Default" ? defaultError : ENOENT);
        if (!opens) return 0;
        ++opened;
        return static_cast<DeskHandle>(0x40 + opened);
    }
    bool SwitchDesktop(DeskHandle) override {
        ++switches;
        last_ = switchAccepted ? 0 : switchError;
        return switchAccepted;
    }
    bool CloseDesktop(DeskHandle) override {
        ++closed;
        last_ = 0;
        return true;
    }
    long GetLastError() override { return last_; }

private:
    long last_ = 0;
};
