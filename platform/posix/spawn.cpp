// Starting a program on posix: fork, set-up, execve, and the error pipe.
// May contain: fork/exec and the calls of a child's set-up; no program logic.
#include "platform/posix/spawn.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/sched.h>
#include <signal.h>
#include <sys/syscall.h>

#include <cerrno>

#include "platform/posix/fd.h"
#include "platform/posix/sys_calls.h"

namespace {

// fork(), but the child is born in the cgroup `folder`, so nothing it does
// can run outside it. Made by number: the C library has no clone3 wrapper.
// The child returns 0 as from fork() and, as there, makes only
// async-signal-safe calls until it execs.
pid_t forkIntoCgroup(int folder) {
    clone_args args{};
    args.flags = CLONE_INTO_CGROUP;
    args.exit_signal = SIGCHLD;
    args.cgroup = static_cast<__u64>(folder);
    return static_cast<pid_t>(::syscall(SYS_clone3, &args, sizeof args));
}

}  // namespace

pid_t spawnProgram(const SpawnRequest& request, int& error, bool& inCgroup) {
    // Everything the child needs is prepared here: between fork and exec the
    // child may only make async-signal-safe calls.
    std::vector<char*> argv, envp;
    for (const auto& a : request.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : request.environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const ProcIdentity& target = request.identity;
    const bool realRoot = ::getuid() == 0;

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    Fd reading{report[0]}, writing{report[1]};

    pid_t pid = request.cgroup >= 0 ? forkIntoCgroup(request.cgroup) : -1;
    inCgroup = pid >= 0;
    if (pid < 0) pid = ::fork();
    if (pid < 0) {
        error = errno;
        return -1;
    }
    if (pid == 0) {
        // The reason of a failure goes up the pipe; a successful exec closes it.
        auto die = [&](int code) {
            writeAll(report[1], &code, sizeof code);
            ::_exit(127);
        };
        if (realRoot && ::geteuid() != 0 && ::seteuid(0) != 0) die(errno);
        if (request.ids == SpawnRequest::Ids::BecomeUser) {
            if (::setgroups(target.groups.size(), target.groups.data()) != 0) die(errno);
            if (::setgid(target.gid) != 0) die(errno);
            if (::setuid(target.uid) != 0) die(errno);
        } else if (request.ids == SpawnRequest::Ids::RestoreEffective) {
            if (::setgroups(target.groups.size(), target.groups.data()) != 0) die(errno);
            if (::setegid(target.gid) != 0) die(errno);
            if (::seteuid(target.uid) != 0) die(errno);
        }
        if (::setsid() < 0) die(errno);
        if (!request.directory.empty() && ::chdir(request.directory.c_str()) != 0) die(errno);
        if (request.nullStdio) {
            Fd null{posix::sysCalls.open("/dev/null", O_RDWR, 0)};
            if (null.fd < 0) die(errno);
            for (int fd = 0; fd <= 2; ++fd) {
                if (::dup2(null.fd, fd) < 0) die(errno);
            }
            // Opened as 0, 1 or 2, it is now one of the standard descriptors.
            if (null.fd <= 2) null.release();
            null.reset();
        }
        if (request.closeInherited) ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(request.program.c_str(), argv.data(), envp.data());
        die(errno);
    }

    writing.reset();
    int childError = 0;
    std::size_t got = 0;
    while (got < sizeof childError) {
        const ssize_t n =
            posix::sysCalls.read(reading.fd, reinterpret_cast<char*>(&childError) + got, sizeof childError - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got == sizeof childError) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        error = childError;
        return -1;
    }
    return pid;
}
