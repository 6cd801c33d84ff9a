// Processes on Linux: who a process acts as. Tokens read from /proc,
// impersonation by switching the effective ids, and the environment blocks
// a launch takes.
// May contain: POSIX and Linux calls; nothing of the program's logic.
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <variant>

#include "platform/posix/machine.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/processes.h"
#include "platform/posix/processes_private.h"

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

OwnIds::OwnIds(bool impersonating, const ProcIdentity& self) {
    if (!impersonating || (::geteuid() == self.uid && ::getegid() == self.gid)) return;
    acting_ = currentIdentity();
    switched_ = applyEffective(self);
    if (!switched_) applyEffective(acting_);  // a half switch goes back
}

OwnIds::~OwnIds() {
    if (switched_) applyEffective(acting_);
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
