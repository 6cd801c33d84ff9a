// The MD5 library: the checksum of a whole file, in the two forms the agent's
// MD5 component offers (plain, and reading the file in blocks of a given size).
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <cstdint>
#include <string>

class Md5Library {
public:
    virtual ~Md5Library() = default;

    /// KGetMD5: the MD5 digest (RFC 1321) of the whole content of a file.
    ///   path  - Windows path of the file; the backend maps it to its own file system.
    ///   md5   - on success the digest as 32 hexadecimal digits; the caller empties it
    ///           first. Left as it was on failure.
    ///   size  - on success the file's size in bytes as decimal text. Left as it was
    ///           on failure.
    ///   error - on failure a readable text saying why (the system's reason when the
    ///           file could not be opened or read); emptied on success.
    /// Result: non-zero on success, 0 on failure. The posix backend never throws;
    /// the Win32 backend raises RunError err::FileNotFound when the library cannot
    /// be loaded and err::DllEntryNotFound when it lacks the function, as the
    /// runtime does for a DLL declaration it cannot bind.
    /// The caller passes the same three out-values to KGetMD5WBlock after a failure,
    /// so whatever this call left in them is what that call starts with.
    /// Platforms: the Windows library returns the digest in either letter case; the
    /// posix backend writes lower case.
    virtual std::int16_t KGetMD5(const std::string& path, std::string& md5, std::string& size,
                                 std::string& error) = 0;

    /// KGetMD5WBlock: the same digest, reading the file in blocks of `blockSize`
    /// kilobytes. `blockSize` is the text read from the configuration, not converted
    /// by the caller; the backend takes its numeric value, and an empty or unusable
    /// size makes the call fail with an error text. The other arguments and the
    /// result are as for KGetMD5.
    virtual std::int16_t KGetMD5WBlock(const std::string& path, const std::string& blockSize, std::string& md5,
                                       std::string& size, std::string& error) = 0;
};
