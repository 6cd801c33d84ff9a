// Holding a verified file: a handle that shares reading only.
// May contain: kernel32 file calls; no program logic.
#include "platform/win32/filesystem.h"

#include "platform/win32/windows.h"

#include "base/errors.h"
#include "platform/win32/handle.h"

namespace {

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    FILETIME written{};
};

bool identityOf(HANDLE file, FileIdentity& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return false;
    out = FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                       info.nFileSizeHigh,        info.nFileSizeLow,   info.ftLastWriteTime};
    return true;
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow &&
           a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow &&
           a.written.dwHighDateTime == b.written.dwHighDateTime && a.written.dwLowDateTime == b.written.dwLowDateTime;
}

// Without FILE_SHARE_WRITE and FILE_SHARE_DELETE, the system refuses every
// open that would write, replace, rename or delete the file for as long as
// this handle is open; opens that only read still succeed.
class Win32FileHold : public FileHold {
public:
    Win32FileHold(std::string path, Handle file, const FileIdentity& seen)
        : path_(std::move(path)), file_(std::move(file)), seen_(seen) {}

    bool KeepsWritersOut() const override { return true; }

    // Nothing can have changed it; the path is still asked, so that a fault
    // of the hold itself would show rather than pass.
    bool Unchanged() override {
        FileIdentity held, named;
        if (!identityOf(file_.h, held) || !(held == seen_)) return false;
        // Reading attributes asks for no sharing, so the hold does not refuse it.
        const Handle probe(::CreateFileA(path_.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        return probe.valid() && identityOf(probe.h, named) && named == seen_;
    }

private:
    std::string path_;
    Handle file_;
    FileIdentity seen_;
};

}  // namespace

std::unique_ptr<FileHold> Win32FileSystem::HoldFile(const std::string& path) {
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) throw runError(err::FileNotFound);
        if (code == ERROR_PATH_NOT_FOUND) throw runError(err::PathNotFound);
        throw RunError{err::PermissionDenied, code == ERROR_SHARING_VIOLATION
                                                  ? "Permission denied (another process has the file open to change it)"
                                                  : errorDescription(err::PermissionDenied)};
    }
    FileIdentity seen;
    if (::GetFileType(file.h) != FILE_TYPE_DISK || !identityOf(file.h, seen)) throw runError(err::PermissionDenied);
    return std::make_unique<Win32FileHold>(path, std::move(file), seen);
}
