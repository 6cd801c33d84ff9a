// Ending a started program's whole tree: its cgroup, or the stop-first walk.
// May contain: cgroup files, /proc, signals; no program logic.
#include "platform/posix/sys_calls.h"
#include "platform/posix/tree_kill.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "platform/posix/fd.h"
#include "platform/posix/proc_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kGroupPrefix = "vorbex-job.";

void pauseMs(long ms) {
    timespec left{0, ms * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The signal goes through a pidfd, and only once the pidfd is known to hold
// the process the walk saw (same start time): a pid that has passed to a
// newer process is left alone. False when that process is gone.
bool signalSeen(pid_t pid, unsigned long long startTime, int signal) {
    const Fd process{posix::sysCalls.pidfd_open(pid, 0)};
    if (process.fd < 0) return false;
    ProcStat now;
    const bool same = readStat(pid, now) && now.startTime == startTime;
    if (same && now.state != 'Z') ::syscall(SYS_pidfd_send_signal, process.fd, signal, nullptr, 0);
    return same;
}

bool aliveAsSeen(pid_t pid, unsigned long long startTime) {
    ProcStat now;
    return readStat(pid, now) && now.startTime == startTime && now.state != 'Z';
}

// Undoes the octal escapes (\040 for a blank) of a mountinfo field.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// The folder of this process's own cgroup in the cgroup v2 hierarchy; "" when
// there is no such hierarchy mounted where this process can see its group.
std::string ownCgroupFolder() {
    std::string cgroups, mounts;
    if (!readWhole("/proc/self/cgroup", cgroups) || !readWhole("/proc/self/mountinfo", mounts)) return "";
    std::string own;
    std::istringstream lines(cgroups);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("0::", 0) == 0) own = line.substr(3);
    }
    // A group that has been removed under us shows as "... (deleted)".
    if (own.empty() || own[0] != '/' || own.find(" (deleted)") != std::string::npos) return "";
    std::istringstream mountLines(mounts);
    for (std::string line; std::getline(mountLines, line);) {
        const auto dash = line.find(" - ");
        if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0) continue;
        std::istringstream fields(line.substr(0, dash));
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point)) continue;
        root = unescapeMountField(root);
        point = unescapeMountField(point);
        std::string below;
        if (root == "/") {
            below = own;
        } else if (own == root || own.rfind(root + "/", 0) == 0) {
            below = own.substr(root.size());
        } else {
            continue;
        }
        while (!below.empty() && below.back() == '/') below.pop_back();
        return point + below;
    }
    return "";
}

// Removes the groups that earlier runs left with a leftover process inside,
// once the process has gone and so has the run that made the group. A group
// of a run still going is never touched; a busy one refuses the removal.
void sweepLeftGroups(const std::string& base) {
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr) return;
    const pid_t self = ::getpid();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, kGroupPrefix.size(), kGroupPrefix) != 0) continue;
        const long maker = std::strtol(name.c_str() + kGroupPrefix.size(), nullptr, 10);
        if (maker <= 0 || maker == self) continue;
        if (::kill(static_cast<pid_t>(maker), 0) == 0 || errno != ESRCH) continue;
        if (::rmdir((base + "/" + name).c_str()) == 0 && ++removed >= 64) break;
    }
    ::closedir(dir);
}

bool cgroupsTurnedOff() {
    const char* off = std::getenv("VORBEX_NO_CGROUP");
    return off != nullptr && *off != '\0' && std::strcmp(off, "0") != 0;
}

}  // namespace

std::unique_ptr<JobCgroup> JobCgroup::make() {
    if (cgroupsTurnedOff()) return nullptr;
    const std::string base = ownCgroupFolder();
    if (base.empty()) return nullptr;
    sweepLeftGroups(base);
    static std::atomic<unsigned> made{0};
    const std::string path =
        base + "/" + std::string(kGroupPrefix) + std::to_string(::getpid()) + "." + std::to_string(++made);
    if (posix::sysCalls.mkdir(path.c_str(), 0755) != 0) return nullptr;
    Fd dir(posix::sysCalls.open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (dir.fd < 0 || ::access((path + "/cgroup.kill").c_str(), W_OK) != 0) {
        dir.reset();
        ::rmdir(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<JobCgroup>(new JobCgroup(path, std::move(dir)));
}

JobCgroup::~JobCgroup() {
    dir_.reset();
    ::rmdir(path_.c_str());
}

std::set<pid_t> JobCgroup::killAll(int waitMs) {
    {
        Fd kill(posix::sysCalls.open((path_ + "/cgroup.kill").c_str(), O_WRONLY | O_CLOEXEC, 0));
        if (kill.fd >= 0) writeAll(kill.fd, "1", 1);
    }
    // A killed process leaves the group as it exits, before anyone reaps it.
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        std::string events;
        if (!readWhole(path_ + "/cgroup.events", events) || events.find("populated 0") != std::string::npos) break;
        if (Clock::now() >= deadline) break;
        pauseMs(2);
    }
    std::set<pid_t> left;
    std::string procs;
    if (readWhole(path_ + "/cgroup.procs", procs)) {
        std::istringstream in(procs);
        for (long pid; in >> pid;) left.insert(static_cast<pid_t>(pid));
    }
    return left;
}

namespace {

// Every member of a tree found and not reaped, by pid with its start time.
// A member's parent is a member, stopped, or this process: so its pid stays
// its own until the end, and it is safe to ask for a parent.
using TreeMembers = std::map<pid_t, unsigned long long>;

// The tree of a runner as the walk sees it.
struct Tree {
    pid_t self;
    pid_t root;
    unsigned long long rootStart;
    const std::set<pid_t>& otherLaunches;

    // A process the tree orphaned and that came to this one: not the root,
    // nor another runner, and born after the root.
    bool ourOrphan(pid_t pid, const ProcStat& stat) const {
        return stat.ppid == self && pid != root && stat.startTime >= rootStart && otherLaunches.count(pid) == 0;
    }
};

// Stops every member of the tree, in rounds until one finds the tree at rest.
// A stopped member starts nothing more, and one that has ended stays
// visible (a zombie of its stopped parent, or its children come to this
// process). A member told to stop may still finish a fork before it stops,
// and its child then appears after a round's list of processes was taken:
// so only a round that finds nothing new, and finds every member already
// stopped or ended in an earlier round (before this round's list), has seen
// the whole tree. Each process is stopped the moment it is read, not at the
// end of the round, so one that forks every millisecond has little time to
// move on; and what has ended and come to this process is reaped at once,
// which keeps the rounds short.
// `found` holds the members known at the start; what the walk finds is added.
// False when the walk ran out of time before the tree was at rest.
bool stopTree(const Tree& tree, TreeMembers& found) {
    std::set<pid_t> atRest;  // members seen stopped or ended in the last round
    const auto walkDeadline = Clock::now() + std::chrono::seconds(10);
    bool fresh = true;
    while (fresh && Clock::now() < walkDeadline) {
        fresh = false;
        bool grew = false;
        std::set<pid_t> restingNow;
        std::vector<pid_t> ids;
        if (!processIds(ids)) break;
        for (pid_t pid : ids) {
            ProcStat stat;
            if (pid == tree.self || !readStat(pid, stat)) continue;
            const auto known = found.find(pid);
            if (known != found.end() && known->second == stat.startTime) {
                if (stat.state == 'T' || stat.state == 't' || stat.state == 'Z' || stat.state == 'X') {
                    restingNow.insert(pid);
                    if (atRest.count(pid) == 0) fresh = true;
                } else {
                    // Not stopped yet, or set going again (another process of
                    // the tree may send SIGCONT): told again, and the walk goes on.
                    signalSeen(pid, stat.startTime, SIGSTOP);
                    fresh = true;
                }
                continue;
            }
            const auto parent = found.find(stat.ppid);
            const bool child = parent != found.end() && parent->second <= stat.startTime;
            if (!child && !tree.ourOrphan(pid, stat)) continue;
            if (!signalSeen(pid, stat.startTime, SIGSTOP)) continue;  // gone meanwhile
            fresh = grew = true;
            if (stat.state == 'Z' && tree.ourOrphan(pid, stat) && ::waitpid(pid, nullptr, WNOHANG) == pid) {
                found.erase(pid);
            } else {
                found[pid] = stat.startTime;
            }
        }
        atRest = std::move(restingNow);
        // Only members still on their way to a stop: give them a moment.
        if (fresh && !grew) pauseMs(1);
    }
    return !fresh;
}

// Kills the stopped members and waits (at most 5 s) until they have ended;
// the pids of those still alive then.
std::set<pid_t> killStopped(const TreeMembers& found) {
    for (const auto& [pid, startTime] : found) signalSeen(pid, startTime, SIGKILL);

    std::set<pid_t> alive;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        alive.clear();
        for (const auto& [pid, startTime] : found) {
            if (aliveAsSeen(pid, startTime)) alive.insert(pid);
        }
        if (alive.empty() || Clock::now() >= deadline) break;
        pauseMs(2);
    }
    return alive;
}

}  // namespace

TreeEnd stopAndKillTree(pid_t root, const std::set<pid_t>& otherLaunches) {
    ProcStat rootStat;
    if (!readStat(root, rootStat)) return {};
    // The root leads its own group: one signal stops whatever stayed in it.
    ::kill(-root, SIGSTOP);
    ::kill(root, SIGSTOP);

    const Tree tree{::getpid(), root, rootStat.startTime, otherLaunches};
    TreeMembers members{{root, rootStat.startTime}};
    TreeEnd end;
    end.allFound = stopTree(tree, members);
    ::kill(-root, SIGKILL);
    end.alive = killStopped(members);
    // Once the members found have ended, whatever of the tree the walk did
    // not find (it ran out of time) has come to this process, or descends
    // from a process that has: a second walk from there stops and kills it.
    // It also reaps what has ended and come here, so no zombie stays behind.
    TreeMembers rest;
    if (!stopTree(tree, rest)) end.allFound = false;
    end.alive.merge(killStopped(rest));
    for (const auto& [pid, stat] : allProcesses()) {
        if (tree.ourOrphan(pid, stat) && stat.state == 'Z') ::waitpid(pid, nullptr, WNOHANG);
    }
    return end;
}

void reapOrphans(unsigned long long since, const std::set<pid_t>& launches) {
    // A look that reaps nothing tells whether any child has ended at all.
    siginfo_t info{};
    if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) return;
    const pid_t self = ::getpid();
    for (const auto& [pid, stat] : allProcesses()) {
        if (stat.ppid == self && stat.state == 'Z' && stat.startTime >= since && launches.count(pid) == 0) {
            ::waitpid(pid, nullptr, WNOHANG);
        }
    }
}
