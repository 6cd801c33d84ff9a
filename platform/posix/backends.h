// The posix backend of the platform seam: a Windows machine mapped onto a
// folder (see machine.h). Each class implements one interface.
// May contain: declarations only; the definitions live in one file per class.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/host.h"
#include "platform/locks.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"

/// objFSO over mapped paths (filesystem.cpp; the confined operations in confined.cpp).
class PosixFileSystem : public FileSystem {
public:
    bool FolderExists(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    void CreateFolder(const std::string& path) override;
    std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite) override;
    std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IOMode mode, bool create) override;
    void CopyFile(const std::string& source, const std::string& target, bool overwrite) override;
    void MoveFile(const std::string& source, const std::string& target, bool replace) override;
    void DeleteFile(const std::string& path, bool force) override;
    void PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) override;
    std::uint64_t GetFileSize(const std::string& path) override;
    std::string GetFileVersion(const std::string& path) override;
    /// With an entry filter every file is looked at, in a large folder by
    /// helper threads (folder_looks.h); both filters run in the calling thread.
    std::vector<FileEntry> GetFiles(const std::string& folder, const FileQuery& query = {}) override;
    void SetReadOnly(const std::string& path, bool readOnly) override;
    /// Holds a shared flock on the log while the stream is open; only a
    /// process that gets the exclusive lock (so nobody else has the log open)
    /// may cut it.
    std::unique_ptr<TextStream> OpenSharedLog(const std::string& path, std::uint64_t restartSize) override;
    bool FileExistsInside(const std::string& folder, const std::string& path) override;
    std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) override;
    void DeleteInside(const std::string& folder, const std::string& path, bool force) override;
    /// A descriptor of the file and its status as opened (file_hold.cpp).
    std::unique_ptr<FileHold> HoldFile(const std::string& path) override;
};

/// The registry read from <root>/system.reg (registry.cpp). Read only.
class PosixRegistry : public Registry {
public:
    long OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) override;
    long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                    std::uint32_t* size) override;
    long CloseKey(RegHandle key) override;

private:
    struct Value {
        std::uint32_t type = 0;
        // The string types: the text with its NUL(s); REG_DWORD: 4 bytes,
        // little-endian; every other type: its bytes as written.
        std::string data;
    };
    // Values by upper-cased value name, keys by upper-cased full key path.
    using Values = std::map<std::string, Value>;
    std::map<RegHandle, Values> open_;
    RegHandle next_ = 0x1000;
};

/// Profile files with Windows semantics over mapped paths (profile.cpp).
class PosixProfileFiles : public ProfileFiles {
public:
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars, const std::string& file) override;
    std::int32_t GetInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                        const std::string& file) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override;
    std::vector<bool> WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) override;
    /// Maps the path and reads the file once; look-ups are hash look-ups.
    std::unique_ptr<ProfileSection> OpenSection(const std::string& section, const std::string& file) override;
};

/// Program Files is "C:\Program Files"; a short path is the path itself when it exists (paths.cpp).
class PosixPaths : public Paths {
public:
    std::string ProgramFilesFolder() override;
    std::string ShortPath(const std::string& path) override;
};

/// The system clock in local time (clock.cpp).
class PosixClock : public Clock {
public:
    LocalTime now() override;
    void sleepMs(std::uint32_t milliseconds) override;
    std::int64_t utcMs() override;
    std::int64_t bootMs() override;
    /// /proc/sys/kernel/random/boot_id; "" where it cannot be read.
    std::string bootId() override;
};

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

/// flock-based locks over mapped paths (locks.cpp). A lock belongs to an open
/// file description that is never passed on to a child (O_CLOEXEC), so the
/// runner and its children cannot keep a lock after this process is gone.
class PosixLocks : public Locks {
public:
    std::unique_ptr<HeldLock> TryLockFile(const std::string& file) override;
    std::unique_ptr<HeldLock> TryLockMachine(const std::string& lockFile, const std::string& record) override;
    std::string MachineLockRecord(const std::string& lockFile) override;
};
