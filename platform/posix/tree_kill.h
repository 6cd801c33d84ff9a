// Ending a started program with everything it started, whatever those
// processes do meanwhile (fork, exit, leave the session): a cgroup v2 group
// of its own where one can be made, else a walk over /proc that stops each
// process as it finds it and kills them all once a round finds nothing new.
// May contain: cgroup files, /proc, signals; no program logic.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <set>
#include <string>

#include "platform/posix/fd.h"

/// A cgroup made for one started program, below this process's own cgroup
/// in the cgroup v2 hierarchy. Destroying it removes the group; a group that
/// still holds a process (leftovers of a program that ended in time) cannot
/// be removed and stays until a later make() finds it empty and its maker gone.
class JobCgroup {
public:
    /// A new, empty group; null where none can be had: no cgroup v2 mount, no
    /// right to create a group, no `cgroup.kill` (kernels before 5.14), or
    /// the environment variable VORBEX_NO_CGROUP set to anything but "" or "0".
    static std::unique_ptr<JobCgroup> make();
    ~JobCgroup();
    JobCgroup(const JobCgroup&) = delete;
    JobCgroup& operator=(const JobCgroup&) = delete;

    /// The group's folder, open, for clone3(CLONE_INTO_CGROUP).
    int directory() const { return dir_.fd; }
    /// Kills every process in the group at once (new forks in it included)
    /// and waits, at most `waitMs`, until it is empty. The pids still in it.
    std::set<pid_t> killAll(int waitMs);

private:
    JobCgroup(std::string path, Fd dir) : path_(std::move(path)), dir_(std::move(dir)) {}
    std::string path_;
    Fd dir_;
};

/// What ending a tree came to: the pids of its processes still alive after
/// a bounded wait, and whether the walk was sure it had found all of them.
struct TreeEnd {
    std::set<pid_t> alive;
    bool allFound = true;
};

/// Ends the processes that descend from `root` (this process's child, which
/// may have ended already but is not reaped): each one found is stopped at
/// once, so it starts nothing more, and rounds over /proc repeat until one
/// finds no process not found before and every member already stopped or
/// ended in the round before (a member told to stop may still finish a fork);
/// then all are killed. A process the tree orphaned comes to this process, a
/// child subreaper, and belongs to the tree when it started no earlier than
/// `root` and is none of `otherLaunches`. A second walk from those orphans
/// stops and kills whatever the first did not find in its time; ended ones
/// that became this process's children are reaped (`root` itself is left to
/// its owner). A member set going again meanwhile is stopped again.
/// `allFound` is false when either walk ran out of time.
TreeEnd stopAndKillTree(pid_t root, const std::set<pid_t>& otherLaunches);

/// Reaps the ended processes that came to this process (a child subreaper)
/// from a tree started at `since` (start time in clock ticks after boot) or
/// later and that are none of `launches`. Called while a runner is waited
/// for: a process that forks and exits without end would otherwise leave a
/// zombie per fork here, until the system has no pid left.
void reapOrphans(unsigned long long since, const std::set<pid_t>& launches);
