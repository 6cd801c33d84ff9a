// The posix MD5 library: OpenSSL's EVP digest, streamed from the mapped file.
// May contain: POSIX file calls and OpenSSL, no program logic.
#include "platform/posix/md5.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>

#include <openssl/evp.h>

#include "base/text.h"
#include "platform/posix/fd.h"
#include "platform/posix/machine.h"
#include "platform/posix/sys_calls.h"

namespace {

struct MdFree {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::string systemReason(int code) {
    char buffer[256];
    return ::strerror_r(code, buffer, sizeof buffer);
}

// Digests the file in reads of `chunk` bytes. Returns "" and fills `hex` and
// `bytes` on success, or the reason for the failure.
std::string digestFile(const std::string& windowsPath, std::size_t chunk, std::string& hex, std::uint64_t& bytes) {
    const std::string path = mapPath(windowsPath);
    // O_NONBLOCK so that a FIFO cannot hold the open; it is refused below anyway.
    Fd file{posix::sysCalls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0)};
    if (file.fd < 0) {
        const int code = errno;
        return "Unable to open file: " + systemReason(code);
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        const int code = errno;
        return "Unable to read file: " + systemReason(code);
    }
    // A device or pipe might never end; only regular files have a checksum.
    if (S_ISDIR(st.st_mode)) return "Unable to read file: " + systemReason(EISDIR);
    if (!S_ISREG(st.st_mode)) return "Unable to read file: not a regular file";
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD, MdFree> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!md || !ctx || EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1) {
        return "MD5 digest is not available";
    }

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[chunk]);
    if (!buffer) return "Unable to read file: " + systemReason(ENOMEM);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = posix::sysCalls.read(file.fd, buffer.get(), chunk);
        if (got < 0) {
            const int code = errno;
            if (code == EINTR) continue;
            return "Unable to read file: " + systemReason(code);
        }
        if (got == 0) break;
        if (EVP_DigestUpdate(ctx.get(), buffer.get(), static_cast<std::size_t>(got)) != 1) {
            return "MD5 digest failed";
        }
        total += static_cast<std::uint64_t>(got);
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return "MD5 digest failed";
    static constexpr char kHex[] = "0123456789abcdef";
    hex.clear();
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    bytes = total;
    return "";
}

std::int16_t finish(const std::string& failure, const std::string& hex, std::uint64_t bytes, std::string& md5,
                    std::string& size, std::string& error) {
    if (!failure.empty()) {
        error = failure;
        return 0;
    }
    md5 = hex;
    size = std::to_string(bytes);
    error.clear();
    return 1;
}

}  // namespace

std::int16_t PosixMd5Library::KGetMD5(const std::string& path, std::string& md5, std::string& size,
                                      std::string& error) {
    std::string hex;
    std::uint64_t bytes = 0;
    const std::string failure = digestFile(path, kPlainReadBytes, hex, bytes);
    return finish(failure, hex, bytes, md5, size, error);
}

std::int16_t PosixMd5Library::KGetMD5WBlock(const std::string& path, const std::string& blockSize,
                                            std::string& md5, std::string& size, std::string& error) {
    const double kilobytes = numericValue(blockSize);
    // Also refuses NaN: the comparison is false for it.
    if (!(kilobytes >= 1 && kilobytes <= kMaxBlockKilobytes)) {
        error = "Invalid block size: \"" + blockSize + "\" KB";
        return 0;
    }
    std::string hex;
    std::uint64_t bytes = 0;
    const std::string failure = digestFile(path, static_cast<std::size_t>(kilobytes * 1024), hex, bytes);
    return finish(failure, hex, bytes, md5, size, error);
}
