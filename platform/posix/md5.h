// The posix backend of the MD5 library: OpenSSL's EVP digest over a file read
// through the machine-root path mapping (machine.h).
// May contain: declarations only; the definitions live in md5.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/md5.h"

/// Streams the file in large reads so that it runs at the speed of md5sum.
/// The plain call reads 1 MiB at a time; the block-wise call reads blocks of
/// the given number of kilobytes (at most kMaxBlockKilobytes).
class PosixMd5Library : public Md5Library {
public:
    static constexpr std::size_t kPlainReadBytes = std::size_t{1} << 20;
    static constexpr double kMaxBlockKilobytes = 65536;  // 64 MiB, a bound on the buffer

    std::int16_t KGetMD5(const std::string& path, std::string& md5, std::string& size, std::string& error) override;
    std::int16_t KGetMD5WBlock(const std::string& path, const std::string& blockSize, std::string& md5,
                               std::string& size, std::string& error) override;
};
