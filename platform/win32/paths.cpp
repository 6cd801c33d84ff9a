// Shell folders and short names through shell32 and kernel32.
// May contain: those calls; no program logic.
#include "platform/win32/paths.h"

#include "platform/win32/windows.h"
#include <shlobj.h>

std::string Win32Paths::ProgramFilesFolder() {
    LPITEMIDLIST items = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILESX86, &items)) || items == nullptr) return "";
    char buffer[512] = {};
    const BOOL ok = ::SHGetPathFromIDListA(items, buffer);
    ::CoTaskMemFree(items);
    return ok ? std::string(buffer) : std::string();
}

std::string Win32Paths::ShortPath(const std::string& path) {
    // The first try fits every ordinary path; a longer short form answers with
    // the size it needs, and the path may change between the two calls, so a
    // few tries are allowed before giving up.
    std::string buffer(165, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = ::GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return "";
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(n + 1, '\0');
    }
    return "";
}
