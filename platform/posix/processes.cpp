// Processes on Linux: the handle table, tokens and impersonation, waiting
// and termination over pidfds. The /proc readers live in proc_reader.cpp,
// the fork/exec sequence in spawn.cpp, the command-line rules in base/.
// May contain: POSIX and Linux calls; nothing of the program's logic.
#include "platform/posix/processes.h"

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
#include <mutex>
#include <set>
#include <variant>

#include "base/command_line.h"
#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/machine.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/spawn.h"
#include "platform/posix/tree_kill.h"

extern char** environ;

namespace {

constexpr std::string_view kMachineVariable = "VORBEX_MACHINE";
constexpr int kReapEveryMs = 250;

// The pidfd calls by number: this C library's <sys/pidfd.h> lacks C linkage
// for C++ callers.
int pidfdOpen(pid_t pid) { return posix::sys.pidfd_open(pid, 0); }
int pidfdKill(int pidfd) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0)); }

ProcIdentity currentIdentity() {
    ProcIdentity id;
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
bool applyEffective(const ProcIdentity& to) {
    if (::geteuid() != 0 && ::getuid() == 0 && ::seteuid(0) != 0) return false;
    if (::setgroups(to.groups.size(), to.groups.data()) != 0) return false;
    if (::setegid(to.gid) != 0) return false;
    if (::seteuid(to.uid) != 0) return false;
    return true;
}

// While it lives, the effective ids are this program's own even while it
// impersonates a user: a runner's cgroup is made, killed and removed by the
// program, which the user it acts for may not do (nor escape the group).
class OwnIds {
public:
    OwnIds(bool impersonating, const ProcIdentity& self) {
        if (!impersonating || (::geteuid() == self.uid && ::getegid() == self.gid)) return;
        acting_ = currentIdentity();
        switched_ = applyEffective(self);
        if (!switched_) applyEffective(acting_);  // a half switch goes back
    }
    ~OwnIds() {
        if (switched_) applyEffective(acting_);
    }
    OwnIds(const OwnIds&) = delete;
    OwnIds& operator=(const OwnIds&) = delete;

private:
    ProcIdentity acting_;
    bool switched_ = false;
};

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

// Whether a Windows path names a file that a command line may start.
bool isProgramFile(const std::string& windowsPath) {
    struct stat st {};
    return ::stat(mapPath(windowsPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// One process as the handles see it; every handle on the same process shares
// one record, so the exit status read once stays known.
struct PosixProcesses::ProcessRecord {
    pid_t pid = 0;
    Fd pidfd;
    bool ours = false;  // started here: a group leader that only we may reap
    bool reaped = false;
    unsigned long long startTime = 0;  // clock ticks after boot, for a started one
    std::uint32_t exitCode = 0;
    PosixProcesses* owner = nullptr;
    std::unique_ptr<JobCgroup> cgroup;  // the group it was started in, if any

    ~ProcessRecord() {
        if (ours && !reaped && hasEnded(pidfd.fd)) {
            siginfo_t info{};
            ::waitid(P_PIDFD, static_cast<id_t>(pidfd.fd), &info, WEXITED | WNOHANG);
        }
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
    std::vector<pid_t> ids;
    if (!processIds(ids)) {
        fail(errno);
        return 0;
    }
    auto object = std::make_unique<Object>();
    Snapshot snapshot;
    for (pid_t pid : ids) {
        ProcessEntry e;
        e.th32ProcessID = static_cast<std::uint32_t>(pid);
        std::string name = codePageFromUtf8(executableName(pid));
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
        record->pidfd.reset(fd);
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
    if (!readEnvironment(record->pid, t.environment)) return fail(errno);
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
    const ProcIdentity self = currentIdentity();
    const ProcIdentity& to = token->identity;
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
    const ProcIdentity now = currentIdentity();
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
    std::string program;
    std::vector<std::string> args;
    if (applicationName != nullptr) {
        program = mapPath(*applicationName);
        std::string_view rest;
        std::string first = wincmd::programToken(commandLine, rest);
        args.push_back(first.empty() ? program : utf8FromCodePage(first));
        for (const auto& a : wincmd::splitArguments(rest)) args.push_back(utf8FromCodePage(a));
    } else {
        std::string_view rest;
        const std::string windowsProgram = wincmd::resolveProgram(commandLine, rest, isProgramFile);
        if (windowsProgram.empty()) return fail(ENOENT);
        program = mapPath(windowsProgram);
        args.push_back(program);
        for (const auto& a : wincmd::splitArguments(rest)) args.push_back(utf8FromCodePage(a));
    }

    // The environment goes on as Linux gave it, in its own encoding: the
    // program never reads or writes a variable of it here.
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

    SpawnRequest request;
    request.program = std::move(program);
    request.arguments = std::move(args);
    request.environment = std::move(env);
    // An empty folder name stands for none, as a null one does.
    if (currentDirectory != nullptr && !currentDirectory->empty()) request.directory = mapPath(*currentDirectory);
    // Who the child becomes: the token's user; a direct child is this
    // program's own user, not whoever it is impersonating.
    if (token != nullptr) {
        request.identity = token->identity;
        const ProcIdentity& target = token->identity;
        if (target.uid != ::getuid() || target.gid != ::getgid() ||
            !sameGroups(target.groups, currentIdentity().groups)) {
            request.ids = SpawnRequest::Ids::BecomeUser;
        }
    } else if (impersonating_) {
        request.identity = self_;
        request.ids = SpawnRequest::Ids::RestoreEffective;
    }
    request.nullStdio = (flags & proc::CREATE_NO_WINDOW) != 0;
    request.closeInherited = !inheritHandles;

    // What the runner orphans (a daemon's double fork, a new session) comes
    // to this process instead of init, so an overrun can still find and end it.
    // The mark is the whole process's and stays (only a fork loses it, and
    // nothing launches from a forked copy of this program), so it is set once.
    static std::once_flag subreaper;
    std::call_once(subreaper, [] { ::prctl(PR_SET_CHILD_SUBREAPER, 1); });

    // A cgroup of its own holds everything the runner will start, so that an
    // overrun can end all of it at once, whatever its processes do.
    std::unique_ptr<JobCgroup> cgroup;
    int spawnError = 0;
    bool inCgroup = false;
    pid_t pid;
    {
        const OwnIds own(impersonating_, self_);
        cgroup = JobCgroup::make();
        request.cgroup = cgroup ? cgroup->directory() : -1;
        pid = spawnProgram(request, spawnError, inCgroup);
        if (!inCgroup) cgroup.reset();
    }
    if (pid < 0) return fail(spawnError);

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
    record->pidfd.reset(fd);
    record->ours = true;
    record->owner = this;
    record->cgroup = std::move(cgroup);
    ProcStat stat;
    if (readStat(pid, stat)) record->startTime = stat.startTime;
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
        // What the runner orphans comes here and, once ended, is reaped
        // every so often while the wait lasts.
        if (record->ours && (timeout < 0 || timeout > kReapEveryMs)) timeout = kReapEveryMs;
        pollfd p{record->pidfd.fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeout);
        if (r > 0) return proc::WAIT_OBJECT_0;
        if (record->ours && record->startTime != 0) reapOrphans(record->startTime, launches());
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
    if (!hasEnded(record->pidfd.fd)) {
        exitCode = proc::STILL_ACTIVE;
        return true;
    }
    exitCode = 0;
    if (record->ours) {
        siginfo_t info{};
        if (::waitid(P_PIDFD, static_cast<id_t>(record->pidfd.fd), &info,
                     WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid != 0) {
            exitCode = exitCodeOf(info);
        }
    }
    return true;
}

bool PosixProcesses::TerminateProcess(ProcHandle handle, std::uint32_t exitCode) {
    const auto record = processOf(handle);
    if (!record) return fail(EBADF);
    if (record->reaped || hasEnded(record->pidfd.fd)) return fail(ESRCH);
    survivors_ = 0;
    if (!record->ours) {
        if (pidfdKill(record->pidfd.fd) != 0) return fail(errno);
        return true;
    }
    const OwnIds own(impersonating_, self_);
    std::set<pid_t> alive;
    if (record->cgroup) alive = record->cgroup->killAll(5000);
    // The walk also finds what left the group (a process with the rights to
    // move itself), and it is the whole of the work where there is no group.
    std::set<pid_t> otherLaunches = launches();
    otherLaunches.erase(record->pid);
    alive.merge(stopAndKillTree(record->pid, otherLaunches));
    // What the group still held when its wait ran out may have ended since.
    std::erase_if(alive, [](pid_t pid) {
        ProcStat stat;
        return !readStat(pid, stat) || stat.state == 'Z';
    });
    survivors_ = static_cast<std::uint32_t>(alive.size());
    if (hasEnded(record->pidfd.fd)) {
        siginfo_t info{};
        while (::waitid(P_PIDFD, static_cast<id_t>(record->pidfd.fd), &info, WEXITED) != 0) {
            if (errno != EINTR) break;
        }
        record->reaped = true;
        record->exitCode = exitCode;
        children_.erase(record->pid);
    }
    return true;
}

std::set<pid_t> PosixProcesses::launches() const {
    std::set<pid_t> pids;
    for (const auto& [pid, record] : children_) pids.insert(pid);
    return pids;
}

bool PosixProcesses::IsTreeContained(ProcHandle handle) {
    const auto record = processOf(handle);
    return record && record->ours && record->cgroup;
}

std::uint32_t PosixProcesses::TerminateSurvivors() { return survivors_; }

bool PosixProcesses::CloseHandle(ProcHandle handle) {
    // The last handle of a started process removes its cgroup.
    const OwnIds own(impersonating_, self_);
    if (handles_.erase(handle) == 0) return fail(EBADF);
    return true;
}
