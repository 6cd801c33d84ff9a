// Processes on Linux: waiting for a process and its exit code over its pidfd,
// and terminating it with everything it started (tree_kill.cpp).
// May contain: POSIX and Linux calls; nothing of the program's logic.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <set>

#include "platform/posix/proc_reader.h"
#include "platform/posix/processes.h"
#include "platform/posix/processes_private.h"
#include "platform/posix/tree_kill.h"

namespace {

constexpr int kReapEveryMs = 250;

std::uint32_t exitCodeOf(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) return static_cast<std::uint32_t>(info.si_status);
    return 128u + static_cast<std::uint32_t>(info.si_status);
}

}  // namespace

// A poll on a pidfd: true once the process has ended (a zombie has ended).
bool hasEnded(int pidfd) {
    pollfd p{pidfd, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&p, 1, 0);
        if (r >= 0) return r > 0;
        if (errno != EINTR) return false;
    }
}

std::uint32_t PosixProcesses::WaitForSingleObject(ProcHandle handle, std::uint32_t milliseconds) {
    const auto record = processOf(handle);
    if (!record) {
        fail(EBADF);
        return proc::WAIT_FAILED;
    }
    if (record->reaped) return proc::WAIT_OBJECT_0;
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == proc::INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int timeout = -1;
        if (!forever) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        // What the runner orphans comes here and, once ended, is reaped
        // every so often while the wait lasts.
        if (record->ours && (timeout < 0 || timeout > kReapEveryMs)) timeout = kReapEveryMs;
        pollfd p{record->pidfd.fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeout);
        if (r > 0) return proc::WAIT_OBJECT_0;
        if (record->ours && record->startTime != 0) reapOrphans(record->startTime, launches());
        if (r < 0 && errno != EINTR) {
            fail(errno);
            return proc::WAIT_FAILED;
        }
        if (r == 0 && !forever && Clock::now() >= deadline) return proc::WAIT_TIMEOUT;
    }
}

bool PosixProcesses::GetExitCodeProcess(ProcHandle handle, std::uint32_t& exitCode) {
    const auto record = processOf(handle);
    if (!record) return fail(EBADF);
    if (record->reaped) {
        exitCode = record->exitCode;
        return true;
    }
    if (!hasEnded(record->pidfd.fd)) {
        exitCode = proc::STILL_ACTIVE;
        return true;
    }
    exitCode = 0;
    if (record->ours) {
        siginfo_t info{};
        if (::waitid(P_PIDFD, static_cast<id_t>(record->pidfd.fd), &info,
                     WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid != 0) {
            exitCode = exitCodeOf(info);
        }
    }
    return true;
}

bool PosixProcesses::TerminateProcess(ProcHandle handle, std::uint32_t exitCode) {
    const auto record = processOf(handle);
    if (!record) return fail(EBADF);
    if (record->reaped || hasEnded(record->pidfd.fd)) return fail(ESRCH);
    survivors_ = 0;
    if (!record->ours) {
        if (pidfdKill(record->pidfd.fd) != 0) return fail(errno);
        return true;
    }
    const OwnIds own(impersonating_, self_);
    std::set<pid_t> alive;
    if (record->cgroup) alive = record->cgroup->killAll(5000);
    // The walk also finds what left the group (a process with the rights to
    // move itself), and it is the whole of the work where there is no group.
    std::set<pid_t> otherLaunches = launches();
    otherLaunches.erase(record->pid);
    TreeEnd tree = stopAndKillTree(record->pid, otherLaunches);
    alive.merge(tree.alive);
    // What the group still held when its wait ran out may have ended since.
    std::erase_if(alive, [](pid_t pid) {
        ProcStat stat;
        return !readStat(pid, stat) || stat.state == 'Z';
    });
    survivors_ = static_cast<std::uint32_t>(alive.size());
    // A walk that ran out of time cannot say the tree has ended: at least one
    // process it never saw may still run.
    if (survivors_ == 0 && !tree.allFound) survivors_ = 1;
    if (hasEnded(record->pidfd.fd)) {
        siginfo_t info{};
        while (::waitid(P_PIDFD, static_cast<id_t>(record->pidfd.fd), &info, WEXITED) != 0) {
            if (errno != EINTR) break;
        }
        record->reaped = true;
        record->exitCode = exitCode;
        children_.erase(record->pid);
    }
    return true;
}

std::set<pid_t> PosixProcesses::launches() const {
    std::set<pid_t> pids;
    for (const auto& [pid, record] : children_) pids.insert(pid);
    return pids;
}

bool PosixProcesses::IsTreeContained(ProcHandle handle) {
    const auto record = processOf(handle);
    return record && record->ours && record->cgroup;
}

std::uint32_t PosixProcesses::TerminateSurvivors() { return survivors_; }
