// The contract suites: what each platform interface promises, written once
// against the interface and run on the backend of this build -- the posix
// backend in the Linux test program, the Win32 backend in the Windows one
// (under Wine). Each backend's build supplies the few things only it knows
// how to make (hooks_posix.cpp, hooks_win32.cpp); a backend's own test file
// keeps only what the other backend cannot do.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/system.h"
#include "support/test_support.h"

/// A fresh machine and the real backends of this build over it.
class Contract : public ::testing::Test {
protected:
    Contract();
    Sandbox box;  // first: the posix backends read the machine root when made
    std::unique_ptr<SystemPlatform> system;
    const Platform& sys;
};

/// The stand-in script runner as a Windows path this backend can start; it
/// carries out the project file named by its /P argument.
std::string standInProgram();

/// Another holder of a machine-wide lock, in another process (posix) or
/// thread (Win32: a mutex belongs to a thread), that goes away without
/// releasing what it holds.
class OtherLockHolder {
public:
    virtual ~OtherLockHolder() = default;
    /// Whether it got the lock.
    virtual bool took() const = 0;
    /// Goes away as a killed run would, leaving the lock to the system.
    virtual void vanish() = 0;
};
std::unique_ptr<OtherLockHolder> holdMachineLockElsewhere(const std::string& lockFile, const std::string& record);
