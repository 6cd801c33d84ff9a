// The real entries of the posix backend's system-call table.
// May contain: one forwarding to the system per entry; no program logic.
#include "platform/posix/sys_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace posix {

namespace {

// constexpr, so the table is in place before any constructor of the program runs.
constexpr SysCalls kReal = {
    [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    [](int dir, const char* path, int flags, mode_t mode) { return ::openat(dir, path, flags, mode); },
    [](int fd, void* data, size_t size) { return ::read(fd, data, size); },
    [](int fd, const void* data, size_t size) { return ::write(fd, data, size); },
    [](int fd) { return ::fsync(fd); },
    [](int fd) { return ::close(fd); },
    [](int fd, off_t length) { return ::ftruncate(fd, length); },
    [](const char* path, mode_t mode) { return ::mkdir(path, mode); },
    [](const char* from, const char* to) { return ::rename(from, to); },
    [](int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
        return ::renameat2(fromDir, from, toDir, to, flags);
    },
    [](int fromDir, const char* from, int toDir, const char* to, int flags) {
        return ::linkat(fromDir, from, toDir, to, flags);
    },
    [](const char* path) { return ::unlink(path); },
    [](int dir, const char* path, int flags) { return ::unlinkat(dir, path, flags); },
    [](int in, off_t* inOffset, int out, off_t* outOffset, size_t size, unsigned flags) {
        return ::copy_file_range(in, inOffset, out, outOffset, size, flags);
    },
    [](int flags) { return ::inotify_init1(flags); },
    // By number: this C library's <sys/pidfd.h> lacks C linkage for C++ callers.
    [](pid_t pid, unsigned flags) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags)); },
    [](int fd, int operation) { return ::flock(fd, operation); },
};

}  // namespace

const SysCalls kRealSysCalls = kReal;
SysCalls sysCalls = kReal;

}  // namespace posix
