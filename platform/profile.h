// Profile (INI) files with the GetPrivateProfile*/WritePrivateProfileString meaning:
// sections and keys compared without regard to case, values as written.
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One key=value of a section, for writing several keys at once.
struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
};

/// One section of a profile file, opened for many look-ups.
class ProfileSection {
public:
    virtual ~ProfileSection() = default;
    /// What ProfileFiles::GetString gives for `key` of this section.
    virtual std::string GetString(const std::string& key, const std::string& defaultValue,
                                  std::uint32_t bufferChars) = 0;
};

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
    /// (when the folder exists); every other line stays as it was. False on
    /// failure, and for an entry that is not storableProfileEntry.
    /// Platforms: posix replaces the file as a whole (a temporary file, then a
    /// rename), so a reader never sees half of it; Win32 leaves the writing to
    /// the system's profile call, which rewrites the file in place.
    virtual bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                             const std::string& file) = 0;
    /// Writes several keys, in order, with the result of as many WriteString
    /// calls: an entry that is not storable is skipped and every other one is
    /// still written. One flag per entry, true when that entry was written.
    /// Platforms: posix makes one replacement of the file for all of them, so
    /// the flags are all false when the file could not be written; Win32 makes
    /// one profile call per entry, so a failure costs only the entries it hits
    /// and a reader may see the file between two of them.
    virtual std::vector<bool> WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) = 0;
    /// One section of a file for many look-ups, each answered as GetString
    /// would answer it while nobody writes the file (hold its lock). This
    /// version asks GetString each time; a backend that would map the path and
    /// read the file for every look-up reads it once instead.
    virtual std::unique_ptr<ProfileSection> OpenSection(const std::string& section, const std::string& file);
};

/// True when the entry can be stored as one "key=value" line of its section.
/// Keys come from scripts' output: a line break would add lines of its own,
/// and a key with "=" or a leading "[" or ";" (after blanks) would read back
/// as another key, a section or a comment, so such an entry is never written.
inline bool storableProfileEntry(const ProfileEntry& entry) {
    const auto breaks = [](const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; };
    const auto first = entry.key.find_first_not_of(' ');
    return !breaks(entry.section) && !breaks(entry.key) && !breaks(entry.value) &&
           entry.section.find(']') == std::string::npos && first != std::string::npos &&
           entry.key.find('=') == std::string::npos && entry.key[first] != '[' && entry.key[first] != ';';
}
