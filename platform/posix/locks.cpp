// Locks shared by the program's processes, on flock.
// May contain: open/flock/read/write calls on mapped paths; no program logic.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/posix/backends.h"
#include "platform/posix/machine.h"

namespace {

// A lock file held open with its flock; closing the descriptor releases it.
class FlockHeld : public HeldLock {
public:
    explicit FlockHeld(int fd) : fd_(fd) {}
    ~FlockHeld() override { ::close(fd_); }
    FlockHeld(const FlockHeld&) = delete;
    FlockHeld& operator=(const FlockHeld&) = delete;

private:
    int fd_;
};

RunError lockError(int error) {
    return error == ENOENT || error == ENOTDIR ? runError(err::PathNotFound) : runError(err::PermissionDenied);
}

// Opens (creating) the lock file and tries its exclusive flock once. -1 when
// another process holds it.
int tryLock(const std::string& hostPath) {
    const int fd = ::open(hostPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) throw lockError(errno);
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return fd;
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return -1;
    throw lockError(error);
}

}  // namespace

std::unique_ptr<HeldLock> PosixLocks::TryLockFile(const std::string& file) {
    const int fd = tryLock(mapPath(file + ".lock"));
    if (fd < 0) return nullptr;
    return std::make_unique<FlockHeld>(fd);
}

std::unique_ptr<HeldLock> PosixLocks::TryLockMachine(const std::string& lockFile, const std::string& record) {
    const int fd = tryLock(mapPath(lockFile));
    if (fd < 0) return nullptr;
    auto held = std::make_unique<FlockHeld>(fd);
    // The record is a courtesy to the waiters; the lock holds without it.
    if (::ftruncate(fd, 0) == 0) {
        std::size_t done = 0;
        while (done < record.size()) {
            const ssize_t n = ::pwrite(fd, record.data() + done, record.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
    }
    return held;
}

std::string PosixLocks::MachineLockRecord(const std::string& lockFile) {
    const int fd = ::open(mapPath(lockFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    std::string text;
    char buffer[256];
    // A record is a line; anything longer is not one of ours.
    while (text.size() < 4096) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}
