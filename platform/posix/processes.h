// The posix backend of the processes interface: /proc for snapshots and
// tokens, fork/execve for creation, pidfds for waiting and termination.
// May contain: declarations only; the definitions live in processes.cpp,
// process_identity.cpp, process_launch.cpp and process_wait.cpp (see
// processes_private.h), which read /proc through proc_reader.h and start
// programs through spawn.h.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/proc_reader.h"
#include "platform/processes.h"

class JobCgroup;
struct SpawnRequest;

/// Processes over /proc and fork/execve. Handles are small numbers of this
/// object; a process handle holds a pidfd. Error codes are errno values.
///
/// How the Windows notions map:
/// - a snapshot lists /proc/<pid> in ascending pid order; the executable name
///   is the file name of the /proc/<pid>/exe link, else of argv[0] from
///   /proc/<pid>/cmdline (the exe link of another user's process is readable
///   only with privileges), else /proc/<pid>/comm;
/// - a token is the effective uid and gid, the supplementary groups and the
///   environment (/proc/<pid>/environ) of its process;
/// - a process this object started is a session and process group of its
///   own, born into a cgroup of its own where one can be made (see
///   tree_kill.h); terminating it kills that cgroup, then stops every
///   descendant found by the parent ids of /proc/<pid>/stat until no new one
///   turns up, kills them and reaps them; closing its last handle reaps it
///   when it has ended and removes its cgroup;
/// - the first launch makes this process a child subreaper, so a descendant
///   that the runner orphans (a daemon that left the runner's session) stays
///   in reach of the termination instead of going to init.
class PosixProcesses : public Processes {
public:
    PosixProcesses();
    ~PosixProcesses() override;
    PosixProcesses(const PosixProcesses&) = delete;
    PosixProcesses& operator=(const PosixProcesses&) = delete;

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

    struct Token {
        ProcIdentity identity;
        std::vector<std::string> environment;  // NAME=value
    };
    struct ProcessRecord;

private:
    struct Snapshot {
        std::vector<ProcessEntry> entries;
        std::size_t next = 0;
    };
    struct Object;

    ProcHandle add(std::unique_ptr<Object> object);
    Object* find(ProcHandle handle);
    std::shared_ptr<ProcessRecord> processOf(ProcHandle handle);
    bool fail(int code);
    /// The pids of the processes started here and not yet reaped.
    std::set<pid_t> launches() const;
    bool launch(const Token* token, const std::string* applicationName, const std::string& commandLine,
                bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                const std::string* currentDirectory, ProcessInformation& info);
    // The steps of a launch (process_launch.cpp).
    bool environmentOf(EnvBlock environment, std::vector<std::string>& env);
    void setChildIds(const Token* token, SpawnRequest& request) const;
    bool adoptChild(pid_t pid, std::unique_ptr<JobCgroup> cgroup, ProcessInformation& info);

    std::map<ProcHandle, std::unique_ptr<Object>> handles_;
    std::map<EnvBlock, std::unique_ptr<std::vector<std::string>>> environments_;
    std::vector<std::string> emptyEnvironment_;
    /// Processes started here that are not yet reaped, by pid.
    std::map<pid_t, std::weak_ptr<ProcessRecord>> children_;
    ProcHandle nextHandle_ = 0x100;
    long lastError_ = 0;
    std::uint32_t survivors_ = 0;
    bool impersonating_ = false;
    ProcIdentity self_;  // the effective identity saved by ImpersonateLoggedOnUser
};
