// One system call of the posix backend replaced for a scope of a test, to
// show what a user sees when the system answers as a full disk, a refusing
// file system or an older kernel would.
#pragma once

#include <unistd.h>

#include <string>
#include <type_traits>

#include "platform/posix/sys_calls.h"

/// Puts `replacement` into the table's `entry` while it lives and the call
/// that was there back at its end. Made before the code under test runs; a
/// replacement holds no state of its own (a plain function), so what it
/// needs lives in the test file.
template <typename Call>
class SysCallOverride {
public:
    SysCallOverride(Call posix::SysCalls::*entry, std::type_identity_t<Call> replacement)
        : entry_(entry), saved_(posix::sysCalls.*entry) {
        posix::sysCalls.*entry = replacement;
    }
    ~SysCallOverride() { posix::sysCalls.*entry_ = saved_; }
    SysCallOverride(const SysCallOverride&) = delete;
    SysCallOverride& operator=(const SysCallOverride&) = delete;

private:
    Call posix::SysCalls::*entry_;
    Call saved_;
};

/// The path the open descriptor `fd` names, for a replacement that fails
/// only the calls on some files.
inline std::string pathOfFd(int fd) {
    char buffer[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
