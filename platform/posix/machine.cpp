// Machine-root path mapping for the posix backend.
// May contain: POSIX calls (opendir, stat), no program logic.
#include "platform/posix/machine.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` whose name equals `component` without regard to case;
// an exact match wins, so two names differing only in case stay reachable.
std::string matchComponent(const std::string& folder, const std::string& component) {
    const std::string exact = folder == "/" ? "/" + component : folder + "/" + component;
    if (exists(exact)) return component;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return component;
    std::string found = component;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, component.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string machineRoot() {
    const char* root = std::getenv("VORBEX_MACHINE");
    std::string value = (root != nullptr && *root != '\0') ? root : "/var/lib/vorbex";
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value;
}

std::string registryFilePath() { return machineRoot() + "/system.reg"; }

std::string mapPath(const std::string& windowsPath) {
    std::string rest = windowsPath;
    char drive = 'c';
    if (rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
        drive = static_cast<char>(rest[0] | 0x20);
        rest = rest.substr(2);
    }
    const std::string root = machineRoot();
    std::string base = root + "/drive_" + drive;
    if (drive == 'z' && !isDirectory(base)) base = "/";

    std::vector<std::string> parts;
    std::string current;
    auto flush = [&] {
        if (current.empty() || current == ".") {
        } else if (current == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(current);
        }
        current.clear();
    };
    for (char c : rest) {
        if (c == '\\' || c == '/') flush();
        else current += c;
    }
    flush();

    std::string path = base;
    for (const auto& part : parts) {
        const std::string name = matchComponent(path, part);
        path = (path == "/") ? "/" + name : path + "/" + name;
    }
    return path;
}

std::string windowsPathOf(const std::string& posixPath) {
    const std::string prefix = machineRoot() + "/drive_";
    std::string drive = "Z:";
    std::string rest = posixPath;
    if (posixPath.compare(0, prefix.size(), prefix) == 0 && posixPath.size() > prefix.size()) {
        const char letter = posixPath[prefix.size()];
        const std::size_t after = prefix.size() + 1;
        if (after == posixPath.size() || posixPath[after] == '/') {
            drive = std::string(1, static_cast<char>(letter & ~0x20)) + ":";
            rest = posixPath.substr(after);
        }
    }
    for (char& c : rest) {
        if (c == '/') c = '\\';
    }
    if (rest.empty()) rest = "\\";
    return drive + rest;
}

std::string systemMessageText(long code) {
    if (code <= 0 || code > 4095) return "";
    char buffer[256];
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return "";
    return std::string(text) + "\r\n";
}
