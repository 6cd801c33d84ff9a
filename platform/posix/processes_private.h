// What the files of PosixProcesses share: the record of one process, the
// handle table's entry, and the helpers more than one of them calls. The
// class is defined over four files, one concern each: processes.cpp (the
// handle table and the snapshot), process_identity.cpp (tokens,
// impersonation, environment blocks), process_launch.cpp (starting a
// program) and process_wait.cpp (waiting, exit codes, termination).
// May contain: declarations for those four files only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/posix/fd.h"
#include "platform/posix/processes.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/tree_kill.h"

/// The variable every environment block carries: the machine root.
inline constexpr std::string_view kMachineVariable = "VORBEX_MACHINE";

// One process as the handles see it; every handle on the same process shares
// one record, so the exit status read once stays known.
struct PosixProcesses::ProcessRecord {
    pid_t pid = 0;
    Fd pidfd;
    bool ours = false;  // started here: a group leader that only we may reap
    bool reaped = false;
    unsigned long long startTime = 0;  // clock ticks after boot, for a started one
    std::uint32_t exitCode = 0;
    PosixProcesses* owner = nullptr;
    std::unique_ptr<JobCgroup> cgroup;  // the group it was started in, if any

    ~ProcessRecord();
};

struct PosixProcesses::Object {
    std::variant<Snapshot, Token, std::shared_ptr<ProcessRecord>> value;
};

// processes.cpp
int pidfdOpen(pid_t pid);
int pidfdKill(int pidfd);

// process_identity.cpp
ProcIdentity currentIdentity();
bool sameGroups(std::vector<gid_t> a, std::vector<gid_t> b);
// Switches the effective ids; false with errno on failure.
bool applyEffective(const ProcIdentity& to);
// Sets NAME=value in `env`, in place of an earlier value of NAME.
void putVariable(std::vector<std::string>& env, std::string_view name, const std::string& value);

// While it lives, the effective ids are this program's own even while it
// impersonates a user: a runner's cgroup is made, killed and removed by the
// program, which the user it acts for may not do (nor escape the group).
class OwnIds {
public:
    OwnIds(bool impersonating, const ProcIdentity& self);
    ~OwnIds();
    OwnIds(const OwnIds&) = delete;
    OwnIds& operator=(const OwnIds&) = delete;

private:
    ProcIdentity acting_;
    bool switched_ = false;
};

// process_wait.cpp
// A poll on a pidfd: true once the process has ended (a zombie has ended).
bool hasEnded(int pidfd);
