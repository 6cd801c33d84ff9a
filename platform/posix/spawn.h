// Starting a program on posix: fork, the child's set-up, execve, and a
// close-on-exec pipe that brings a failure of the set-up or of the exec back
// to the caller as an error code.
// May contain: declarations only; spawn.cpp holds the one fork/exec sequence
// of the backend.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/posix/proc_reader.h"

/// What the child is to be.
struct SpawnRequest {
    /// The executable, a path of this system.
    std::string program;
    /// The whole argument vector, argv[0] included.
    std::vector<std::string> arguments;
    /// The whole environment, NAME=value each.
    std::vector<std::string> environment;
    /// The folder the child starts in; "" keeps this process's own.
    std::string directory;
    /// How the child takes its identity: `Keep` runs it as this process runs
    /// now; `BecomeUser` makes `identity` its real and effective ids for good
    /// (groups, then gid, then uid); `RestoreEffective` makes `identity` its
    /// effective ids only (for a child started while this process
    /// impersonates someone else). A real root first takes back its effective
    /// root, without which it could not change them.
    enum class Ids { Keep, BecomeUser, RestoreEffective } ids = Ids::Keep;
    ProcIdentity identity;
    /// stdin, stdout and stderr go to /dev/null.
    bool nullStdio = false;
    /// No descriptor above stderr reaches the program.
    bool closeInherited = false;
    /// An open cgroup folder to start the child in (it is born there, before
    /// it can run anything); -1 for none.
    int cgroup = -1;
};

/// Starts the request's program as the leader of a new session (and so of a
/// new process group). Returns its pid, which the caller reaps; or -1 with
/// the errno value in `error` when fork failed or when the child's set-up or
/// exec failed (that child is reaped here already). `inCgroup` tells whether
/// the child was born in the request's cgroup; where the system refuses that,
/// the child is started outside it.
pid_t spawnProgram(const SpawnRequest& request, int& error, bool& inCgroup);
