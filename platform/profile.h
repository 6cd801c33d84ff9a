// Profile (INI) files with the GetPrivateProfile*/WritePrivateProfileString meaning:
// sections and keys compared without regard to case, values as written.
#pragma once

#include <cstdint>
#include <string>

class ProfileFiles {
public:
    virtual ~ProfileFiles() = default;
    /// GetPrivateProfileStringA: the value (at most bufferChars - 1 characters),
    /// or `defaultValue` when the file, section or key is missing.
    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::uint32_t bufferChars,
                                  const std::string& file) = 0;
    /// GetPrivateProfileIntA: the value's leading decimal number, or `defaultValue`.
    virtual std::int32_t GetInt(const std::string& section, const std::string& key,
                                std::int32_t defaultValue, const std::string& file) = 0;
    /// WritePrivateProfileStringA: writes key=value, creating section and file
    /// (when the folder exists); every other line stays as it was. The file is
    /// replaced as a whole so that a reader never sees half of it. False on failure.
    virtual bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                             const std::string& file) = 0;
};
