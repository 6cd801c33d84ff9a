// Processes on Linux: the handle table and the snapshot. Tokens,
// impersonation and environment blocks live in process_identity.cpp, the
// launch in process_launch.cpp, waiting and termination over pidfds in
// process_wait.cpp; the /proc readers in proc_reader.cpp, the fork/exec
// sequence in spawn.cpp, the command-line rules in base/.
// May contain: POSIX and Linux calls; nothing of the program's logic.
#include "platform/posix/processes.h"

#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <variant>

#include "platform/posix/code_page.h"
#include "platform/posix/machine.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/processes_private.h"

// The pidfd calls by number: this C library's <sys/pidfd.h> lacks C linkage
// for C++ callers.
int pidfdOpen(pid_t pid) { return posix::sysCalls.pidfd_open(pid, 0); }
int pidfdKill(int pidfd) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0)); }

PosixProcesses::ProcessRecord::~ProcessRecord() {
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

bool PosixProcesses::CloseHandle(ProcHandle handle) {
    // The last handle of a started process removes its cgroup.
    const OwnIds own(impersonating_, self_);
    if (handles_.erase(handle) == 0) return fail(EBADF);
    return true;
}
