// Shell folders and short names through shell32 and kernel32.
// May contain: those calls; no program logic.
#include "platform/win32/paths.h"

#include <windows.h>
#include <shlobj.h>

std::string Win32Paths::ProgramFilesFolder() {
    LPITEMIDLIST items = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES, &items)) || items == nullptr) return "";
    char buffer[512] = {};
    const BOOL ok = ::SHGetPathFromIDListA(items, buffer);
    ::CoTaskMemFree(items);
    return ok ? std::string(buffer) : std::string();
}

std::string Win32Paths::ShortPath(const std::string& path) {
    std::string buffer(165, '\0');
    DWORD n = ::GetShortPathNameA(path.c_str(), buffer.data(), 164);
    if (n >= 164) {
        // Too long for the program's buffer: n is the size needed.
        buffer.assign(n + 1, '\0');
        n = ::GetShortPathNameA(path.c_str(), buffer.data(), n + 1);
        if (n > buffer.size()) n = 0;
    }
    buffer.resize(n);
    return buffer;
}
