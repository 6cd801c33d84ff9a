// The stand-in's own process on Windows.
// May contain: kernel32/advapi32 calls for this process only; children are
// started through the platform's processes interface.
#include "process_self.h"

#include "platform/host.h"
#include "platform/platform.h"
#include "platform/processes.h"

bool startSleepingChild(Platform& sys, long ms, std::uint32_t& processId) {
    const std::string self = sys.host->ExeFolder() + "\\" + sys.host->ExeBaseName() + ".exe";
    const std::string line = "\"" + self + "\" --sleep " + std::to_string(ms);
    ProcessInformation info;
    if (!sys.processes->CreateProcess(&self, line, false, proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{},
                                      info)) {
        return false;
    }
    // Nobody waits for it: the handles go, the child runs on in the job.
    ScopedProcHandle thread(*sys.processes, info.hThread);
    ScopedProcHandle process(*sys.processes, info.hProcess);
    processId = info.dwProcessId;
    return true;
}

// Below the code that uses the seam: <windows.h> defines several of the
// seam's names (CreateProcess, CREATE_NO_WINDOW) as macros.
#include <windows.h>

std::uint32_t currentProcessId() { return ::GetCurrentProcessId(); }

std::string currentUserId() {
    char name[257] = {};
    DWORD size = sizeof name;
    return ::GetUserNameA(name, &size) ? std::string(name) : std::string("?");
}
