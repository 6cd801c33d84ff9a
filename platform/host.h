// The running process itself: command line, executable, system messages.
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <cstdint>
#include <string>

class Host {
public:
    virtual ~Host() = default;
    /// Everything after the program name, as one string.
    virtual std::string CommandLine() = 0;
    /// Folder of the running executable, as a Windows path without trailing "\".
    virtual std::string ExeFolder() = 0;
    /// File name of the running executable without its extension.
    virtual std::string ExeBaseName() = 0;
    /// Hides the process from the task list (nothing to do where there is none).
    virtual void HideFromTaskList() = 0;
    /// FormatMessageA(FROM_SYSTEM): the system's text for an error code, ending
    /// with CR LF as system texts do; "" when the system has none.
    virtual std::string SystemMessage(long code) = 0;
    /// The id of this process, which makes file names that no other running
    /// process uses.
    virtual std::uint32_t ProcessId() = 0;
};
