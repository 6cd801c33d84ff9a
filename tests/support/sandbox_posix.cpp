// The posix half of the test support: a machine root per sandbox.
// May contain: what test_support.h leaves to the backend, for posix only.
#include <fcntl.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/posix/machine.h"
#include "test_support.h"

namespace fs = std::filesystem;

bool onPosixBackend() { return true; }

std::string programFilesFolder() { return "C:\\Program Files"; }

Sandbox::Sandbox() {
    if (const char* old = std::getenv("VORBEX_MACHINE")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    std::string pattern = (fs::temp_directory_path() / "vorbex-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    ::setenv("VORBEX_MACHINE", root_.c_str(), 1);
    fs::create_directories(root_ + "/drive_c");
}

Sandbox::~Sandbox() {
    std::error_code ec;
    // Files made read-only by a test must not stop the removal.
    for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator(); ++it) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
    if (hadPrevious_) ::setenv("VORBEX_MACHINE", previous_.c_str(), 1);
    else ::unsetenv("VORBEX_MACHINE");
}

std::string Sandbox::hostPath(const std::string& windowsPath) const { return mapPath(windowsPath); }

void Sandbox::writeFile(const std::string& windowsPath, const std::string& bytes) const {
    const fs::path p = hostPath(windowsPath);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Sandbox::readFile(const std::string& windowsPath) const {
    std::ifstream in(hostPath(windowsPath), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Sandbox::exists(const std::string& windowsPath) const { return fs::exists(hostPath(windowsPath)); }

void Sandbox::makeFolder(const std::string& windowsPath) const { fs::create_directories(hostPath(windowsPath)); }

void Sandbox::writeRegistry(const std::string& body) const {
    std::ofstream out(root_ + "/system.reg", std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n" << body;
}

bool setFileTime(const std::string& hostPath, const LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    const timespec stamp{std::mktime(&tm), 0};
    const timespec times[2] = {stamp, stamp};
    // A link gets its own stamps; the file it names keeps its.
    return ::utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string systemMd5Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += "0123456789abcdef"[digest[i] >> 4];
        hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
}
