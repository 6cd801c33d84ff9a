// The confined file operations over the Win32 file API: each opens the
// folders below the trusted one as itself, one at a time, and checks what the
// handle of the file it opened says before using it.
// May contain: Win32 file calls below a trusted folder; no program logic.
#include "platform/win32/filesystem.h"

#include "platform/win32/windows.h"
#include <winternl.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/path_components.h"
#include "platform/win32/file_calls.h"
#include "platform/win32/handle.h"
#include "platform/win32/retry.h"
#include "platform/win32/support.h"

namespace {

using win32::errorFor;
using win32::kShareAll;
using win32::raiseLastError;

[[noreturn]] void refuse() { throw runError(err::PathAccess); }

// The real path of an opened file or folder ("\\?\C:\..."); "" when the
// system cannot name it (a device, for one).
std::string finalPathOf(HANDLE handle) {
    std::string path(MAX_PATH, '\0');
    for (int tries = 0; tries < 2; ++tries) {
        const DWORD length = ::GetFinalPathNameByHandleA(handle, path.data(), static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return "";
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length, '\0');  // too small: the length is the size needed, its NUL included
    }
    return "";
}

// The folders below a confined operation's folder, held open, and the path
// of the file in the last of them.
struct Beneath {
    Handle top;
    std::string realFolder;
    std::vector<Handle> chain;
    std::string leafPath;
};

Beneath walkBeneath(const std::string& folder, const std::string& path) {
    const auto parts = componentsBelow(folder, path);
    if (!parts) refuse();
    Beneath at;
    std::string current = folder;
    while (current.size() > 3 && (current.back() == '\\' || current.back() == '/')) current.pop_back();
    at.top = Handle(::CreateFileA(current.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!at.top.valid()) throw runError(err::PathNotFound);
    at.realFolder = finalPathOf(at.top.h);
    if (at.realFolder.empty()) throw runError(err::PathNotFound);
    if (current.back() != '\\') current += '\\';
    for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
        current += (*parts)[i];
        // Without FILE_SHARE_DELETE: while it is held, nobody renames this
        // folder away or puts a junction in its place.
        Handle next(::CreateFileA(current.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!next.valid()) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) throw runError(err::PathNotFound);
            throw errorFor(code);
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(next.h, &info)) raiseLastError();
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) refuse();
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw runError(err::PathNotFound);
        if (!finalPathBelow(at.realFolder, finalPathOf(next.h))) refuse();
        at.chain.push_back(std::move(next));
        current += '\\';
    }
    at.leafPath = current + parts->back();
    return at;
}

// The native open and its error translation, from ntdll: only they can ask
// that an open not wait on an opportunistic lock.
struct NtCalls {
    using Create = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                ULONG, ULONG, ULONG, PVOID, ULONG);
    using ToDosError = ULONG(NTAPI*)(LONG);
    Create create = nullptr;
    ToDosError toDosError = nullptr;
};

const NtCalls& ntCalls() {
    static const NtCalls calls = [] {
        NtCalls found;
        if (const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll")) {
            found.create = reinterpret_cast<NtCalls::Create>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtCreateFile")));
            found.toDosError = reinterpret_cast<NtCalls::ToDosError>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlNtStatusToDosError")));
        }
        return found;
    }();
    return calls;
}

// A success status of NtCreateFile: the file is open, but a holder of an
// opportunistic lock on it has yet to acknowledge the break this open set off.
constexpr LONG kOplockBreakInProgress = 0x00000108;
// ERROR_OPLOCK_BREAK_IN_PROGRESS, which not every toolchain's headers name;
// the scripting runtime knows it as "Device I/O error".
constexpr DWORD kErrorOplockBreakInProgress = 742;

// The system's own name of a Win32 path ("\??\C:\...", "\??\UNC\...").
std::wstring ntPathOf(const std::string& path) {
    const std::wstring wide = win32::wideOf(path);
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return L"";
    std::wstring full(size, L'\0');
    const DWORD n = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) return L"";
    full.resize(n);
    if (full.rfind(L"\\\\?\\", 0) == 0) return L"\\??\\" + full.substr(4);
    if (full.rfind(L"\\\\.\\", 0) == 0) return L"\\??\\" + full.substr(4);  // a device: NUL, COM1
    if (full.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + full.substr(2);
    return L"\\??\\" + full;
}

// Opens an existing `path` as CreateFileA with FILE_FLAG_OPEN_REPARSE_POINT
// would, except that an opportunistic lock on it is never waited for: the
// user who owns the file could hold its break unanswered for as long as they
// like, while this program holds the job lock. Such a file is unreadable,
// as a leased file is to the posix backend. Fails as CreateFileA does, with
// the error in GetLastError.
HANDLE openNotWaiting(const std::string& path, DWORD access, DWORD extraFlags) {
    const NtCalls& nt = ntCalls();
    const std::wstring name = ntPathOf(path);
    if (nt.create == nullptr || nt.toDosError == nullptr || name.empty() || name.size() > 32000) {
        ::SetLastError(nt.create == nullptr ? ERROR_INVALID_FUNCTION : ERROR_BAD_PATHNAME);
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING text{};
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object{};
    object.Length = sizeof object;
    object.ObjectName = &text;
    object.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io{};
    // Backup semantics open folders too; without them only files open, as
    // CreateFileA has it.
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED;
    options |= (extraFlags & FILE_FLAG_BACKUP_SEMANTICS) != 0 ? FILE_OPEN_FOR_BACKUP_INTENT : FILE_NON_DIRECTORY_FILE;
    if ((extraFlags & FILE_FLAG_SEQUENTIAL_SCAN) != 0) options |= FILE_SEQUENTIAL_ONLY;
    HANDLE file = INVALID_HANDLE_VALUE;
    const LONG status = nt.create(&file, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &object, &io, nullptr,
                                  FILE_ATTRIBUTE_NORMAL, kShareAll, FILE_OPEN, options, nullptr, 0);
    if (status < 0) {
        ::SetLastError(nt.toDosError(status));
        return INVALID_HANDLE_VALUE;
    }
    if (status == kOplockBreakInProgress) {
        Handle(file).reset();
        ::SetLastError(kErrorOplockBreakInProgress);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Opens the file `at` names with `access`, as itself even when it is a link,
// and refuses it unless it may be used. A passing refusal (a scanner's
// handle) is waited out; an opportunistic lock is not.
Handle openLeaf(const Beneath& at, DWORD access, DWORD extraFlags, BY_HANDLE_FILE_INFORMATION& info) {
    Handle file(win32::retried(at.leafPath, [&] { return openNotWaiting(at.leafPath, access, extraFlags); }));
    if (!file.valid()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) throw runError(err::FileNotFound);
        if (code == ERROR_PATH_NOT_FOUND) throw runError(err::PathNotFound);
        throw errorFor(code);
    }
    // A device name (NUL, CON, COM1) opens the device in any folder.
    if (::GetFileType(file.h) != FILE_TYPE_DISK) refuse();
    if (!::GetFileInformationByHandle(file.h, &info)) raiseLastError();
    return file;
}

void requireUsable(const Beneath& at, const Handle& file, const BY_HANDLE_FILE_INFORMATION& info) {
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
        FILE_ATTRIBUTE_DIRECTORY) {
        throw runError(err::PermissionDenied);  // a folder, as the ordinary calls answer
    }
    if (!win32::usableBeneath(info.dwFileAttributes, info.nNumberOfLinks, ::GetFileType(file.h), at.realFolder,
                              finalPathOf(file.h))) {
        refuse();
    }
}

}  // namespace

bool win32::usableBeneath(unsigned long attributes, unsigned long links, unsigned long fileType,
                          const std::string& realFolder, const std::string& finalPath) {
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
    if (links != 1 || fileType != FILE_TYPE_DISK) return false;
    return !realFolder.empty() && finalPathBelow(realFolder, finalPath);
}

bool Win32FileSystem::FileExistsInside(const std::string& folder, const std::string& path) {
    Beneath at;
    try {
        at = walkBeneath(folder, path);
    } catch (const RunError& e) {
        if (e.number == err::PathNotFound) return false;
        throw;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    Handle file;
    try {
        file = openLeaf(at, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS, info);
    } catch (const RunError& e) {
        if (e.number == err::FileNotFound || e.number == err::PathNotFound) return false;
        throw;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
        FILE_ATTRIBUTE_DIRECTORY) {
        return false;
    }
    requireUsable(at, file, info);
    return true;
}

std::unique_ptr<TextStream> Win32FileSystem::OpenInside(const std::string& folder, const std::string& path) {
    const Beneath at = walkBeneath(folder, path);
    BY_HANDLE_FILE_INFORMATION info{};
    Handle file = openLeaf(at, GENERIC_READ, 0, info);
    requireUsable(at, file, info);
    return win32::streamOver(std::move(file), true);
}

void Win32FileSystem::DeleteInside(const std::string& folder, const std::string& path, bool force) {
    const Beneath at = walkBeneath(folder, path);
    BY_HANDLE_FILE_INFORMATION info{};
    Handle file = openLeaf(at, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, info);
    requireUsable(at, file, info);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        if (!force) throw runError(err::PermissionDenied);
        FILE_BASIC_INFO basic{};
        if (!::GetFileInformationByHandleEx(file.h, FileBasicInfo, &basic, sizeof basic)) raiseLastError();
        basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(file.h, FileBasicInfo, &basic, sizeof basic)) raiseLastError();
    }
    // Deleted through the handle: the file that was checked is the one that goes.
    // Set by position: <windows.h> renames the member after its DeleteFile macro.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(file.h, FileDispositionInfo, &disposition, sizeof disposition)) {
        raiseLastError();
    }
}
