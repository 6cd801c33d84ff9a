// Locks shared by the processes of the program on one machine. Several runs
// may work at the same moment; these keep their read-change-writes and their
// jobs apart. A lock is released when its holder goes: by the object's
// destructor, and by the system when the process dies.
// May contain: the interface only; each backend implements it (posix: flock;
// Win32: LockFileEx and a named mutex).
#pragma once

#include <memory>
#include <string>

/// A lock held by this process; destroying it releases the lock.
class HeldLock {
public:
    virtual ~HeldLock() = default;
};

class Locks {
public:
    virtual ~Locks() = default;

    /// Tries once, without waiting, to take the lock that guards a
    /// read-change-write of `file` (a profile file, which the posix backend
    /// replaces as a whole on every write, so on both backends the lock lives
    /// in a file of its own beside it: `file` + ".lock", created when missing;
    /// posix: flock on it; Win32: LockFileEx on its first byte). nullptr while
    /// another process holds it. Raises RunError when the lock file cannot be
    /// made or opened (a missing folder, say): then no process can take it
    /// either.
    virtual std::unique_ptr<HeldLock> TryLockFile(const std::string& file) = 0;

    /// Tries once, without waiting, to take the machine-wide lock named by
    /// `lockFile` (posix: flock on that file; Win32: a named mutex in the
    /// Global\ namespace named after the path, so every session of the machine
    /// shares it). On success `record` is written into `lockFile`, for the
    /// processes that wait to read (MachineLockRecord). nullptr while another
    /// process holds the lock. Raises RunError when it cannot be made at all.
    virtual std::unique_ptr<HeldLock> TryLockMachine(const std::string& lockFile, const std::string& record) = 0;

    /// What the holder of the machine-wide lock `lockFile` recorded; "" when
    /// nothing can be read. The text may belong to an earlier holder that has
    /// gone, or be read while it is being written: the caller checks it.
    virtual std::string MachineLockRecord(const std::string& lockFile) = 0;
};
