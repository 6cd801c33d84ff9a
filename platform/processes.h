// The processes interface, shaped like the kernel32/advapi32/userenv calls
// the launcher makes: snapshots, process and token handles, impersonation,
// environment blocks, process creation, waiting and termination.
// May contain: the interface, its constants and the RAII holders the logic
// keeps every handle in; no system calls.
//
// Handles are opaque values; 0 is the null handle on every backend (a Win32
// backend turns INVALID_HANDLE_VALUE from CreateToolhelp32Snapshot into 0).
// A failing call leaves its error code for GetLastError(); a call that
// succeeds does not clear it, as most Windows calls behave. The codes are the
// backend's own: Windows error codes there, errno values on posix.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

using ProcHandle = std::uintptr_t;
/// An environment block: the address of the block the backend made.
using EnvBlock = std::uintptr_t;

namespace proc {
inline constexpr std::uint32_t TH32CS_SNAPALL = 15;
inline constexpr std::uint32_t PROCESS_ALL_ACCESS = 0x1F0FFF;
/// Standard required rights plus every token right up to TOKEN_ADJUST_DEFAULT.
inline constexpr std::uint32_t TOKEN_LAUNCH_ACCESS = 0xF00FF;
inline constexpr std::uint32_t CREATE_UNICODE_ENVIRONMENT = 0x400;
inline constexpr std::uint32_t CREATE_NO_WINDOW = 0x08000000;
inline constexpr std::uint32_t STILL_ACTIVE = 259;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFF;
/// Size of the ANSI PROCESSENTRY32 record.
inline constexpr std::uint32_t PROCESSENTRY32_SIZE = 296;
/// The executable name field of a process entry holds at most this many bytes.
inline constexpr std::size_t MAX_PATH = 260;
}  // namespace proc

/// One entry of a process snapshot (PROCESSENTRY32A, the fields the logic uses).
struct ProcessEntry {
    std::uint32_t dwSize = proc::PROCESSENTRY32_SIZE;
    std::uint32_t th32ProcessID = 0;
    /// The executable's file name as the buffer holds it: at most MAX_PATH
    /// bytes, NUL-terminated when the name fits.
    std::string szExeFile;
};

/// The startup description passed to process creation (STARTUPINFOA); every
/// member the launcher does not set is zero.
struct StartupInfo {
    /// Window station and desktop, "winsta0\default"; empty for none.
    std::string lpDesktop;
};

/// What process creation hands back (PROCESS_INFORMATION).
struct ProcessInformation {
    ProcHandle hProcess = 0;
    ProcHandle hThread = 0;
    std::uint32_t dwProcessId = 0;
    std::uint32_t dwThreadId = 0;
};

class Processes {
public:
    virtual ~Processes() = default;

    /// CreateToolhelp32Snapshot: a snapshot of the running processes; 0 on failure.
    virtual ProcHandle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) = 0;
    /// Process32First / Process32Next: fills `entry` and returns true while the
    /// snapshot has entries; false after the last one (or for a bad handle).
    virtual bool Process32First(ProcHandle snapshot, ProcessEntry& entry) = 0;
    virtual bool Process32Next(ProcHandle snapshot, ProcessEntry& entry) = 0;

    /// OpenProcess: a handle on the running process `processId`; 0 when there
    /// is no such process or it may not be opened.
    virtual ProcHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) = 0;
    /// OpenProcessToken: the access token (identity and environment) of a
    /// process into `token`; false and `token` unchanged on failure.
    /// Posix: the uid, gid, supplementary groups and /proc/<pid>/environ.
    virtual bool OpenProcessToken(ProcHandle process, std::uint32_t access, ProcHandle& token) = 0;

    /// ImpersonateLoggedOnUser: the calling thread takes the token's identity.
    /// Posix: the whole process switches its effective ids (setgroups,
    /// setegid, seteuid; the C library applies them to every thread). The
    /// program's logic runs on one thread; the only others are a folder
    /// listing's helpers, started and joined within one listing call, so none
    /// is alive when an impersonation begins or ends.
    virtual bool ImpersonateLoggedOnUser(ProcHandle token) = 0;
    /// RevertToSelf: the identity from before the impersonation; succeeds
    /// when nothing is impersonated.
    virtual bool RevertToSelf() = 0;

    /// CreateEnvironmentBlock: the environment of the token's user into
    /// `block`, or with token 0 the system's default environment.
    /// Posix: the token's process environment, or a small default one (PATH,
    /// HOME=/, ...); `inherit` is not used. Every block carries VORBEX_MACHINE.
    virtual bool CreateEnvironmentBlock(EnvBlock& block, ProcHandle token, bool inherit) = 0;
    /// DestroyEnvironmentBlock: frees a block from CreateEnvironmentBlock.
    virtual bool DestroyEnvironmentBlock(EnvBlock block) = 0;
    /// A block that holds no variable at all; it belongs to the backend and is
    /// never destroyed. (Win32: a static block of NULs. Posix: the child still
    /// gets VORBEX_MACHINE, without which it could not map any path it is given.)
    virtual EnvBlock EmptyEnvironmentBlock() = 0;

    /// CreateProcessAsUserA: starts a process as the token's user.
    /// `applicationName` null: the program is the first token of `commandLine`;
    /// otherwise that file, and `commandLine` is passed as the child's whole
    /// command line. `environment` 0 inherits this program's environment.
    /// `currentDirectory` null: this program's current directory.
    /// Posix: the child is a new session and process group; of the flags only
    /// CREATE_NO_WINDOW counts (stdin, stdout and stderr go to /dev/null);
    /// without `inheritHandles` no descriptor above stderr reaches the child;
    /// the desktop of `startup` is not used; the arguments are split from the
    /// command line by the Windows rules; a program that cannot be executed
    /// makes the call fail with the exec error (ENOENT, EACCES, ...), as does
    /// a `currentDirectory` the user cannot enter.
    virtual bool CreateProcessAsUser(ProcHandle token, const std::string* applicationName,
                                     const std::string& commandLine, bool inheritHandles, std::uint32_t flags,
                                     EnvBlock environment, const std::string* currentDirectory,
                                     const StartupInfo& startup, ProcessInformation& info) = 0;
    /// CreateProcessA: the same as this program's own user.
    virtual bool CreateProcess(const std::string* applicationName, const std::string& commandLine,
                               bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                               const std::string* currentDirectory, const StartupInfo& startup,
                               ProcessInformation& info) = 0;

    /// WaitForSingleObject on a process: WAIT_OBJECT_0 once it has ended,
    /// WAIT_TIMEOUT after `milliseconds` (INFINITE waits for ever), WAIT_FAILED.
    virtual std::uint32_t WaitForSingleObject(ProcHandle process, std::uint32_t milliseconds) = 0;
    /// GetExitCodeProcess: STILL_ACTIVE while the process runs. Posix: a child
    /// that has ended but is not yet reaped has ended; the exit code of a
    /// process this backend did not start is 0.
    virtual bool GetExitCodeProcess(ProcHandle process, std::uint32_t& exitCode) = 0;
    /// TerminateProcess: ends a running process with `exitCode`; fails when
    /// it has already ended. A process this backend started is ended with
    /// every process it started, however far they went from it. Posix: its
    /// cgroup, then its process group and its tree of descendants, each
    /// stopped as it is found, then killed and reaped. Win32: its job object,
    /// or, where it could not join one, its tree by parent ids, each process
    /// suspended as it is found, then all terminated.
    virtual bool TerminateProcess(ProcHandle process, std::uint32_t exitCode) = 0;
    /// Whether a process this backend started sits in a container that ends
    /// everything it starts at once, however it starts it (Win32: its job
    /// object; posix: a cgroup of its own). False for any other process, and
    /// where the backend could not have one: TerminateProcess then ends the
    /// tree by walking the process list, which a process that keeps moving
    /// to new ids may outrun.
    virtual bool IsTreeContained(ProcHandle process) = 0;
    /// How many processes of the tree were still alive when the last
    /// successful TerminateProcess returned (each backend waits a bounded
    /// time for them to end); 0 when it ended all of them. A walk that ran
    /// out of time before it had seen the whole tree counts at least 1.
    virtual std::uint32_t TerminateSurvivors() = 0;
    /// CloseHandle: any handle of this interface.
    virtual bool CloseHandle(ProcHandle handle) = 0;
    /// GetLastError: the code left by the last failing call.
    virtual long GetLastError() = 0;
};

/// Owns one handle of a Processes backend and closes it on every way out.
class ScopedProcHandle {
public:
    explicit ScopedProcHandle(Processes& sys, ProcHandle handle = 0) : sys_(&sys), handle_(handle) {}
    ~ScopedProcHandle() { reset(); }
    ScopedProcHandle(const ScopedProcHandle&) = delete;
    ScopedProcHandle& operator=(const ScopedProcHandle&) = delete;

    ProcHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    /// Closes the handle now (the order of release matters to some callers).
    void reset(ProcHandle next = 0) {
        if (handle_ != 0) sys_->CloseHandle(handle_);
        handle_ = next;
    }

private:
    Processes* sys_;
    ProcHandle handle_;
};

/// Owns an environment block and destroys it on every way out.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(Processes& sys, EnvBlock block = 0) : sys_(&sys), block_(block) {}
    ~ScopedEnvironment() { reset(); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    EnvBlock get() const { return block_; }
    void reset(EnvBlock next = 0) {
        if (block_ != 0) sys_->DestroyEnvironmentBlock(block_);
        block_ = next;
    }

private:
    Processes* sys_;
    EnvBlock block_;
};

/// Reverts an impersonation when the scope ends, however it ends.
class ScopedImpersonation {
public:
    explicit ScopedImpersonation(Processes& sys) : sys_(&sys) {}
    ~ScopedImpersonation() { sys_->RevertToSelf(); }
    ScopedImpersonation(const ScopedImpersonation&) = delete;
    ScopedImpersonation& operator=(const ScopedImpersonation&) = delete;

private:
    Processes* sys_;
};
