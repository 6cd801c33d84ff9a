// The registry interface, shaped like the advapi32 calls the program makes.
// May contain: the interface, its constants and an RAII holder; no system calls.
#pragma once

#include <cstdint>
#include <string>

using RegHandle = std::uintptr_t;

namespace reg {
/// The predefined key as the system spells it: a 32-bit negative number
/// widened to the handle's size (0xFFFFFFFF80000002 in a 64-bit program).
inline constexpr RegHandle HKEY_LOCAL_MACHINE =
    static_cast<RegHandle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));
inline constexpr std::uint32_t KEY_QUERY_VALUE = 0x1;
inline constexpr std::uint32_t KEY_READ = 0x20019;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_MORE_DATA = 234;
}  // namespace reg

class Registry {
public:
    virtual ~Registry() = default;
    /// RegOpenKeyExA: opens `subkey` below `hive`; 0 and a handle, or an error code.
    virtual long OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) = 0;
    /// RegQueryValueExA: `type` receives the stored type. With `data` null only
    /// `size` is filled (bytes, a string's terminating NUL included). With a
    /// buffer of `size` bytes that is too small: ERROR_MORE_DATA and the size needed.
    virtual long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                            std::uint32_t* size) = 0;
    /// RegCloseKey.
    virtual long CloseKey(RegHandle key) = 0;
};

/// Owns an open registry key and closes it on every way out.
class ScopedRegKey {
public:
    ScopedRegKey(Registry& sys, RegHandle key) : sys_(&sys), key_(key) {}
    ~ScopedRegKey() {
        if (key_ != 0) sys_->CloseKey(key_);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    RegHandle get() const { return key_; }

private:
    Registry* sys_;
    RegHandle key_;
};
