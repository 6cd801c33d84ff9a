// Processes on Linux: starting a program from a Windows command line, in a
// cgroup of its own where one can be made. The fork/exec sequence itself
// lives in spawn.cpp.
// May contain: POSIX and Linux calls; nothing of the program's logic.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <variant>

#include "base/command_line.h"
#include "platform/posix/code_page.h"
#include "platform/posix/machine.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/processes.h"
#include "platform/posix/processes_private.h"
#include "platform/posix/spawn.h"
#include "platform/posix/tree_kill.h"

extern char** environ;

namespace {

// Whether a Windows path names a file that a command line may start.
bool isProgramFile(const std::string& windowsPath) {
    struct stat st {};
    return ::stat(mapPath(windowsPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The program and its argument vector from a Windows command line: the
// program is the application name where one is given, else the first token
// that names a program file. False when none does.
bool programAndArguments(const std::string* applicationName, const std::string& commandLine, std::string& program,
                         std::vector<std::string>& args) {
    std::string_view rest;
    if (applicationName != nullptr) {
        program = mapPath(*applicationName);
        std::string first = wincmd::programToken(commandLine, rest);
        args.push_back(first.empty() ? program : utf8FromCodePage(first));
    } else {
        const std::string windowsProgram = wincmd::resolveProgram(commandLine, rest, isProgramFile);
        if (windowsProgram.empty()) return false;
        program = mapPath(windowsProgram);
        args.push_back(program);
    }
    for (const auto& a : wincmd::splitArguments(rest)) args.push_back(utf8FromCodePage(a));
    return true;
}

}  // namespace

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
    SpawnRequest request;
    if (!programAndArguments(applicationName, commandLine, request.program, request.arguments)) return fail(ENOENT);
    if (!environmentOf(environment, request.environment)) return fail(EINVAL);
    putVariable(request.environment, kMachineVariable, machineRoot());
    // An empty folder name stands for none, as a null one does.
    if (currentDirectory != nullptr && !currentDirectory->empty()) request.directory = mapPath(*currentDirectory);
    setChildIds(token, request);
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
    return adoptChild(pid, std::move(cgroup), info);
}

// The environment goes on as Linux gave it, in its own encoding: the program
// never reads or writes a variable of it here.
bool PosixProcesses::environmentOf(EnvBlock environment, std::vector<std::string>& env) {
    if (environment == 0) {
        for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
    } else if (environment == EmptyEnvironmentBlock()) {
        env = emptyEnvironment_;
    } else {
        const auto it = environments_.find(environment);
        if (it == environments_.end()) return false;
        env = *it->second;
    }
    return true;
}

// Who the child becomes: the token's user; a direct child is this program's
// own user, not whoever it is impersonating.
void PosixProcesses::setChildIds(const Token* token, SpawnRequest& request) const {
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
}

// A started child becomes a process record and two handles on it; without
// a pidfd it could not be waited for safely, so it is killed instead.
bool PosixProcesses::adoptChild(pid_t pid, std::unique_ptr<JobCgroup> cgroup, ProcessInformation& info) {
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
