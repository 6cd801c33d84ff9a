// The Win32 backend of the processes interface.
// May contain: the declaration of the backend class; the kernel32, advapi32
// and userenv calls live in processes.cpp.
#pragma once

#include <cstdint>
#include <map>

#include "platform/processes.h"
#include "platform/win32/handle.h"

/// The Windows calls themselves; handles are the system's handles, and
/// GetLastError() is the system error code of the last call of this object
/// that failed (later successful calls leave it).
///
/// Beyond the plain calls:
/// - CreateToolhelp32Snapshot answers 0, not INVALID_HANDLE_VALUE, on failure;
/// - every process created here starts suspended, joins a job object of its
///   own, and only then runs (unless the caller asked for CREATE_SUSPENDED,
///   then it stays suspended); TerminateProcess of such a process ends the
///   whole job, so the programs it started end with it. Where the process
///   cannot join the job (a runner started in the user's session while this
///   program runs in session 0, or an older Windows without nested jobs),
///   TerminateProcess ends its tree found by the parent ids of process
///   snapshots, suspending each process as it is found and terminating all
///   once a snapshot shows nothing new; so it does where ending the job
///   fails. The job lives until the process handle that creation returned
///   is closed;
/// - TerminateProcess fails with ERROR_ACCESS_DENIED when the process has
///   already ended, as Windows does (Wine would report success);
/// - EmptyEnvironmentBlock is a static block of NULs, good for both the ANSI
///   and the Unicode form.
class Win32Processes : public Processes {
public:
    Win32Processes() = default;
    ~Win32Processes() override;
    Win32Processes(const Win32Processes&) = delete;
    Win32Processes& operator=(const Win32Processes&) = delete;

    ProcHandle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool Process32First(ProcHandle snapshot, ProcessEntry& entry) override;
    bool Process32Next(ProcHandle snapshot, ProcessEntry& entry) override;
    ProcHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) override;
    bool OpenProcessToken(ProcHandle process, std::uint32_t access, ProcHandle& token) override;
    bool ImpersonateLoggedOnUser(ProcHandle token) override;
    bool RevertToSelf() override;
    bool CreateEnvironmentBlock(EnvBlock& block, ProcHandle token, bool inherit) override;
    bool DestroyEnvironmentBlock(EnvBlock block) override;
    EnvBlock EmptyEnvironmentBlock() override;
    bool CreateProcessAsUser(ProcHandle token, const std::string* applicationName, const std::string& commandLine,
                             bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                             const std::string* currentDirectory, const StartupInfo& startup,
                             ProcessInformation& info) override;
    bool CreateProcess(const std::string* applicationName, const std::string& commandLine, bool inheritHandles,
                       std::uint32_t flags, EnvBlock environment, const std::string* currentDirectory,
                       const StartupInfo& startup, ProcessInformation& info) override;
    std::uint32_t WaitForSingleObject(ProcHandle process, std::uint32_t milliseconds) override;
    bool GetExitCodeProcess(ProcHandle process, std::uint32_t& exitCode) override;
    bool TerminateProcess(ProcHandle process, std::uint32_t exitCode) override;
    bool IsTreeContained(ProcHandle process) override;
    std::uint32_t TerminateSurvivors() override;
    bool CloseHandle(ProcHandle handle) override;
    long GetLastError() override;

protected:
    /// The two job calls (AssignProcessToJobObject, TerminateJobObject),
    /// apart so that a test can make them fail as they fail on Windows.
    virtual bool assignToJob(std::uintptr_t job, ProcHandle process);
    virtual bool terminateJob(std::uintptr_t job, std::uint32_t exitCode);

private:
    struct Started {
        std::uint32_t processId = 0;
        Handle job;  // none when it could not be had
    };

    bool fail();
    bool fail(unsigned long code);
    /// What creation here recorded of the process `process` names; null for
    /// a process not started here.
    const Started* startedOf(ProcHandle process) const;
    bool terminateTree(ProcHandle root, std::uint32_t rootId, std::uint32_t exitCode);
    bool launch(ProcHandle token, const std::string* applicationName, const std::string& commandLine,
                bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                const std::string* currentDirectory, const StartupInfo& startup, ProcessInformation& info);

    /// Processes created here, by the process handle creation returned.
    std::map<ProcHandle, Started> started_;
    long lastError_ = 0;
    std::uint32_t survivors_ = 0;
};
