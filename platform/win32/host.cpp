// The running process: command line, executable, system messages.
// May contain: kernel32 calls; no program logic.
#include "platform/win32/host.h"

#include "base/command_line.h"
#include "platform/win32/windows.h"

namespace {

std::string modulePath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return "";
        // A full buffer may mean the path was cut short; try a larger one.
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) return "";
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

Win32Host::Win32Host() {
    const char* raw = ::GetCommandLineA();
    raw_ = raw != nullptr ? raw : "";
}

Win32Host::Win32Host(std::string rawCommandLine) : raw_(std::move(rawCommandLine)) {}

std::string Win32Host::CommandLine() { return wincmd::argumentsAfterProgram(raw_); }

std::string Win32Host::ExeFolder() {
    const std::string path = modulePath();
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Win32Host::ExeBaseName() {
    const std::string path = modulePath();
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void Win32Host::HideFromTaskList() {}  // no window, so no task-list entry

std::string Win32Host::SystemMessage(long code) {
    char buffer[200] = {};
    // Without IGNORE_INSERTS the system refuses every text that has an insert
    // ("%1 is not a valid Win32 application."), and the reason would be lost.
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    return std::string(buffer, n < sizeof buffer ? n : 0);
}

std::uint32_t Win32Host::ProcessId() { return ::GetCurrentProcessId(); }
