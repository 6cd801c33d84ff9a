// Processes through kernel32, advapi32 and userenv.
// May contain: those calls and job objects; no program logic.
#include "platform/win32/processes.h"

#include "platform/win32/windows.h"
#include <userenv.h>

#include <cstring>
#include <vector>

namespace {

HANDLE handleOf(ProcHandle h) { return reinterpret_cast<HANDLE>(h); }
ProcHandle procOf(HANDLE h) { return reinterpret_cast<ProcHandle>(h); }

// Room for one empty variable list in either form: two wide NULs.
const char kEmptyEnvironment[4] = {0, 0, 0, 0};

void fillEntry(const PROCESSENTRY32& raw, ProcessEntry& entry) {
    entry.th32ProcessID = raw.th32ProcessID;
    const void* nul = std::memchr(raw.szExeFile, 0, sizeof raw.szExeFile);
    const std::size_t length = nul != nullptr ? static_cast<const char*>(nul) - raw.szExeFile + 1
                                              : sizeof raw.szExeFile;
    entry.szExeFile.assign(raw.szExeFile, length);
}

// When a process was created, as one number; 0 when it cannot be read.
ULONGLONG creationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Stops every thread of a process at once, so it starts nothing more while
// the walk looks for its children. Through ntdll, which kernel32 does not
// wrap; false where it is missing or refused.
bool suspendProcess(HANDLE process) {
    using Suspend = LONG(WINAPI*)(HANDLE);
    static const auto suspend = reinterpret_cast<Suspend>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtSuspendProcess")));
    return suspend != nullptr && suspend(process) >= 0;
}

// Processes still in a job, once the job has had a bounded time to empty.
DWORD jobSurvivors(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    const ULONGLONG deadline = ::GetTickCount64() + 5000;
    for (;;) {
        if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)) {
            return 0;  // nothing known: the job itself was ended
        }
        if (info.ActiveProcesses == 0 || ::GetTickCount64() >= deadline) return info.ActiveProcesses;
        ::Sleep(10);
    }
}

}  // namespace

Win32Processes::~Win32Processes() = default;

bool Win32Processes::fail() { return fail(::GetLastError()); }

bool Win32Processes::fail(unsigned long code) {
    lastError_ = static_cast<long>(code);
    return false;
}

long Win32Processes::GetLastError() { return lastError_; }

ProcHandle Win32Processes::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(flags, processId);
    if (snapshot == INVALID_HANDLE_VALUE) {
        fail();
        return 0;
    }
    return procOf(snapshot);
}

bool Win32Processes::Process32First(ProcHandle snapshot, ProcessEntry& entry) {
    PROCESSENTRY32 raw{};
    raw.dwSize = sizeof raw;
    if (!::Process32First(handleOf(snapshot), &raw)) return fail();
    fillEntry(raw, entry);
    return true;
}

bool Win32Processes::Process32Next(ProcHandle snapshot, ProcessEntry& entry) {
    PROCESSENTRY32 raw{};
    raw.dwSize = sizeof raw;
    if (!::Process32Next(handleOf(snapshot), &raw)) return fail();
    fillEntry(raw, entry);
    return true;
}

ProcHandle Win32Processes::OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) {
    const HANDLE process = ::OpenProcess(access, inheritHandle ? TRUE : FALSE, processId);
    if (process == nullptr) fail();
    return procOf(process);
}

bool Win32Processes::OpenProcessToken(ProcHandle process, std::uint32_t access, ProcHandle& token) {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(handleOf(process), access, &opened)) return fail();
    token = procOf(opened);
    return true;
}

bool Win32Processes::ImpersonateLoggedOnUser(ProcHandle token) {
    return ::ImpersonateLoggedOnUser(handleOf(token)) ? true : fail();
}

bool Win32Processes::RevertToSelf() { return ::RevertToSelf() ? true : fail(); }

bool Win32Processes::CreateEnvironmentBlock(EnvBlock& block, ProcHandle token, bool inherit) {
    void* environment = nullptr;
    if (!::CreateEnvironmentBlock(&environment, handleOf(token), inherit ? TRUE : FALSE)) return fail();
    block = reinterpret_cast<EnvBlock>(environment);
    return true;
}

bool Win32Processes::DestroyEnvironmentBlock(EnvBlock block) {
    return ::DestroyEnvironmentBlock(reinterpret_cast<void*>(block)) ? true : fail();
}

EnvBlock Win32Processes::EmptyEnvironmentBlock() { return reinterpret_cast<EnvBlock>(kEmptyEnvironment); }

bool Win32Processes::launch(ProcHandle token, const std::string* applicationName, const std::string& commandLine,
                            bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                            const std::string* currentDirectory, const StartupInfo& startup,
                            ProcessInformation& info) {
    STARTUPINFOA si{};
    // The record's own size on this build, whatever size the caller's
    // description names: the system reads as many bytes as cb says.
    si.cb = sizeof si;
    // The system may write into the desktop name and the command line.
    std::vector<char> desktop(startup.lpDesktop.begin(), startup.lpDesktop.end());
    desktop.push_back('\0');
    if (!startup.lpDesktop.empty()) si.lpDesktop = desktop.data();
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');

    // Suspended until it is in its job, so nothing it starts can escape the job.
    const bool callerSuspends = (flags & CREATE_SUSPENDED) != 0;
    const DWORD creationFlags = flags | CREATE_SUSPENDED;
    PROCESS_INFORMATION pi{};
    const char* application = applicationName != nullptr ? applicationName->c_str() : nullptr;
    const char* directory = currentDirectory != nullptr ? currentDirectory->c_str() : nullptr;
    void* env = reinterpret_cast<void*>(environment);
    BOOL created;
    if (token != 0) {
        created = ::CreateProcessAsUserA(handleOf(token), application, line.data(), nullptr, nullptr,
                                         inheritHandles ? TRUE : FALSE, creationFlags, env, directory, &si, &pi);
    } else {
        created = ::CreateProcessA(application, line.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                                   creationFlags, env, directory, &si, &pi);
    }
    if (!created) return fail();

    Started record;
    record.processId = pi.dwProcessId;
    record.job = Handle(::CreateJobObjectA(nullptr, nullptr));
    if (record.job.valid() && !assignToJob(reinterpret_cast<std::uintptr_t>(record.job.h), procOf(pi.hProcess))) {
        record.job.reset();
    }
    if (!callerSuspends) ::ResumeThread(pi.hThread);

    info.hProcess = procOf(pi.hProcess);
    info.hThread = procOf(pi.hThread);
    info.dwProcessId = pi.dwProcessId;
    info.dwThreadId = pi.dwThreadId;
    started_[info.hProcess] = std::move(record);
    return true;
}

bool Win32Processes::CreateProcessAsUser(ProcHandle token, const std::string* applicationName,
                                         const std::string& commandLine, bool inheritHandles, std::uint32_t flags,
                                         EnvBlock environment, const std::string* currentDirectory,
                                         const StartupInfo& startup, ProcessInformation& info) {
    // A null token would make this a plain creation; the call refuses it instead.
    if (token == 0) return fail(ERROR_INVALID_HANDLE);
    return launch(token, applicationName, commandLine, inheritHandles, flags, environment, currentDirectory, startup,
                  info);
}

bool Win32Processes::CreateProcess(const std::string* applicationName, const std::string& commandLine,
                                   bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                                   const std::string* currentDirectory, const StartupInfo& startup,
                                   ProcessInformation& info) {
    return launch(0, applicationName, commandLine, inheritHandles, flags, environment, currentDirectory, startup,
                  info);
}

std::uint32_t Win32Processes::WaitForSingleObject(ProcHandle process, std::uint32_t milliseconds) {
    const DWORD result = ::WaitForSingleObject(handleOf(process), milliseconds);
    if (result == WAIT_FAILED) fail();
    return result;
}

bool Win32Processes::GetExitCodeProcess(ProcHandle process, std::uint32_t& exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(handleOf(process), &code)) return fail();
    exitCode = code;
    return true;
}

bool Win32Processes::TerminateProcess(ProcHandle process, std::uint32_t exitCode) {
    const HANDLE h = handleOf(process);
    // An ended process cannot be terminated. Windows refuses it with
    // ERROR_ACCESS_DENIED; Wine reports success, so ask first.
    const DWORD state = ::WaitForSingleObject(h, 0);
    if (state == WAIT_OBJECT_0) return fail(ERROR_ACCESS_DENIED);
    if (state == WAIT_FAILED) {
        DWORD code = 0;
        if (!::GetExitCodeProcess(h, &code)) return fail();
        if (code != STILL_ACTIVE) return fail(ERROR_ACCESS_DENIED);
    }
    survivors_ = 0;
    const Started* started = startedOf(process);
    // Outside a job, or where the job cannot be ended: the process and its
    // tree as snapshots show it.
    if (started == nullptr) return ::TerminateProcess(h, exitCode) ? true : fail();
    if (!started->job.valid() || !terminateJob(reinterpret_cast<std::uintptr_t>(started->job.h), exitCode)) {
        return terminateTree(process, started->processId, exitCode);
    }
    survivors_ = jobSurvivors(started->job.h);
    return true;
}

bool Win32Processes::IsTreeContained(ProcHandle process) {
    const Started* started = startedOf(process);
    return started != nullptr && started->job.valid();
}

std::uint32_t Win32Processes::TerminateSurvivors() { return survivors_; }

const Win32Processes::Started* Win32Processes::startedOf(ProcHandle process) const {
    const DWORD processId = ::GetProcessId(handleOf(process));
    if (processId == 0) return nullptr;
    for (const auto& [created, started] : started_) {
        if (started.processId == processId) return &started;
    }
    return nullptr;
}

bool Win32Processes::assignToJob(std::uintptr_t job, ProcHandle process) {
    return ::AssignProcessToJobObject(handleOf(job), handleOf(process)) != FALSE;
}

bool Win32Processes::terminateJob(std::uintptr_t job, std::uint32_t exitCode) {
    return ::TerminateJobObject(handleOf(job), exitCode) != FALSE;
}

bool Win32Processes::terminateTree(ProcHandle root, std::uint32_t rootId, std::uint32_t exitCode) {
    // Each process found is suspended before its children are looked for, so
    // it starts nothing more; rounds repeat until two snapshots in a row show
    // nothing new (a member being suspended may still finish creating a
    // child, which then appears only in a later snapshot); then every member
    // is terminated. A member's children are those
    // whose parent id is the member's: ids are reused, so an id is only taken
    // for a parent that was created before its child, and each member's
    // handle is held to the end, so no member's id (ended or not) can pass to
    // another process meanwhile. A process whose parent had ended before the
    // walk began has an id that no member holds, and is out of its reach.
    struct Member {
        DWORD id;
        Handle handle;  // none for the root, whose handle the caller holds
        ULONGLONG created;
    };
    suspendProcess(handleOf(root));
    std::vector<Member> members;
    members.push_back(Member{rootId, Handle(), creationTime(handleOf(root))});
    const DWORD self = ::GetCurrentProcessId();
    const auto memberOf = [&](DWORD id) {
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (members[i].id == id) return i;
        }
        return members.size();
    };
    const ULONGLONG walkDeadline = ::GetTickCount64() + 10000;
    bool timedOut = false;
    for (int quietRounds = 0; quietRounds < 2;) {
        if (::GetTickCount64() >= walkDeadline) {
            timedOut = true;
            break;
        }
        bool fresh = false;
        const Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.valid()) break;
        std::vector<std::pair<DWORD, DWORD>> entries;  // id, parent id
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32First(snapshot.h, &entry); more; more = ::Process32Next(snapshot.h, &entry)) {
            entries.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
        }
        for (bool grew = true; grew;) {
            grew = false;
            for (const auto& [id, parentId] : entries) {
                const std::size_t parent = memberOf(parentId);
                if (parent == members.size() || memberOf(id) != members.size() || id == parentId) continue;
                // Ids pass quickly to new processes: whatever the walk finds,
                // this program never ends itself.
                if (id == self) continue;
                Handle child(::OpenProcess(
                    PROCESS_TERMINATE | PROCESS_SUSPEND_RESUME | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                    FALSE, id));
                if (!child.valid()) continue;
                const ULONGLONG created = creationTime(child.h);
                if (created == 0 || created < members[parent].created) continue;
                // Where it cannot be suspended it is ended at once instead.
                if (!suspendProcess(child.h)) ::TerminateProcess(child.h, exitCode);
                members.push_back(Member{id, std::move(child), created});
                grew = fresh = true;
            }
        }
        quietRounds = fresh ? 0 : quietRounds + 1;
        if (!fresh) ::Sleep(1);
    }

    const bool rootEnded = ::TerminateProcess(handleOf(root), exitCode) != FALSE;
    const DWORD rootError = ::GetLastError();
    for (const Member& member : members) {
        if (member.handle.valid()) ::TerminateProcess(member.handle.h, exitCode);
    }
    const ULONGLONG deadline = ::GetTickCount64() + 5000;
    DWORD alive = 0;
    for (const Member& member : members) {
        const HANDLE h = member.handle.valid() ? member.handle.h : handleOf(root);
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(h, left) != WAIT_OBJECT_0) ++alive;
    }
    // A walk that ran out of time cannot say the tree has ended: at least one
    // process it never saw may still run.
    survivors_ = alive == 0 && timedOut ? 1 : alive;
    return rootEnded ? true : fail(rootError);
}

bool Win32Processes::CloseHandle(ProcHandle handle) {
    const auto it = started_.find(handle);
    if (it != started_.end()) started_.erase(it);
    return ::CloseHandle(handleOf(handle)) ? true : fail();
}
