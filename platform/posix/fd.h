// Descriptors in the posix backend: one holder that closes them, whole
// writes, whole reads.
// May contain: open/read/write/close; no program logic.
#pragma once

#include <cstddef>
#include <string>

// Every call on a descriptor goes through the backend's table of system calls.
#include "platform/posix/sys_calls.h"

/// Owns one descriptor (-1 for none) and closes it on every way out.
struct Fd {
    int fd = -1;

    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& other) noexcept : fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    /// Hands the descriptor over to the caller, who closes it.
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
    /// Closes the descriptor held (if any) and holds `f` instead.
    void reset(int f = -1);
    /// Closes the descriptor now, for a caller that must know the close
    /// succeeded (a write is only sure once it has); false with errno set.
    bool close();
};

/// Writes all `size` bytes, going on after partial writes and signals. False
/// with errno set when a write fails. Makes no call but write(), so a child
/// between fork and exec may use it.
bool writeAll(int fd, const void* data, std::size_t size);

/// The whole content of the file at `hostPath` into `bytes`; false with errno
/// set when it cannot be opened or read (a folder, say).
bool readWhole(const std::string& hostPath, std::string& bytes);
