// The registry through advapi32.
// May contain: the advapi32 registry calls; no program logic.
#include "platform/win32/registry.h"

#include "platform/win32/windows.h"

namespace {
HKEY keyOf(RegHandle handle) { return reinterpret_cast<HKEY>(handle); }
}  // namespace

long Win32Registry::OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) {
    HKEY opened = nullptr;
    const LONG rc = ::RegOpenKeyExA(keyOf(hive), subkey.c_str(), 0, access | KEY_WOW64_32KEY, &opened);
    if (rc == ERROR_SUCCESS) key = reinterpret_cast<RegHandle>(opened);
    return rc;
}

long Win32Registry::QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                               std::uint32_t* size) {
    DWORD storedType = 0;
    DWORD bytes = size != nullptr ? *size : 0;
    const LONG rc = ::RegQueryValueExA(keyOf(key), name.c_str(), nullptr, &storedType,
                                       reinterpret_cast<BYTE*>(data), size != nullptr ? &bytes : nullptr);
    if (type != nullptr) *type = storedType;
    if (size != nullptr) *size = bytes;
    return rc;
}

long Win32Registry::CloseKey(RegHandle key) { return ::RegCloseKey(keyOf(key)); }
