// The Win32 backend of the MD5 library: the agent's KGnMD5.dll, called directly.
// May contain: the declaration of the backend class; the DLL calls live in md5.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/md5.h"

/// Calls KGetMD5 and KGetMD5WBlock of the MD5 library DLL with the argument
/// passing that library expects (__stdcall; path and block size as VARIANT
/// values, the MD5, size and error texts as VARIANTs by reference; a 16-bit
/// result). The texts go in and out as the VARIANTs hold them: an empty text
/// goes in as an empty VARIANT, except the MD5, which goes in as a string.
///
/// The caller hands KGetMD5WBlock the three texts KGetMD5 gave back; the
/// library then gets the very VARIANTs the first call left, not VARIANTs
/// rebuilt from their texts (a number stays a number, Null stays Null, and a
/// character the code page cannot carry is not lost). Texts that differ from
/// those the first call gave back go in as new VARIANTs.
///
/// The library is loaded at the first call and kept until this object ends.
/// Unlike the posix backend, a library that cannot be loaded raises
/// err::FileNotFound ("File not found: KGnMD5.dll") and a missing function
/// err::DllEntryNotFound, as the runtime reports a failed DLL declaration; the
/// caller's handler then takes the unexpected-error path.
class Win32Md5Library : public Md5Library {
public:
    /// `library`: the DLL to load; a bare name is searched for as the system
    /// searches DLLs, the executable's own folder first.
    explicit Win32Md5Library(std::string library = "KGnMD5.dll");
    ~Win32Md5Library() override;
    Win32Md5Library(const Win32Md5Library&) = delete;
    Win32Md5Library& operator=(const Win32Md5Library&) = delete;

    std::int16_t KGetMD5(const std::string& path, std::string& md5, std::string& size, std::string& error) override;
    std::int16_t KGetMD5WBlock(const std::string& path, const std::string& blockSize, std::string& md5,
                               std::string& size, std::string& error) override;

private:
    /// The address of an export; raises RunError when the library or the
    /// function is missing.
    void* function(const char* name);

    std::string library_;
    void* module_ = nullptr;  // HMODULE
    /// The MD5, size and error VARIANTs the last KGetMD5 left (their texts are
    /// what it gave back); null once a block call has taken them.
    struct OutValues;
    std::unique_ptr<OutValues> carried_;
};
