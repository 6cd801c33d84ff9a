// Descriptors in the posix backend.
// May contain: open/read/write/close; no program logic.
#include "platform/posix/fd.h"
#include "platform/posix/sys_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void Fd::reset(int f) {
    if (fd >= 0) posix::sysCalls.close(fd);
    fd = f;
}

bool Fd::close() {
    const int f = release();
    return f < 0 || posix::sysCalls.close(f) == 0;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = posix::sysCalls.write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            // No progress and no error: the file takes no more.
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readWhole(const std::string& hostPath, std::string& bytes) {
    Fd file{posix::sysCalls.open(hostPath.c_str(), O_RDONLY | O_CLOEXEC, 0)};
    if (file.fd < 0) return false;
    bytes.clear();
    char block[65536];
    for (;;) {
        const ssize_t n = posix::sysCalls.read(file.fd, block, sizeof block);
        if (n > 0) {
            bytes.append(block, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            // The close on the way out must not hide the reason.
            const int error = errno;
            file.reset();
            errno = error;
            return false;
        }
    }
}
