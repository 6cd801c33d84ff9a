// The posix backend of the profile (INI) files, over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in profile.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/profile.h"

/// Profile files with Windows semantics over mapped paths (profile.cpp).
class PosixProfileFiles : public ProfileFiles {
public:
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars, const std::string& file) override;
    std::int32_t GetInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                        const std::string& file) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override;
    std::vector<bool> WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) override;
    /// Maps the path and reads the file once; look-ups are hash look-ups.
    std::unique_ptr<ProfileSection> OpenSection(const std::string& section, const std::string& file) override;
};
