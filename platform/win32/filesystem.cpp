// objFSO over the Win32 file API.
// May contain: Win32 file calls and the mapping of their error codes to the
// scripting runtime's error numbers; no program logic.
#include "platform/win32/filesystem.h"

#include "platform/win32/windows.h"
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "platform/buffered_stream.h"
#include "platform/file_order.h"
#include "platform/path_components.h"
#include "platform/win32/retry.h"
#include "platform/win32/support.h"


namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

// The scripting runtime's error for a Win32 error code.
RunError errorFor(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_MOD_NOT_FOUND:
            return runError(err::FileNotFound);
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_DIRECTORY:
            return runError(err::PathNotFound);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_CURRENT_DIRECTORY:
            return runError(err::PermissionDenied);
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
        case ERROR_DIR_NOT_EMPTY:
            return runError(err::FileExists);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return runError(err::DiskFull);
        case ERROR_NOT_SAME_DEVICE:
            return runError(err::RenameAcrossDrives);
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return runError(err::BadFileName);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return runError(err::OutOfMemory);
        default:
            return runError(err::DeviceIO);
    }
}

[[noreturn]] void raiseLastError() {
    const DWORD code = ::GetLastError();
    throw errorFor(code);
}

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

bool isFolderAttr(DWORD attributes) {
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFileAttr(DWORD attributes) {
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A missing entry is "File not found" when its folder exists and "Path not
// found" when the folder is missing, whatever code the call itself gave.
RunError missingEntryError(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return runError(err::FileNotFound);
    std::string folder = path.substr(0, slash);
    if (folder.empty() || folder.back() == ':') folder += '\\';
    return runError(isFolderAttr(attributesOf(folder)) ? err::FileNotFound : err::PathNotFound);
}

LocalTime localTimeOf(const FILETIME& utc) {
    SYSTEMTIME system{}, local{};
    // The zone rules in force on that date, as Explorer shows a creation date.
    if (!::FileTimeToSystemTime(&utc, &system) || !::SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) {
        return LocalTime{};
    }
    return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

// Writes all bytes, going on after partial writes.
void writeAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr)) raiseLastError();
        if (written == 0) throw runError(err::DeviceIO);
        data += written;
        size -= written;
    }
}

class Win32TextStream : public BufferedTextStream {
public:
    Win32TextStream(HANDLE file, bool forReading) : BufferedTextStream(forReading), file_(file) {}
    ~Win32TextStream() override { closeRaw(); }

protected:
    std::size_t readRaw(char* data, std::size_t size) override {
        DWORD got = 0;
        if (!::ReadFile(file_, data, static_cast<DWORD>(size), &got, nullptr)) {
            const DWORD code = ::GetLastError();
            // A pipe whose writer has gone is at its end, as a file would be.
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
            throw errorFor(code);
        }
        return got;
    }
    void writeRaw(const char* data, std::size_t size) override { writeAll(file_, data, size); }
    bool isOpen() const override { return file_ != INVALID_HANDLE_VALUE; }
    void closeRaw() override {
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE file_;
};

// Opens `path` with the given access and disposition, shared with everyone,
// and returns the handle. An existing folder or read-only file refuses
// writing; the call itself says so for a read-only file, but only after a
// sharing check, so it is asked first. A passing refusal (a scanner's
// handle, another start cutting the log) is waited out.
HANDLE openChecked(const std::string& path, bool forReading, DWORD access, DWORD disposition) {
    const DWORD attributes = attributesOf(path);
    if (isFolderAttr(attributes)) throw runError(err::PermissionDenied);
    if (!forReading && attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        throw runError(err::PermissionDenied);
    }
    const HANDLE file = win32::retried(path, [&] {
        return ::CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    });
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) throw missingEntryError(path);
    throw errorFor(code);
}

std::unique_ptr<TextStream> openStream(const std::string& path, bool forReading, DWORD access, DWORD disposition,
                                       bool append) {
    const HANDLE file = openChecked(path, forReading, access, disposition);
    if (append) {
        // FILE_APPEND_DATA alone already writes at the end; starting there
        // keeps the same result where a file system ignores that.
        LARGE_INTEGER zero{};
        ::SetFilePointerEx(file, zero, nullptr, FILE_END);
    }
    return std::make_unique<Win32TextStream>(file, forReading);
}

// Empties the log at `path` if it has reached `restartSize` bytes and no
// other process has it open. Every writer holds a handle that writes, so a
// handle that shares no writing is granted only to a process alone with the
// log. It is asked for once: a log in use goes on growing until a start finds
// it alone, as under the posix backend's lock.
void restartIfAlone(const std::string& path, std::uint64_t restartSize) {
    const HANDLE alone = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (alone == INVALID_HANDLE_VALUE) return;
    // Measured again through the handle: another start may have cut it since.
    LARGE_INTEGER size{};
    LARGE_INTEGER zero{};
    DWORD failure = ERROR_SUCCESS;
    if (::GetFileSizeEx(alone, &size) && static_cast<std::uint64_t>(size.QuadPart) >= restartSize &&
        (!::SetFilePointerEx(alone, zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(alone))) {
        failure = ::GetLastError();
    }
    ::CloseHandle(alone);
    if (failure != ERROR_SUCCESS) throw errorFor(failure);
}

}  // namespace

bool Win32FileSystem::FolderExists(const std::string& path) { return isFolderAttr(attributesOf(path)); }

bool Win32FileSystem::FileExists(const std::string& path) { return isFileAttr(attributesOf(path)); }

void Win32FileSystem::CreateFolder(const std::string& path) {
    if (!::CreateDirectoryA(path.c_str(), nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) throw runError(err::PathNotFound);
        throw errorFor(code);
    }
}

std::unique_ptr<TextStream> Win32FileSystem::CreateTextFile(const std::string& path, bool overwrite) {
    return openStream(path, false, GENERIC_WRITE, overwrite ? CREATE_ALWAYS : CREATE_NEW, false);
}

std::unique_ptr<TextStream> Win32FileSystem::OpenTextFile(const std::string& path, IOMode mode, bool create) {
    switch (mode) {
        case IOMode::ForReading:
            return openStream(path, true, GENERIC_READ, create ? OPEN_ALWAYS : OPEN_EXISTING, false);
        case IOMode::ForWriting:
            return openStream(path, false, GENERIC_WRITE, create ? CREATE_ALWAYS : TRUNCATE_EXISTING, false);
        case IOMode::ForAppending:
            return openStream(path, false, FILE_APPEND_DATA | SYNCHRONIZE, create ? OPEN_ALWAYS : OPEN_EXISTING,
                              true);
        default:
            throw runError(err::InvalidCall);
    }
}

void Win32FileSystem::CopyFile(const std::string& source, const std::string& target, bool overwrite) {
    if (!isFileAttr(attributesOf(source))) throw runError(err::FileNotFound);
    const DWORD existing = attributesOf(target);
    if (existing != kNoAttributes) {
        if (!overwrite) throw runError(err::FileExists);
        if (isFolderAttr(existing) || (existing & FILE_ATTRIBUTE_READONLY) != 0) {
            throw runError(err::PermissionDenied);
        }
    }
    if (!win32::retried({&source, &target},
                        [&] { return ::CopyFileA(source.c_str(), target.c_str(), overwrite ? FALSE : TRUE); })) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) throw missingEntryError(target);
        throw errorFor(code);
    }
}

void Win32FileSystem::MoveFile(const std::string& source, const std::string& target, bool replace) {
    if (attributesOf(source) == kNoAttributes) throw runError(err::FileNotFound);
    if (replace) {
        const DWORD existing = attributesOf(target);
        if (existing != kNoAttributes && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
            throw runError(err::PermissionDenied);
        }
    }
    // No MOVEFILE_COPY_ALLOWED: a rename is atomic, a copy across drives is not.
    const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    if (!win32::retried({&source, &target}, [&] { return ::MoveFileExA(source.c_str(), target.c_str(), flags); })) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) throw missingEntryError(target);
        throw errorFor(code);
    }
}

void Win32FileSystem::DeleteFile(const std::string& path, bool force) {
    const DWORD attributes = attributesOf(path);
    if (!isFileAttr(attributes)) throw runError(err::FileNotFound);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        if (!force) throw runError(err::PermissionDenied);
        const DWORD writable = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
        if (!win32::retried(path, [&] { return ::SetFileAttributesA(path.c_str(), writable); })) raiseLastError();
    }
    if (!win32::retried(path, [&] { return ::DeleteFileA(path.c_str()); })) raiseLastError();
}

std::uint64_t Win32FileSystem::GetFileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw runError(err::FileNotFound);
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string Win32FileSystem::GetFileVersion(const std::string& path) {
    if (attributesOf(path) == kNoAttributes) throw runError(err::FileNotFound);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return "";  // no version resource
    std::string block(size, '\0');
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return "";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                  static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
    return text;
}

std::vector<FileEntry> Win32FileSystem::GetFiles(const std::string& folder, const FileQuery& query) {
    if (!FolderExists(folder)) throw runError(err::PathNotFound);
    const std::string prefix = endsWith(folder, "\\") ? folder : folder + "\\";
    std::vector<FileEntry> files;
    WIN32_FIND_DATAA found{};
    const HANDLE find = ::FindFirstFileA((prefix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) return files;  // an empty drive root
        throw errorFor(code);
    }
    const std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> closer(find, ::FindClose);
    // The listing hands over each file's date and size with its name: there
    // is nothing to spare by asking later, only the ordering of the rest.
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
        if (query.name && !query.name(found.cFileName)) continue;
        FileEntry file;
        file.name = found.cFileName;
        file.path = prefix + file.name;
        file.dateCreated = localTimeOf(found.ftCreationTime);
        file.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        if (query.entry && !query.entry(file)) continue;
        files.push_back(std::move(file));
    } while (::FindNextFileA(find, &found));
    keepFirstByName(files, query.limit, [](const FileEntry& f) { return std::string_view(f.name); });
    return files;
}

void Win32FileSystem::SetReadOnly(const std::string& path, bool readOnly) {
    const DWORD attributes = attributesOf(path);
    if (attributes == kNoAttributes) throw runError(err::FileNotFound);
    DWORD next = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    // FILE_ATTRIBUTE_NORMAL stands for "no attribute at all".
    if (next == 0) next = FILE_ATTRIBUTE_NORMAL;
    if (!win32::retried(path, [&] { return ::SetFileAttributesA(path.c_str(), next); })) raiseLastError();
}

std::unique_ptr<TextStream> Win32FileSystem::OpenSharedLog(const std::string& path, std::uint64_t restartSize) {
    // Appending only: each line lands whole at the end, wherever the other
    // writers have left it. A sharing violation lasts while another start
    // cuts the log, and openChecked waits it out. The size is read through
    // this handle, which takes the right to read attributes.
    constexpr DWORD kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    HANDLE file = openChecked(path, false, kAppend, OPEN_ALWAYS);
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) && static_cast<std::uint64_t>(size.QuadPart) >= restartSize) {
        // This handle is a writer too: it goes while the log is asked for alone.
        ::CloseHandle(file);
        restartIfAlone(path, restartSize);
        file = openChecked(path, false, kAppend, OPEN_ALWAYS);
    }
    return std::make_unique<Win32TextStream>(file, false);
}

// Confined operations.
namespace {

// Holds a handle for the length of a scope.
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
    bool valid() const { return h != INVALID_HANDLE_VALUE; }
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
        ::CloseHandle(file);
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
    return std::make_unique<Win32TextStream>(file.release(), true);
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

namespace {

// Deletes the partial file of PlaceNewFile, if there is one; a link there is
// deleted as itself. Whether it worked shows in what is done next.
void removePartial(const std::string& partial) {
    win32::retried(partial, [&] { return ::DeleteFileA(partial.c_str()); });
}

}  // namespace

void Win32FileSystem::PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) {
    removePartial(partial);
    // Shared with nobody while it is written; CREATE_NEW never opens what is there.
    Handle out(win32::retried(partial, [&] {
        return ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }));
    if (!out.valid()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) throw missingEntryError(partial);
        // 58 is kept for the final name; the partial one is not to be had.
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) throw runError(err::PermissionDenied);
        throw errorFor(code);
    }
    try {
        writeAll(out.h, text.data(), text.size());
        if (!::FlushFileBuffers(out.h)) raiseLastError();
        out.reset();
        // Without MOVEFILE_REPLACE_EXISTING a taken name is refused; the
        // write-through makes the new name durable before the call returns.
        if (!win32::retried({&partial, &target},
                            [&] { return ::MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH); })) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) throw missingEntryError(target);
            throw errorFor(code);
        }
    } catch (...) {
        out.reset();
        removePartial(partial);
        throw;
    }
}
