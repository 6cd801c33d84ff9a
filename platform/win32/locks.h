// The Win32 backend of the locks shared by the program's processes.
// May contain: the declaration of the backend class; the kernel32 calls live in locks.cpp.
#pragma once

#include "platform/locks.h"

/// TryLockFile: LockFileEx on the first byte of `file` + ".lock".
/// TryLockMachine: a mutex named "Global\VorbexJobs." followed by a digest of
/// the lock file's path (letter case folded), so every session of the machine
/// shares it; the record is written into the lock file beside it.
/// The mutex is made so that only SYSTEM and the Administrators may open it.
/// A name already taken by an object someone else made (one this process may
/// not open, one that is no mutex, or a mutex whose owner is not SYSTEM, the
/// Administrators or this account) raises err::PermissionDenied with a description
/// that names it, for the caller to log.
/// The system releases both when the holder dies: the file lock when its
/// handle closes, the mutex as abandoned, which the next waiter then owns.
/// Neither handle is inheritable, so the runner never holds them.
class Win32Locks : public Locks {
public:
    std::unique_ptr<HeldLock> TryLockFile(const std::string& file) override;
    std::unique_ptr<HeldLock> TryLockMachine(const std::string& lockFile, const std::string& record) override;
    std::string MachineLockRecord(const std::string& lockFile) override;
};

namespace win32 {

/// The name of the job mutex for `lockFile`: "Global\\VorbexJobs." and a
/// digest of the path with its letter case folded.
std::string jobMutexName(const std::string& lockFile);

}  // namespace win32
