// The Win32 backend of the running process itself.
// May contain: the declaration of the backend class; the kernel32 calls live in host.cpp.
#pragma once

#include <string>

#include "platform/host.h"

/// The process as Windows shows it: the raw command line of
/// GetCommandLineA, the executable of GetModuleFileNameA, system messages of
/// FormatMessageA.
class Win32Host : public Host {
public:
    /// The command line is taken from the system, not from main's arguments,
    /// so quotes and blanks reach the program exactly as they were passed.
    Win32Host();
    /// As above, but with the given raw command line (program name first),
    /// for tests of the splitting.
    explicit Win32Host(std::string rawCommandLine);

    /// Everything after the program name, the blanks before it removed, as
    /// the runtime's Command() gives it (wincmd::argumentsAfterProgram).
    std::string CommandLine() override;
    std::string ExeFolder() override;
    std::string ExeBaseName() override;
    /// The program is built without a console or window of its own, so there
    /// is no task-list entry to remove; nothing is done.
    void HideFromTaskList() override;
    /// FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
    /// language 0) into a buffer of 200 characters; "" when the system has no
    /// text for the code. A text with inserts comes back with its inserts as
    /// they stand ("%1 is not a valid Win32 application.").
    std::string SystemMessage(long code) override;
    /// GetCurrentProcessId.
    std::uint32_t ProcessId() override;

private:
    std::string raw_;
};
