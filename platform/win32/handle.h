// The one holder of a Win32 handle in this backend.
// May contain: the holder only.
#pragma once

#include "platform/win32/windows.h"

/// Owns one handle (INVALID_HANDLE_VALUE for none) and closes it on every way out.
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle) {}
    Handle(Handle&& other) noexcept : h(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            h = other.release();
        }
        return *this;
    }
    ~Handle() { reset(); }
    // Some calls fail with INVALID_HANDLE_VALUE, others with null.
    bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    HANDLE release() {
        const HANDLE handle = h;
        h = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset() {
        if (valid()) ::CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
};
