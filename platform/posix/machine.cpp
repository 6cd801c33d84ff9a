// Machine-root path mapping for the posix backend.
// May contain: POSIX calls (open, stat), no program logic.
#include "platform/posix/machine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/folder_index.h"
#include "platform/posix/sys_calls.h"

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The entry of `folder` whose name equals `component` (the program's text)
// without regard to case, for a component not found as spelled; nothing when
// there is none.
std::optional<std::string> matchComponent(const std::string& folder, const std::string& component) {
    const Fd dir{posix::sysCalls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0)};
    if (dir.fd < 0) return std::nullopt;
    return otherCaseIn(dir.fd, component);
}

}  // namespace

std::string machineRoot() {
    const char* root = std::getenv("VORBEX_MACHINE");
    std::string value = (root != nullptr && *root != '\0') ? root : "/var/lib/vorbex";
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value;
}

std::string registryFilePath() { return machineRoot() + "/system.reg"; }

namespace {

// A Windows path taken apart: the host folder of its drive and the components
// below it (views into the path), with "." and empty ones dropped and ".." applied.
struct Spelled {
    std::string base;
    std::vector<std::string_view> parts;
};

Spelled spelled(std::string_view windowsPath) {
    char drive = 'c';
    if (windowsPath.size() >= 2 && windowsPath[1] == ':' &&
        ((windowsPath[0] >= 'A' && windowsPath[0] <= 'Z') || (windowsPath[0] >= 'a' && windowsPath[0] <= 'z'))) {
        drive = static_cast<char>(windowsPath[0] | 0x20);
        windowsPath.remove_prefix(2);
    }
    Spelled out;
    out.base = machineRoot() + "/drive_" + drive;
    if (drive == 'z' && !isDirectory(out.base)) out.base = "/";
    while (!windowsPath.empty()) {
        const std::size_t end = std::min(windowsPath.find_first_of("\\/"), windowsPath.size());
        const std::string_view part = windowsPath.substr(0, end);
        windowsPath.remove_prefix(std::min(end + 1, windowsPath.size()));
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!out.parts.empty()) out.parts.pop_back();
        } else {
            out.parts.push_back(part);
        }
    }
    return out;
}

std::string joinedAll(const Spelled& path) {
    std::string out = path.base;
    for (const std::string_view part : path.parts) {
        if (out != "/") out += '/';
        out += utf8FromCodePage(part);
    }
    return out;
}

}  // namespace

std::string spelledPath(const std::string& windowsPath) { return joinedAll(spelled(windowsPath)); }

std::string mapPath(const std::string& windowsPath) {
    const Spelled given = spelled(windowsPath);
    // The path as spelled, when it exists, is the answer with one look:
    // an exact match wins at every component.
    const std::string exact = joinedAll(given);
    if (given.parts.empty() || exists(exact)) return exact;
    std::string path = given.base;
    for (std::size_t i = 0; i < given.parts.size(); ++i) {
        const std::string part(given.parts[i]);
        const std::string asSpelled = joined(path, utf8FromCodePage(part));
        if (exists(asSpelled)) {
            path = asSpelled;
            continue;
        }
        const std::optional<std::string> other = matchComponent(path, part);
        if (!other) {
            // Below a component that does not exist nothing can: the rest stays as spelled.
            for (; i < given.parts.size(); ++i) path = joined(path, utf8FromCodePage(given.parts[i]));
            break;
        }
        path = joined(path, *other);
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
    return drive + codePageFromUtf8(rest);
}

std::string systemMessageText(long code) {
    if (code <= 0 || code > 4095) return "";
    char buffer[256];
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return "";
    return codePageFromUtf8(text) + "\r\n";
}
