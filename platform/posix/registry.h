// The posix backend of the registry, over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in registry.cpp.
#pragma once

#include <map>
#include <string>

#include "platform/registry.h"

/// The registry read from <root>/system.reg (registry.cpp). Read only.
class PosixRegistry : public Registry {
public:
    long OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) override;
    long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                    std::uint32_t* size) override;
    long CloseKey(RegHandle key) override;

private:
    struct Value {
        std::uint32_t type = 0;
        // The string types: the text with its NUL(s); REG_DWORD: 4 bytes,
        // little-endian; every other type: its bytes as written.
        std::string data;
    };
    // Values by upper-cased value name, keys by upper-cased full key path.
    using Values = std::map<std::string, Value>;
    std::map<RegHandle, Values> open_;
    RegHandle next_ = 0x1000;
};
