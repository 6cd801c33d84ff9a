// The Win32 backend of the registry interface.
// May contain: the declaration of the backend class; the advapi32 calls live in registry.cpp.
#pragma once

#include "platform/registry.h"

/// The system registry through RegOpenKeyExA, RegQueryValueExA and
/// RegCloseKey, passed through unchanged: the results are the Windows error
/// codes. Keys are opened in the 32-bit view (KEY_WOW64_32KEY), the one the
/// agent writes its keys in and a 32-bit program sees on 64-bit Windows
/// anyway, so a 64-bit build of the program reads the same keys.
class Win32Registry : public Registry {
public:
    long OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) override;
    long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                    std::uint32_t* size) override;
    long CloseKey(RegHandle key) override;
};
