// objFSO over the Win32 file API.
// May contain: Win32 file calls and the mapping of their error codes to the
// scripting runtime's error numbers; no program logic.
#include "platform/win32/filesystem.h"

#include "platform/win32/windows.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "platform/buffered_stream.h"
#include "platform/file_order.h"
#include "platform/path_components.h"
#include "platform/win32/file_calls.h"
#include "platform/win32/handle.h"
#include "platform/win32/retry.h"
#include "platform/win32/support.h"


namespace {

using win32::kShareAll;
constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

using win32::errorFor;
using win32::raiseLastError;

}  // namespace

RunError win32::errorFor(DWORD code) {
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

[[noreturn]] void win32::raiseLastError() {
    const DWORD code = ::GetLastError();
    throw errorFor(code);
}

namespace {

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
        if (!::ReadFile(file_.h, data, static_cast<DWORD>(size), &got, nullptr)) {
            const DWORD code = ::GetLastError();
            // A pipe whose writer has gone is at its end, as a file would be.
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
            throw errorFor(code);
        }
        return got;
    }
    void writeRaw(const char* data, std::size_t size) override { writeAll(file_.h, data, size); }
    bool isOpen() const override { return file_.valid(); }
    void closeRaw() override { file_.reset(); }

private:
    Handle file_;
};

// The shared run log. Appending through FILE_APPEND_DATA is one step on
// NTFS, but not on every file system (Wine's, for one, seeks and then
// writes, so two runs can write over each other's line). Each write is
// therefore made under a byte-range lock far past any end the log reaches.
// The lock is asked for without blocking and for a bounded time: whoever
// else can open the log must not be able to stall a run, so a stream that
// once waits in vain writes unguarded from then on.
class SharedLogStream : public Win32TextStream {
public:
    explicit SharedLogStream(HANDLE file) : Win32TextStream(file, false), log_(file) {}

protected:
    void writeRaw(const char* data, std::size_t size) override {
        const bool locked = guarded_ && lock();
        try {
            Win32TextStream::writeRaw(data, size);
        } catch (...) {
            if (locked) unlock();
            throw;
        }
        if (locked) unlock();
    }

private:
    static constexpr DWORD kLockHigh = 0x7FFFFFFF;
    static constexpr DWORD kLockLow = 0xFFFFFFF0;
    static constexpr int kLockTries = 2000;  // a millisecond apart

    bool lock() {
        for (int i = 0; i < kLockTries; ++i) {
            OVERLAPPED at{};
            at.Offset = kLockLow;
            at.OffsetHigh = kLockHigh;
            if (::LockFileEx(log_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
            if (::GetLastError() != ERROR_LOCK_VIOLATION) break;
            ::Sleep(1);
        }
        guarded_ = false;
        return false;
    }
    void unlock() {
        OVERLAPPED at{};
        at.Offset = kLockLow;
        at.OffsetHigh = kLockHigh;
        ::UnlockFileEx(log_, 0, 1, 0, &at);
    }

    HANDLE log_;  // owned by the base stream
    bool guarded_ = true;
};

}  // namespace

std::unique_ptr<TextStream> win32::streamOver(Handle file, bool forReading) {
    return std::make_unique<Win32TextStream>(file.release(), forReading);
}

namespace {

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
    const Handle alone(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!alone.valid()) return;
    // Measured again through the handle: another start may have cut it since.
    LARGE_INTEGER size{};
    LARGE_INTEGER zero{};
    DWORD failure = ERROR_SUCCESS;
    if (::GetFileSizeEx(alone.h, &size) && static_cast<std::uint64_t>(size.QuadPart) >= restartSize &&
        (!::SetFilePointerEx(alone.h, zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(alone.h))) {
        failure = ::GetLastError();
    }
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
    // Reading data is asked for only because a byte-range lock needs it.
    constexpr DWORD kAppend = FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    Handle file(openChecked(path, false, kAppend, OPEN_ALWAYS));
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.h, &size) && static_cast<std::uint64_t>(size.QuadPart) >= restartSize) {
        // This handle is a writer too: it goes while the log is asked for alone.
        file.reset();
        restartIfAlone(path, restartSize);
        file = Handle(openChecked(path, false, kAppend, OPEN_ALWAYS));
    }
    return std::make_unique<SharedLogStream>(file.release());
}

namespace {

// Deletes the partial file of PlaceNewFile, if there is one; a link there is
// deleted as itself. Whether it worked shows in what is done next.
void removePartial(const std::string& partial) {
    win32::retried(partial, [&] { return ::DeleteFileA(partial.c_str()); });
}

}  // namespace

void Win32FileSystem::PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) {
    // The system reads "/" as a separator and folds "..": a name holding them
    // would create, or delete, a file elsewhere.
    checkPlacedNames(partial, target);
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
