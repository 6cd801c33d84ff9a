// Locks shared by the program's processes, on flock.
// May contain: open/flock/read/write calls on mapped paths; no program logic.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.h"
#include "platform/posix/fd.h"
#include "platform/posix/locks.h"
#include "platform/posix/machine.h"
#include "platform/posix/sys_calls.h"

namespace {

// A lock file held open with its flock; closing the descriptor releases it.
class FlockHeld : public HeldLock {
public:
    explicit FlockHeld(Fd file) : file_(std::move(file)) {}
    int fd() const { return file_.fd; }

private:
    Fd file_;
};

RunError lockError(int error) {
    return error == ENOENT || error == ENOTDIR ? runError(err::PathNotFound) : runError(err::PermissionDenied);
}

// Opens (creating) the lock file and tries its exclusive flock once. Nothing
// when another process holds it.
std::unique_ptr<FlockHeld> tryLock(const std::string& hostPath) {
    // Every process opens the same lock file, so it cannot be made new by
    // each; a link planted under its name is never followed, and anything
    // but a plain file (a FIFO, a device) is refused before it is written.
    Fd file{posix::sysCalls.open(hostPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666)};
    if (file.fd < 0) throw lockError(errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) throw lockError(EACCES);
    int result;
    do {
        result = posix::sysCalls.flock(file.fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return std::make_unique<FlockHeld>(std::move(file));
    const int error = errno;
    if (error == EWOULDBLOCK) return nullptr;
    throw lockError(error);
}

}  // namespace

std::unique_ptr<HeldLock> PosixLocks::TryLockFile(const std::string& file) {
    return tryLock(mapPath(file + ".lock"));
}

std::unique_ptr<HeldLock> PosixLocks::TryLockMachine(const std::string& lockFile, const std::string& record) {
    auto held = tryLock(mapPath(lockFile));
    if (!held) return nullptr;
    // The record is a courtesy to the waiters; the lock holds without it.
    // The descriptor is new, so writing starts at the file's beginning.
    if (posix::sysCalls.ftruncate(held->fd(), 0) == 0) writeAll(held->fd(), record.data(), record.size());
    return held;
}

std::string PosixLocks::MachineLockRecord(const std::string& lockFile) {
    const Fd file{posix::sysCalls.open(mapPath(lockFile).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0)};
    if (file.fd < 0) return "";
    std::string text;
    char buffer[256];
    // A record is a line; anything longer is not one of ours.
    while (text.size() < 4096) {
        const ssize_t n = posix::sysCalls.read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}
