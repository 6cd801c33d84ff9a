// Locks shared by the program's processes: file locks and a named mutex.
// May contain: kernel32 lock, mutex and file calls; no program logic.
#include "platform/win32/locks.h"

#include "platform/win32/windows.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "platform/win32/handle.h"
#include "platform/win32/retry.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class FileLockHeld : public HeldLock {
public:
    explicit FileLockHeld(Handle file) : file_(std::move(file)) {}
    ~FileLockHeld() override {
        OVERLAPPED at{};
        ::UnlockFileEx(file_.h, 0, 1, 0, &at);
    }

private:
    Handle file_;
};

class MutexHeld : public HeldLock {
public:
    explicit MutexHeld(Handle mutex) : mutex_(std::move(mutex)) {}
    ~MutexHeld() override { ::ReleaseMutex(mutex_.h); }

private:
    Handle mutex_;
};

RunError lockError(DWORD code) {
    return code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? runError(err::PathNotFound)
                                                                        : runError(err::PermissionDenied);
}

}  // namespace

namespace win32 {

// A mutex name may not hold "\" and is at most MAX_PATH long, so the path
// goes in as a 64-bit FNV-1a digest of its folded form.
std::string jobMutexName(const std::string& lockFile) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : lowerAscii(lockFile)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Global\\VorbexJobs.%016llx", static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace win32

namespace {

// Only SYSTEM and the Administrators may open the program's named objects, so
// a user can neither take the job mutex nor hold it to keep the runs waiting.
constexpr const char* kOwnObjectSddl = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

class OwnObjectSecurity {
public:
    OwnObjectSecurity() {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kOwnObjectSddl, SDDL_REVISION_1, &descriptor_,
                                                                    nullptr)) {
            descriptor_ = nullptr;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    ~OwnObjectSecurity() {
        if (descriptor_ != nullptr) ::LocalFree(descriptor_);
    }
    OwnObjectSecurity(const OwnObjectSecurity&) = delete;
    OwnObjectSecurity& operator=(const OwnObjectSecurity&) = delete;
    bool valid() const { return descriptor_ != nullptr; }
    SECURITY_ATTRIBUTES* get() { return &attributes_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// True when `sid` is this process's account, or the owner its token gives
// the objects it makes (under Wine, the user's primary group).
bool isOwnAccount(PSID sid) {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const Handle token(opened);
    bool same = false;
    for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        ::GetTokenInformation(token.h, kind, nullptr, 0, &size);
        std::vector<unsigned char> buffer(size);
        if (size == 0 || !::GetTokenInformation(token.h, kind, buffer.data(), size, &size)) continue;
        const PSID own = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        if (::EqualSid(own, sid)) same = true;
    }
    return same;
}

// An object found under the program's name was made by the program (or an
// administrator) when its owner is SYSTEM, the Administrators or what this
// process's own objects get: a user without those rights cannot give an
// object such an owner.
bool madeByTrustedAccount(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool trusted = owner != nullptr && (::IsWellKnownSid(owner, WinLocalSystemSid) ||
                                              ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                              isOwnAccount(owner));
    ::LocalFree(descriptor);
    return trusted;
}

RunError squatted(const std::string& name) {
    return RunError{err::PermissionDenied, "the name " + name + " is held by an object this program did not make"};
}

}  // namespace

std::unique_ptr<HeldLock> Win32Locks::TryLockFile(const std::string& file) {
    const std::string lockPath = file + ".lock";
    // Shared by every process, so not made new by each: a link planted under
    // its name is opened as itself, never followed.
    Handle handle(win32::retried(lockPath, [&] {
        return ::CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }));
    if (!handle.valid()) throw lockError(::GetLastError());
    OVERLAPPED at{};
    if (::LockFileEx(handle.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return std::make_unique<FileLockHeld>(std::move(handle));
    }
    const DWORD code = ::GetLastError();
    handle.reset();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return nullptr;
    throw lockError(code);
}

std::unique_ptr<HeldLock> Win32Locks::TryLockMachine(const std::string& lockFile, const std::string& record) {
    const std::string name = win32::jobMutexName(lockFile);
    OwnObjectSecurity security;
    if (!security.valid()) throw runError(err::PermissionDenied);
    Handle mutex(::CreateMutexA(security.get(), FALSE, name.c_str()));
    const DWORD created = ::GetLastError();
    // Refused, or the name is another kind of object: someone else made it.
    if (!mutex.valid()) {
        if (created == ERROR_ACCESS_DENIED || created == ERROR_INVALID_HANDLE) throw squatted(name);
        throw lockError(created);
    }
    if (created == ERROR_ALREADY_EXISTS && !madeByTrustedAccount(mutex.h)) throw squatted(name);
    const DWORD waited = ::WaitForSingleObject(mutex.h, 0);
    // An abandoned mutex is owned all the same: its holder died, and the
    // files it was working on are left as a crash leaves them.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return nullptr;
    auto held = std::make_unique<MutexHeld>(std::move(mutex));
    // The record is a courtesy to the waiters; the lock holds without it.
    // A link planted under the record's name is written as itself, never followed.
    const Handle file(win32::retried(lockFile, [&] {
        return ::CreateFileA(lockFile.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }));
    if (file.valid()) {
        DWORD written = 0;
        ::WriteFile(file.h, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    }
    return held;
}

std::string Win32Locks::MachineLockRecord(const std::string& lockFile) {
    const Handle file(::CreateFileA(lockFile.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return "";
    // A record is a line; anything longer is not one of ours.
    char buffer[4096];
    DWORD got = 0;
    std::string text;
    if (::ReadFile(file.h, buffer, sizeof buffer, &got, nullptr)) text.assign(buffer, got);
    return text;
}
