// The stand-in's own process on Linux.
// May contain: POSIX process calls, and the backend's conversion of arguments.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/code_page.h"
#include "process_self.h"

std::string argumentText(const char* argument) { return codePageFromUtf8(argument); }

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string currentUserId() { return std::to_string(::getuid()); }

namespace {

void sleepMs(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void ignoreTermination() {
    ::signal(SIGTERM, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
}

}  // namespace

bool startSleepingChild(Platform&, long ms, bool ignoreTerm, std::uint32_t& processId) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (ignoreTerm) ignoreTermination();
        sleepMs(ms);
        ::_exit(0);
    }
    processId = static_cast<std::uint32_t>(pid);
    return true;
}

bool startDetachedChild(Platform&, long ms, std::uint32_t& processId) {
    int report[2];
    if (::pipe(report) != 0) return false;
    const pid_t middle = ::fork();
    if (middle < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (middle == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::close(report[1]);
            ignoreTermination();
            sleepMs(ms);
            ::_exit(0);
        }
        const std::int32_t id = grandchild;
        const bool sent = grandchild > 0 && ::write(report[1], &id, sizeof id) == static_cast<ssize_t>(sizeof id);
        ::_exit(sent ? 0 : 1);
    }
    ::close(report[1]);
    std::int32_t id = 0;
    ssize_t got;
    while ((got = ::read(report[0], &id, sizeof id)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof id) || id <= 0) return false;
    processId = static_cast<std::uint32_t>(id);
    return true;
}

bool startHopper(long intervalMs, long lifetimeMs, std::uint32_t& processId) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid > 0) {
        processId = static_cast<std::uint32_t>(pid);
        return true;
    }
    ::setsid();
    ignoreTermination();
    timespec start{}, now{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        sleepMs(intervalMs);
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 >= lifetimeMs) ::_exit(0);
        const pid_t next = ::fork();
        if (next != 0) ::_exit(next > 0 ? 0 : 1);  // the child goes on under a new id
    }
}

bool squatJobLockName(const std::string&, long) { return false; }
