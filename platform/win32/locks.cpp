// Locks shared by the program's processes: file locks and a named mutex.
// May contain: kernel32 lock, mutex and file calls; no program logic.
#include "platform/win32/locks.h"

#include "platform/win32/windows.h"

#include <cstdio>

#include "base/errors.h"
#include "base/text.h"
#include "platform/win32/retry.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class FileLockHeld : public HeldLock {
public:
    explicit FileLockHeld(HANDLE file) : file_(file) {}
    ~FileLockHeld() override {
        OVERLAPPED at{};
        ::UnlockFileEx(file_, 0, 1, 0, &at);
        ::CloseHandle(file_);
    }
    FileLockHeld(const FileLockHeld&) = delete;
    FileLockHeld& operator=(const FileLockHeld&) = delete;

private:
    HANDLE file_;
};

class MutexHeld : public HeldLock {
public:
    explicit MutexHeld(HANDLE mutex) : mutex_(mutex) {}
    ~MutexHeld() override {
        ::ReleaseMutex(mutex_);
        ::CloseHandle(mutex_);
    }
    MutexHeld(const MutexHeld&) = delete;
    MutexHeld& operator=(const MutexHeld&) = delete;

private:
    HANDLE mutex_;
};

RunError lockError(DWORD code) {
    return code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? runError(err::PathNotFound)
                                                                        : runError(err::PermissionDenied);
}

// A mutex name may not hold "\" and is at most MAX_PATH long, so the path
// goes in as a 64-bit FNV-1a digest of its folded form.
std::string mutexNameOf(const std::string& lockFile) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : lowerAscii(lockFile)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Global\\VorbexJobs.%016llx", static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

std::unique_ptr<HeldLock> Win32Locks::TryLockFile(const std::string& file) {
    const std::string lockPath = file + ".lock";
    // Shared by every process, so not made new by each: a link planted under
    // its name is opened as itself, never followed.
    const HANDLE handle = win32::retried(lockPath, [&] {
        return ::CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    });
    if (handle == INVALID_HANDLE_VALUE) throw lockError(::GetLastError());
    OVERLAPPED at{};
    if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return std::make_unique<FileLockHeld>(handle);
    }
    const DWORD code = ::GetLastError();
    ::CloseHandle(handle);
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return nullptr;
    throw lockError(code);
}

std::unique_ptr<HeldLock> Win32Locks::TryLockMachine(const std::string& lockFile, const std::string& record) {
    const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, mutexNameOf(lockFile).c_str());
    if (mutex == nullptr) throw lockError(::GetLastError());
    const DWORD waited = ::WaitForSingleObject(mutex, 0);
    // An abandoned mutex is owned all the same: its holder died, and the
    // files it was working on are left as a crash leaves them.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        ::CloseHandle(mutex);
        return nullptr;
    }
    auto held = std::make_unique<MutexHeld>(mutex);
    // The record is a courtesy to the waiters; the lock holds without it.
    // A link planted under the record's name is written as itself, never followed.
    const HANDLE file = win32::retried(lockFile, [&] {
        return ::CreateFileA(lockFile.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    });
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    return held;
}

std::string Win32Locks::MachineLockRecord(const std::string& lockFile) {
    const HANDLE file = ::CreateFileA(lockFile.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    // A record is a line; anything longer is not one of ours.
    char buffer[4096];
    DWORD got = 0;
    std::string text;
    if (::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) text.assign(buffer, got);
    ::CloseHandle(file);
    return text;
}
