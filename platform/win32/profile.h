// The Win32 backend of profile (INI) files.
// May contain: the declaration of the backend class; the kernel32 calls live in profile.cpp.
#pragma once

#include "platform/profile.h"

/// Profile files through the kernel32 profile calls themselves, so every rule
/// of the format (letter case, quotes, comments, where a new key goes) is the
/// system's own. Unlike the posix backend, a write rewrites the file in place
/// as the system does, and WriteStrings makes one system call per key.
class Win32ProfileFiles : public ProfileFiles {
public:
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars, const std::string& file) override;
    std::int32_t GetInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                        const std::string& file) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override;
    std::vector<bool> WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) override;
};
