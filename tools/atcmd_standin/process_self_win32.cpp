// The stand-in's own process on Windows.
// May contain: kernel32/advapi32 calls for this process only; children are
// started through the platform's processes interface.
#include "process_self.h"

#include "base/command_line.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "platform/processes.h"
#include "platform/win32/locks.h"
#include "platform/win32/windows.h"

#include <cstdio>

std::string argumentText(const char* argument) { return argument; }

namespace {

// Starts the stand-in again with `mode` and `ms`; its id goes to `processId`
// and its process handle, when wanted, to `process` (else it is closed).
bool startSelf(Platform& sys, const char* mode, long ms, std::uint32_t& processId, ProcHandle* process) {
    const std::string self = sys.host->ExeFolder() + "\\" + sys.host->ExeBaseName() + ".exe";
    const std::string line = wincmd::commandLineProgram(self) + " " + mode + " " + std::to_string(ms);
    ProcessInformation info;
    if (!sys.processes->CreateProcess(&self, line, false, proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{},
                                      info)) {
        return false;
    }
    ScopedProcHandle thread(*sys.processes, info.hThread);
    processId = info.dwProcessId;
    if (process != nullptr) {
        *process = info.hProcess;
    } else {
        // Nobody waits for it: the handles go, the child runs on in the job.
        sys.processes->CloseHandle(info.hProcess);
    }
    return true;
}

}  // namespace

bool startSleepingChild(Platform& sys, long ms, bool, std::uint32_t& processId) {
    // Windows has no polite request to end that a sleeping program could ignore.
    return startSelf(sys, "--sleep", ms, processId, nullptr);
}

bool startDetachedChild(Platform& sys, long ms, std::uint32_t& processId) {
    std::uint32_t middleId = 0;
    ProcHandle raw = 0;
    if (!startSelf(sys, "--detach", ms, middleId, &raw)) return false;
    ScopedProcHandle middle(*sys.processes, raw);
    std::uint32_t code = 0;
    if (sys.processes->WaitForSingleObject(middle.get(), 30000) != proc::WAIT_OBJECT_0 ||
        !sys.processes->GetExitCodeProcess(middle.get(), code) || code == 0) {
        return false;
    }
    processId = code;
    return true;
}

std::uint32_t currentProcessId() { return ::GetCurrentProcessId(); }

std::string currentUserId() {
    char name[257] = {};
    DWORD size = sizeof name;
    return ::GetUserNameA(name, &size) ? std::string(name) : std::string("?");
}

bool startHopper(long, long, std::uint32_t&) { return false; }

bool squatJobLockName(const std::string& lockFile, long ms) {
    const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, win32::jobMutexName(lockFile).c_str());
    if (event == nullptr) return false;
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(ms));
    ::CloseHandle(event);
    return true;
}
