// The platform of the machine the program runs on: the real backend of every
// interface, built for this platform and owned in one place.
// May contain: the declaration of the factory; each backend defines it once
// (posix/system.cpp, win32/system.cpp), and the build takes only its own.
#pragma once

#include <memory>

#include "platform/platform.h"

/// Owns the backends of this build. `platform` points into them and stays
/// valid while this object lives, so it must outlive every RunContext made
/// over it.
class SystemPlatform {
public:
    virtual ~SystemPlatform() = default;
    Platform platform;
};

/// The real backends of this platform, for the program started with
/// `argc`/`argv` (the posix backend takes its command line from them; the
/// Win32 backend asks the system for the raw command line instead).
/// Making them is cheap and starts nothing: each backend defers its heavy
/// start-up (the COM apartment, a DLL, the system bus, a child process) to
/// the first call that needs it, so a run that ends early never pays for it,
/// and the tests build their real platform with this same factory. The posix
/// processes backend reads the machine root (VORBEX_MACHINE) when it is made.
std::unique_ptr<SystemPlatform> makeSystemPlatform(int argc, char** argv);
