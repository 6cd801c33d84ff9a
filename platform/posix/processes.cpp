// Processes on Linux: /proc, fork/execve, pidfds, effective-id switching.
// May contain: POSIX and Linux calls; nothing of the program's logic.
#include "platform/posix/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <set>
#include <variant>

#include "platform/posix/machine.h"

extern char** environ;

namespace {

constexpr std::string_view kMachineVariable = "VORBEX_MACHINE";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The pidfd calls by number: this C library's <sys/pidfd.h> lacks C linkage
// for C++ callers.
int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int pidfdKill(int pidfd) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0)); }

// Reads a whole (small, /proc) file; false with errno set when it cannot.
bool readWhole(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
    }
    ::close(fd);
    return true;
}

std::string baseName(std::string_view path) {
    const auto pos = path.find_last_of("/\\");
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

// The executable name of a process, as a snapshot shows it.
std::string executableName(const std::string& procDir) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<std::size_t>(n));
        constexpr std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
            path.resize(path.size() - deleted.size());
        }
        return baseName(path);
    }
    std::string text;
    if (readWhole(procDir + "/cmdline", text) && !text.empty() && text[0] != '\0') {
        return baseName(std::string_view(text.c_str()));
    }
    if (readWhole(procDir + "/comm", text)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
        return text;
    }
    return "";
}

// The effective uid/gid and the groups from /proc/<pid>/status.
bool readIdentity(pid_t pid, PosixProcesses::Identity& identity) {
    std::string status;
    if (!readWhole("/proc/" + std::to_string(pid) + "/status", status)) return false;
    bool haveUid = false, haveGid = false;
    std::size_t start = 0;
    while (start < status.size()) {
        std::size_t end = status.find('\n', start);
        if (end == std::string::npos) end = status.size();
        const std::string line = status.substr(start, end - start);
        start = end + 1;
        auto fields = [&](std::size_t from) {
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
        };
        if (line.rfind("Uid:", 0) == 0) {
            const auto v = fields(4);
            if (v.size() >= 2) identity.uid = static_cast<uid_t>(v[1]), haveUid = true;
        } else if (line.rfind("Gid:", 0) == 0) {
            const auto v = fields(4);
            if (v.size() >= 2) identity.gid = static_cast<gid_t>(v[1]), haveGid = true;
        } else if (line.rfind("Groups:", 0) == 0) {
            identity.groups.clear();
            for (unsigned long g : fields(7)) identity.groups.push_back(static_cast<gid_t>(g));
        }
    }
    if (!haveUid || !haveGid) {
        errno = EIO;
        return false;
    }
    return true;
}

PosixProcesses::Identity currentIdentity() {
    PosixProcesses::Identity id;
    id.uid = ::geteuid();
    id.gid = ::getegid();
    const int n = ::getgroups(0, nullptr);
    if (n > 0) {
        id.groups.resize(static_cast<std::size_t>(n));
        const int got = ::getgroups(n, id.groups.data());
        id.groups.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    return id;
}

bool sameGroups(std::vector<gid_t> a, std::vector<gid_t> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// Switches the effective ids; the groups and gid first, while the effective
// uid still has the right to change them. False with errno on failure.
bool applyEffective(const PosixProcesses::Identity& to) {
    if (::geteuid() != 0 && ::getuid() == 0 && ::seteuid(0) != 0) return false;
    if (::setgroups(to.groups.size(), to.groups.data()) != 0) return false;
    if (::setegid(to.gid) != 0) return false;
    if (::seteuid(to.uid) != 0) return false;
    return true;
}

void putVariable(std::vector<std::string>& env, std::string_view name, const std::string& value) {
    const std::string prefix = std::string(name) + "=";
    for (auto& entry : env) {
        if (entry.compare(0, prefix.size(), prefix) == 0) {
            entry = prefix + value;
            return;
        }
    }
    env.push_back(prefix + value);
}

// A poll on a pidfd: true once the process has ended (a zombie has ended).
bool hasEnded(int pidfd) {
    pollfd p{pidfd, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&p, 1, 0);
        if (r >= 0) return r > 0;
        if (errno != EINTR) return false;
    }
}

std::uint32_t exitCodeOf(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) return static_cast<std::uint32_t>(info.si_status);
    return 128u + static_cast<std::uint32_t>(info.si_status);
}

void writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What the tree walk needs of /proc/<pid>/stat.
struct ProcStat {
    char state = '?';
    pid_t ppid = 0;
    unsigned long long startTime = 0;  // clock ticks after boot
};

// The fields after the command name, which may itself hold blanks and ")".
bool readStat(pid_t pid, ProcStat& stat) {
    std::string text;
    if (!readWhole("/proc/" + std::to_string(pid) + "/stat", text)) return false;
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

// Every process of the system with its stat, by pid.
std::map<pid_t, ProcStat> allProcesses() {
    std::map<pid_t, ProcStat> found;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
        ProcStat stat;
        if (readStat(static_cast<pid_t>(pid), stat)) found.emplace(static_cast<pid_t>(pid), stat);
    }
    ::closedir(dir);
    return found;
}

// Waits until every pidfd reports its process ended, or the deadline.
void awaitEnded(const std::vector<int>& pidfds, std::chrono::steady_clock::time_point deadline) {
    for (int fd : pidfds) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
            if (r != 0 && !(r < 0 && errno == EINTR)) break;
            if (r == 0) return;  // out of time: the rest are not waited for either
        }
    }
}

}  // namespace

// One process as the handles see it; every handle on the same process shares
// one record, so the exit status read once stays known.
struct PosixProcesses::ProcessRecord {
    pid_t pid = 0;
    int pidfd = -1;
    bool ours = false;  // started here: a group leader that only we may reap
    bool reaped = false;
    std::uint32_t exitCode = 0;
    PosixProcesses* owner = nullptr;

    ~ProcessRecord() {
        if (ours && !reaped && hasEnded(pidfd)) {
            siginfo_t info{};
            ::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG);
        }
        if (pidfd >= 0) ::close(pidfd);
        if (ours && owner != nullptr) {
            // The pid may already belong to a newer child; only our own entry goes.
            const auto it = owner->children_.find(pid);
            if (it != owner->children_.end() && it->second.expired()) owner->children_.erase(it);
        }
    }
};

struct PosixProcesses::Object {
    std::variant<Snapshot, Token, std::shared_ptr<ProcessRecord>> value;
};

PosixProcesses::PosixProcesses() { putVariable(emptyEnvironment_, kMachineVariable, machineRoot()); }

PosixProcesses::~PosixProcesses() {
    RevertToSelf();
    handles_.clear();
}

ProcHandle PosixProcesses::add(std::unique_ptr<Object> object) {
    const ProcHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = std::move(object);
    return handle;
}

PosixProcesses::Object* PosixProcesses::find(ProcHandle handle) {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second.get();
}

std::shared_ptr<PosixProcesses::ProcessRecord> PosixProcesses::processOf(ProcHandle handle) {
    Object* object = find(handle);
    if (object == nullptr) return nullptr;
    auto* record = std::get_if<std::shared_ptr<ProcessRecord>>(&object->value);
    return record == nullptr ? nullptr : *record;
}

bool PosixProcesses::fail(int code) {
    lastError_ = code;
    return false;
}

long PosixProcesses::GetLastError() { return lastError_; }

ProcHandle PosixProcesses::CreateToolhelp32Snapshot(std::uint32_t, std::uint32_t) {
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) {
        fail(errno);
        return 0;
    }
    std::vector<std::pair<long, std::string>> found;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
        found.emplace_back(pid, executableName(std::string("/proc/") + entry->d_name));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());

    auto object = std::make_unique<Object>();
    Snapshot snapshot;
    for (auto& [pid, name] : found) {
        ProcessEntry e;
        e.th32ProcessID = static_cast<std::uint32_t>(pid);
        // The record's buffer holds MAX_PATH bytes with the terminating NUL.
        if (name.size() > proc::MAX_PATH - 1) name.resize(proc::MAX_PATH - 1);
        e.szExeFile = name + '\0';
        snapshot.entries.push_back(std::move(e));
    }
    object->value = std::move(snapshot);
    return add(std::move(object));
}

bool PosixProcesses::Process32First(ProcHandle handle, ProcessEntry& entry) {
    Object* object = find(handle);
    auto* snapshot = object ? std::get_if<Snapshot>(&object->value) : nullptr;
    if (snapshot == nullptr) return fail(EBADF);
    snapshot->next = 0;
    return Process32Next(handle, entry);
}

bool PosixProcesses::Process32Next(ProcHandle handle, ProcessEntry& entry) {
    Object* object = find(handle);
    auto* snapshot = object ? std::get_if<Snapshot>(&object->value) : nullptr;
    if (snapshot == nullptr) return fail(EBADF);
    if (snapshot->next >= snapshot->entries.size()) return fail(ENOENT);
    entry = snapshot->entries[snapshot->next++];
    return true;
}

ProcHandle PosixProcesses::OpenProcess(std::uint32_t, bool, std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
        fail(EINVAL);
        return 0;
    }
    const pid_t pid = static_cast<pid_t>(processId);
    std::shared_ptr<ProcessRecord> record;
    if (const auto it = children_.find(pid); it != children_.end()) record = it->second.lock();
    if (!record) {
        const int fd = pidfdOpen(pid);
        if (fd < 0) {
            fail(errno);
            return 0;
        }
        record = std::make_shared<ProcessRecord>();
        record->pid = pid;
        record->pidfd = fd;
    }
    auto object = std::make_unique<Object>();
    object->value = record;
    return add(std::move(object));
}

bool PosixProcesses::OpenProcessToken(ProcHandle process, std::uint32_t, ProcHandle& token) {
    const auto record = processOf(process);
    if (!record) return fail(EBADF);
    Token t;
    if (!readIdentity(record->pid, t.identity)) return fail(errno);
    std::string environ;
    if (!readWhole("/proc/" + std::to_string(record->pid) + "/environ", environ)) return fail(errno);
    std::size_t start = 0;
    while (start < environ.size()) {
        std::size_t end = environ.find('\0', start);
        if (end == std::string::npos) end = environ.size();
        if (end > start) t.environment.emplace_back(environ, start, end - start);
        start = end + 1;
    }
    auto object = std::make_unique<Object>();
    object->value = std::move(t);
    token = add(std::move(object));
    return true;
}

bool PosixProcesses::ImpersonateLoggedOnUser(ProcHandle handle) {
    Object* object = find(handle);
    auto* token = object ? std::get_if<Token>(&object->value) : nullptr;
    if (token == nullptr) return fail(EBADF);
    RevertToSelf();
    const Identity self = currentIdentity();
    const Identity& to = token->identity;
    if (to.uid == self.uid && to.gid == self.gid && sameGroups(to.groups, self.groups)) {
        // Already that user: nothing to switch, and no privilege needed.
        self_ = self;
        impersonating_ = true;
        return true;
    }
    if (!applyEffective(to)) {
        const int code = errno;
        applyEffective(self);
        return fail(code);
    }
    self_ = self;
    impersonating_ = true;
    return true;
}

bool PosixProcesses::RevertToSelf() {
    if (!impersonating_) return true;
    impersonating_ = false;
    const Identity now = currentIdentity();
    if (now.uid == self_.uid && now.gid == self_.gid && sameGroups(now.groups, self_.groups)) return true;
    if (::seteuid(self_.uid) != 0 || !applyEffective(self_)) return fail(errno);
    return true;
}

bool PosixProcesses::CreateEnvironmentBlock(EnvBlock& block, ProcHandle tokenHandle, bool) {
    auto env = std::make_unique<std::vector<std::string>>();
    if (tokenHandle != 0) {
        Object* object = find(tokenHandle);
        auto* token = object ? std::get_if<Token>(&object->value) : nullptr;
        if (token == nullptr) return fail(EBADF);
        *env = token->environment;
    } else {
        // The system's default environment, as a service would get it.
        env->push_back("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin");
        env->push_back("HOME=/");
        env->push_back("LANG=C");
    }
    putVariable(*env, kMachineVariable, machineRoot());
    block = reinterpret_cast<EnvBlock>(env.get());
    environments_[block] = std::move(env);
    return true;
}

bool PosixProcesses::DestroyEnvironmentBlock(EnvBlock block) {
    if (environments_.erase(block) == 0) return fail(EINVAL);
    return true;
}

EnvBlock PosixProcesses::EmptyEnvironmentBlock() { return reinterpret_cast<EnvBlock>(&emptyEnvironment_); }

bool PosixProcesses::CreateProcessAsUser(ProcHandle tokenHandle, const std::string* applicationName,
                                         const std::string& commandLine, bool inheritHandles, std::uint32_t flags,
                                         EnvBlock environment, const std::string* currentDirectory,
                                         const StartupInfo&, ProcessInformation& info) {
    Object* object = find(tokenHandle);
    auto* token = object ? std::get_if<Token>(&object->value) : nullptr;
    if (token == nullptr) return fail(EBADF);
    return launch(token, applicationName, commandLine, inheritHandles, flags, environment, currentDirectory, info);
}

bool PosixProcesses::CreateProcess(const std::string* applicationName, const std::string& commandLine,
                                   bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                                   const std::string* currentDirectory, const StartupInfo&,
                                   ProcessInformation& info) {
    return launch(nullptr, applicationName, commandLine, inheritHandles, flags, environment, currentDirectory, info);
}

bool PosixProcesses::launch(const Token* token, const std::string* applicationName, const std::string& commandLine,
                            bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                            const std::string* currentDirectory, ProcessInformation& info) {
    // Everything the child needs is prepared here: between fork and exec the
    // child may only make async-signal-safe calls.
    std::string program;
    std::vector<std::string> args;
    if (applicationName != nullptr) {
        program = mapPath(*applicationName);
        std::string_view rest;
        std::string first = wincmd::programToken(commandLine, rest);
        args.push_back(first.empty() ? program : first);
        for (auto& a : wincmd::splitArguments(rest)) args.push_back(std::move(a));
    } else {
        std::string_view rest;
        const std::string windowsProgram = wincmd::resolveProgram(commandLine, rest);
        if (windowsProgram.empty()) return fail(ENOENT);
        program = mapPath(windowsProgram);
        args.push_back(program);
        for (auto& a : wincmd::splitArguments(rest)) args.push_back(std::move(a));
    }

    std::vector<std::string> env;
    if (environment == 0) {
        for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
    } else if (environment == EmptyEnvironmentBlock()) {
        env = emptyEnvironment_;
    } else {
        const auto it = environments_.find(environment);
        if (it == environments_.end()) return fail(EINVAL);
        env = *it->second;
    }
    putVariable(env, kMachineVariable, machineRoot());

    // An empty folder name stands for none, as a null one does.
    const std::string directory =
        currentDirectory != nullptr && !currentDirectory->empty() ? mapPath(*currentDirectory) : std::string();
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    // Who the child becomes: the token's user; a direct child is this
    // program's own user, not whoever it is impersonating.
    const bool asUser = token != nullptr;
    const Identity target = asUser ? token->identity : (impersonating_ ? self_ : currentIdentity());
    const bool realRoot = ::getuid() == 0;
    const bool changeIds = asUser && (target.uid != ::getuid() || target.gid != ::getgid() ||
                                      !sameGroups(target.groups, currentIdentity().groups));
    const bool restoreSelf = !asUser && impersonating_;
    const bool noWindow = (flags & proc::CREATE_NO_WINDOW) != 0;

    // What the runner orphans (a daemon's double fork, a new session) comes
    // to this process instead of init, so an overrun can still find and end it.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return fail(errno);

    const pid_t pid = ::fork();
    if (pid < 0) {
        const int code = errno;
        ::close(report[0]);
        ::close(report[1]);
        return fail(code);
    }
    if (pid == 0) {
        auto die = [&](int code) {
            writeAll(report[1], &code, sizeof code);
            ::_exit(127);
        };
        if (realRoot && ::geteuid() != 0 && ::seteuid(0) != 0) die(errno);
        if (changeIds) {
            if (::setgroups(target.groups.size(), target.groups.data()) != 0) die(errno);
            if (::setgid(target.gid) != 0) die(errno);
            if (::setuid(target.uid) != 0) die(errno);
        } else if (restoreSelf) {
            if (::setgroups(target.groups.size(), target.groups.data()) != 0) die(errno);
            if (::setegid(target.gid) != 0) die(errno);
            if (::seteuid(target.uid) != 0) die(errno);
        }
        if (::setsid() < 0) die(errno);
        if (!directory.empty() && ::chdir(directory.c_str()) != 0) die(errno);
        if (noWindow) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null < 0) die(errno);
            for (int fd = 0; fd <= 2; ++fd) {
                if (::dup2(null, fd) < 0) die(errno);
            }
            if (null > 2) ::close(null);
        }
        if (!inheritHandles) ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(program.c_str(), argv.data(), envp.data());
        die(errno);
    }

    ::close(report[1]);
    int childError = 0;
    std::size_t got = 0;
    while (got < sizeof childError) {
        const ssize_t n = ::read(report[0], reinterpret_cast<char*>(&childError) + got, sizeof childError - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(report[0]);
    if (got == sizeof childError) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return fail(childError);
    }

    // The child cannot be reaped by anyone but us, so its pid is still its own.
    const int fd = pidfdOpen(pid);
    if (fd < 0) {
        const int code = errno;
        ::kill(-pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return fail(code);
    }
    auto record = std::make_shared<ProcessRecord>();
    record->pid = pid;
    record->pidfd = fd;
    record->ours = true;
    record->owner = this;
    children_[pid] = record;

    auto processObject = std::make_unique<Object>();
    processObject->value = record;
    auto threadObject = std::make_unique<Object>();
    threadObject->value = record;  // no thread of its own: the same process
    info.hProcess = add(std::move(processObject));
    info.hThread = add(std::move(threadObject));
    info.dwProcessId = static_cast<std::uint32_t>(pid);
    info.dwThreadId = static_cast<std::uint32_t>(pid);
    return true;
}

std::uint32_t PosixProcesses::WaitForSingleObject(ProcHandle handle, std::uint32_t milliseconds) {
    const auto record = processOf(handle);
    if (!record) {
        fail(EBADF);
        return proc::WAIT_FAILED;
    }
    if (record->reaped) return proc::WAIT_OBJECT_0;
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == proc::INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int timeout = -1;
        if (!forever) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        pollfd p{record->pidfd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeout);
        if (r > 0) return proc::WAIT_OBJECT_0;
        if (r < 0 && errno != EINTR) {
            fail(errno);
            return proc::WAIT_FAILED;
        }
        if (r == 0 && !forever && Clock::now() >= deadline) return proc::WAIT_TIMEOUT;
    }
}

bool PosixProcesses::GetExitCodeProcess(ProcHandle handle, std::uint32_t& exitCode) {
    const auto record = processOf(handle);
    if (!record) return fail(EBADF);
    if (record->reaped) {
        exitCode = record->exitCode;
        return true;
    }
    if (!hasEnded(record->pidfd)) {
        exitCode = proc::STILL_ACTIVE;
        return true;
    }
    exitCode = 0;
    if (record->ours) {
        siginfo_t info{};
        if (::waitid(P_PIDFD, static_cast<id_t>(record->pidfd), &info,
                     WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid != 0) {
            exitCode = exitCodeOf(info);
        }
    }
    return true;
}

void PosixProcesses::endDescendants(const ProcessRecord& root) {
    // A member of the tree: a process whose parent is in the tree, or one
    // orphaned on the way (its parent ended, so it became this process's
    // child) that started no earlier than the root and is no other launch.
    // The walk repeats until it finds nothing new alive, so a process forked
    // while the tree is being ended is found in the next round; a pidfd per
    // member keeps each pid from naming another process meanwhile.
    const pid_t self = ::getpid();
    ProcStat rootStat;
    if (!readStat(root.pid, rootStat)) return;
    std::map<pid_t, int> members;  // pid -> pidfd, the root's own excepted
    constexpr int kMaxRounds = 64;
    for (int round = 0; round < kMaxRounds; ++round) {
        const std::map<pid_t, ProcStat> processes = allProcesses();
        std::set<pid_t> tree{root.pid};
        for (const auto& [pid, fd] : members) tree.insert(pid);
        bool grew = true;
        while (grew) {
            grew = false;
            for (const auto& [pid, stat] : processes) {
                if (tree.count(pid) != 0 || pid == self) continue;
                const bool orphan = stat.ppid == self && stat.startTime >= rootStat.startTime &&
                                    children_.count(pid) == 0;
                if (tree.count(stat.ppid) != 0 || orphan) {
                    tree.insert(pid);
                    grew = true;
                }
            }
        }
        bool killed = false;
        for (pid_t pid : tree) {
            if (pid == root.pid || members.count(pid) != 0) continue;
            const int fd = pidfdOpen(pid);
            if (fd < 0) continue;  // ended and reaped meanwhile
            // The pid still names the process the walk saw, now that the pidfd holds it.
            ProcStat now;
            const auto seen = processes.find(pid);
            if (!readStat(pid, now) || now.startTime != seen->second.startTime) {
                ::close(fd);
                continue;
            }
            members.emplace(pid, fd);
            if (now.state != 'Z') {
                pidfdKill(fd);
                killed = true;
            }
        }
        if (!killed) break;
    }

    // Once every member has ended, each one whose parent ended too has come
    // to this process, and is reaped here so that no zombie stays behind.
    std::vector<int> fds{root.pidfd};
    for (const auto& [pid, fd] : members) fds.push_back(fd);
    awaitEnded(fds, std::chrono::steady_clock::now() + std::chrono::seconds(5));
    for (const auto& [pid, fd] : members) {
        siginfo_t info{};
        ::waitid(P_PIDFD, static_cast<id_t>(fd), &info, WEXITED | WNOHANG);
        ::close(fd);
    }
}

bool PosixProcesses::TerminateProcess(ProcHandle handle, std::uint32_t exitCode) {
    const auto record = processOf(handle);
    if (!record) return fail(EBADF);
    if (record->reaped || hasEnded(record->pidfd)) return fail(ESRCH);
    if (record->ours) {
        if (::kill(-record->pid, SIGKILL) != 0 && pidfdKill(record->pidfd) != 0) {
            return fail(errno);
        }
        // Its group went with it; what left the group goes by the tree.
        endDescendants(*record);
        siginfo_t info{};
        while (::waitid(P_PIDFD, static_cast<id_t>(record->pidfd), &info, WEXITED) != 0) {
            if (errno != EINTR) break;
        }
        record->reaped = true;
        record->exitCode = exitCode;
        children_.erase(record->pid);
        return true;
    }
    if (pidfdKill(record->pidfd) != 0) return fail(errno);
    return true;
}

bool PosixProcesses::CloseHandle(ProcHandle handle) {
    if (handles_.erase(handle) == 0) return fail(EBADF);
    return true;
}

namespace wincmd {

std::vector<std::string> splitArguments(std::string_view s) {
    std::vector<std::string> out;
    std::size_t i = 0;
    const std::size_t n = s.size();
    for (;;) {
        while (i < n && isBlank(s[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(s[i]))) {
            if (s[i] == '\\') {
                std::size_t count = 0;
                while (i < n && s[i] == '\\') ++count, ++i;
                if (i < n && s[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
            } else if (s[i] == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += s[i++];
            }
        }
        out.push_back(std::move(arg));
    }
    return out;
}

std::string programToken(std::string_view s, std::string_view& rest) {
    if (!s.empty() && s[0] == '"') {
        const auto close = s.find('"', 1);
        if (close == std::string_view::npos) {
            rest = {};
            return std::string(s.substr(1));
        }
        rest = s.substr(close + 1);
        return std::string(s.substr(1, close - 1));
    }
    std::size_t i = 0;
    while (i < s.size() && !isBlank(s[i])) ++i;
    rest = s.substr(i);
    return std::string(s.substr(0, i));
}

std::string resolveProgram(std::string_view s, std::string_view& rest) {
    std::size_t start = 0;
    while (start < s.size() && isBlank(s[start])) ++start;
    s = s.substr(start);
    if (!s.empty() && s[0] == '"') return programToken(s, rest);

    auto existing = [](std::string candidate) -> std::string {
        if (candidate.empty()) return "";
        if (isRegularFile(mapPath(candidate))) return candidate;
        const auto name = baseName(candidate);
        if (name.find('.') == std::string::npos && isRegularFile(mapPath(candidate + ".exe"))) {
            return candidate + ".exe";
        }
        return "";
    };
    for (std::size_t end = 0; end <= s.size(); ++end) {
        if (end < s.size() && !isBlank(s[end])) continue;
        if (end > 0 && isBlank(s[end - 1])) continue;  // only the first of a run of blanks ends a candidate
        const std::string found = existing(std::string(s.substr(0, end)));
        if (!found.empty()) {
            rest = s.substr(end);
            return found;
        }
    }
    return programToken(s, rest);
}

}  // namespace wincmd
