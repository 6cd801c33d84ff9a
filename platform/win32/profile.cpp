// Profile (INI) files through kernel32.
// May contain: the kernel32 profile calls; no program logic.
#include "platform/win32/profile.h"

#include "platform/win32/windows.h"

#include "platform/win32/retry.h"

std::string Win32ProfileFiles::GetString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue, std::uint32_t bufferChars,
                                         const std::string& file) {
    if (bufferChars == 0) return "";
    std::string buffer(bufferChars, '\0');
    const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                               bufferChars, file.c_str());
    buffer.resize(n < bufferChars ? n : bufferChars - 1);
    return buffer;
}

std::int32_t Win32ProfileFiles::GetInt(const std::string& section, const std::string& key,
                                       std::int32_t defaultValue, const std::string& file) {
    return static_cast<std::int32_t>(
        ::GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, file.c_str()));
}

bool Win32ProfileFiles::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                    const std::string& file) {
    // The system would write such text as it stands, and so add lines.
    if (!storableProfileEntry(ProfileEntry{section, key, value})) return false;
    return win32::retried(file, [&] {
               return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str());
           }) != FALSE;
}

std::vector<bool> Win32ProfileFiles::WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) {
    // Every key is tried even after a failure, as separate calls would be.
    std::vector<bool> written;
    written.reserve(entries.size());
    for (const auto& entry : entries) written.push_back(WriteString(entry.section, entry.key, entry.value, file));
    return written;
}
