// Reading other processes in /proc.
// May contain: /proc reads; nothing of the program's logic.
#include "platform/posix/proc_reader.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/posix/fd.h"

namespace {

std::string procPath(pid_t pid, const char* file) { return "/proc/" + std::to_string(pid) + "/" + file; }

std::string baseName(std::string_view path) {
    const auto pos = path.find_last_of("/\\");
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

// The numbers after a status field's name ("Uid:\t1000\t1000\t...").
std::vector<unsigned long> numbersOf(const std::string& line, std::size_t from) {
    std::vector<unsigned long> values;
    const char* p = line.c_str() + from;
    char* next = nullptr;
    for (;;) {
        const unsigned long v = std::strtoul(p, &next, 10);
        if (next == p) break;
        values.push_back(v);
        p = next;
    }
    return values;
}

}  // namespace

bool processIds(std::vector<pid_t>& ids) {
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return false;
    ids.clear();
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
        ids.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return true;
}

std::string executableName(pid_t pid) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(procPath(pid, "exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<std::size_t>(n));
        constexpr std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
            path.resize(path.size() - deleted.size());
        }
        return baseName(path);
    }
    std::string text;
    if (readWhole(procPath(pid, "cmdline"), text) && !text.empty() && text[0] != '\0') {
        return baseName(std::string_view(text.c_str()));
    }
    if (readWhole(procPath(pid, "comm"), text)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
        return text;
    }
    return "";
}

bool readIdentity(pid_t pid, ProcIdentity& identity) {
    std::string status;
    if (!readWhole(procPath(pid, "status"), status)) return false;
    bool haveUid = false, haveGid = false;
    std::size_t start = 0;
    while (start < status.size()) {
        std::size_t end = status.find('\n', start);
        if (end == std::string::npos) end = status.size();
        const std::string line = status.substr(start, end - start);
        start = end + 1;
        // The second number is the effective id.
        if (line.rfind("Uid:", 0) == 0) {
            const auto v = numbersOf(line, 4);
            if (v.size() >= 2) identity.uid = static_cast<uid_t>(v[1]), haveUid = true;
        } else if (line.rfind("Gid:", 0) == 0) {
            const auto v = numbersOf(line, 4);
            if (v.size() >= 2) identity.gid = static_cast<gid_t>(v[1]), haveGid = true;
        } else if (line.rfind("Groups:", 0) == 0) {
            identity.groups.clear();
            for (unsigned long g : numbersOf(line, 7)) identity.groups.push_back(static_cast<gid_t>(g));
        }
    }
    if (!haveUid || !haveGid) {
        errno = EIO;
        return false;
    }
    return true;
}

bool readEnvironment(pid_t pid, std::vector<std::string>& environment) {
    std::string text;
    if (!readWhole(procPath(pid, "environ"), text)) return false;
    environment.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) environment.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return true;
}

bool readStat(pid_t pid, ProcStat& stat) {
    std::string text;
    if (!readWhole(procPath(pid, "stat"), text)) return false;
    // The fields after the command name, which may itself hold blanks and ")".
    const auto close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::vector<std::string> fields;
    std::size_t pos = close + 1;
    while (pos < text.size() && fields.size() < 20) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        const std::size_t end = text.find(' ', pos);
        fields.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end == std::string::npos ? text.size() : end;
    }
    if (fields.size() < 20 || fields[0].empty()) return false;
    stat.state = fields[0][0];
    stat.ppid = static_cast<pid_t>(std::strtol(fields[1].c_str(), nullptr, 10));
    stat.startTime = std::strtoull(fields[19].c_str(), nullptr, 10);
    return true;
}

std::map<pid_t, ProcStat> allProcesses() {
    std::map<pid_t, ProcStat> found;
    std::vector<pid_t> ids;
    if (!processIds(ids)) return found;
    for (pid_t pid : ids) {
        ProcStat stat;
        if (readStat(pid, stat)) found.emplace(pid, stat);
    }
    return found;
}
