// The running process: its command line and executable.
// May contain: /proc/self and process-id calls; no program logic.
#include <unistd.h>

#include "platform/posix/code_page.h"
#include "platform/posix/host.h"
#include "platform/posix/machine.h"

namespace {

std::string selfPath() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    return n > 0 ? buffer.substr(0, static_cast<std::size_t>(n)) : "";
}

}  // namespace

PosixHost::PosixHost(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine_ += ' ';
        commandLine_ += codePageFromUtf8(argv[i]);
    }
}

std::string PosixHost::CommandLine() { return commandLine_; }

std::string PosixHost::ExeFolder() {
    const std::string self = selfPath();
    const auto slash = self.find_last_of('/');
    return windowsPathOf(slash == 0 || slash == std::string::npos ? "/" : self.substr(0, slash));
}

std::string PosixHost::ExeBaseName() {
    const std::string self = selfPath();
    const std::string name = codePageFromUtf8(self.substr(self.find_last_of('/') + 1));
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void PosixHost::HideFromTaskList() {}  // there is no task list to hide from

std::string PosixHost::SystemMessage(long code) { return systemMessageText(code); }

std::uint32_t PosixHost::ProcessId() { return static_cast<std::uint32_t>(::getpid()); }
