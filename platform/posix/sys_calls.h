// The system calls whose failures the posix backend turns into what a user
// sees (a full disk, a refused write, a file system or kernel without a
// feature), called through one table so that a test can put a failing call in
// place of a real one, as a full disk or an older kernel would answer.
// May contain: the table and its real entries; no program logic.
#pragma once

#include <sys/types.h>

namespace posix {

/// One entry per call, each with the real call's arguments and answer
/// (-1 with errno set on failure). The entries are plain pointers, read
/// without a lock: a test changes them only before the code under test runs.
struct SysCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*openat)(int dir, const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* data, size_t size);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*ftruncate)(int fd, off_t length);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rename)(const char* from, const char* to);
    int (*renameat2)(int fromDir, const char* from, int toDir, const char* to, unsigned flags);
    int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
    int (*unlink)(const char* path);
    int (*unlinkat)(int dir, const char* path, int flags);
    ssize_t (*copy_file_range)(int in, off_t* inOffset, int out, off_t* outOffset, size_t size, unsigned flags);
    int (*inotify_init1)(int flags);
    int (*pidfd_open)(pid_t pid, unsigned flags);
    int (*flock)(int fd, int operation);
};

/// The real calls.
extern const SysCalls kRealSysCalls;
/// The table the backend calls through: the real calls unless a test has put
/// others in.
extern SysCalls sysCalls;

}  // namespace posix
