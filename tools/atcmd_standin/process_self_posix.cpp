// The stand-in's own process on Linux.
// May contain: POSIX process calls only.
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "process_self.h"

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string currentUserId() { return std::to_string(::getuid()); }

bool startSleepingChild(Platform&, long ms, std::uint32_t& processId) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        timespec left{ms / 1000, (ms % 1000) * 1000000L};
        while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
        ::_exit(0);
    }
    processId = static_cast<std::uint32_t>(pid);
    return true;
}
