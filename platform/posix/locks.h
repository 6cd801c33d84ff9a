// The posix backend of the locks, over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in locks.cpp.
#pragma once

#include <memory>
#include <string>

#include "platform/locks.h"

/// flock-based locks over mapped paths (locks.cpp). A lock belongs to an open
/// file description that is never passed on to a child (O_CLOEXEC), so the
/// runner and its children cannot keep a lock after this process is gone.
class PosixLocks : public Locks {
public:
    std::unique_ptr<HeldLock> TryLockFile(const std::string& file) override;
    std::unique_ptr<HeldLock> TryLockMachine(const std::string& lockFile, const std::string& record) override;
    std::string MachineLockRecord(const std::string& lockFile) override;
};
