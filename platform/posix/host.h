// The posix backend of the running process, over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in host.cpp.
#pragma once

#include <string>

#include "platform/host.h"

/// The running process (host.cpp).
class PosixHost : public Host {
public:
    PosixHost(int argc, char** argv);
    std::string CommandLine() override;
    std::string ExeFolder() override;
    std::string ExeBaseName() override;
    void HideFromTaskList() override;
    std::string SystemMessage(long code) override;
    std::uint32_t ProcessId() override;

private:
    std::string commandLine_;
};
