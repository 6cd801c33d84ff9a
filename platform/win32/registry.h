// The Win32 backend of the registry interface.
// May contain: the declaration of the backend class; the advapi32 calls live in registry.cpp.
#pragma once

#include "platform/registry.h"

/// The system registry through RegOpenKeyExA, RegQueryValueExA and
/// RegCloseKey, passed through unchanged: the results are the Windows error
/// codes. A 32-bit program on 64-bit Windows sees the 32-bit view of
/// HKEY_LOCAL_MACHINE\SOFTWARE, as the agent that writes these keys does.
class Win32Registry : public Registry {
public:
    long OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) override;
    long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                    std::uint32_t* size) override;
    long CloseKey(RegHandle key) override;
};
