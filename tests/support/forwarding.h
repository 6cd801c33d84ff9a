// Forwarding wrappers of every platform interface, for tests: each passes its
// calls to a real backend, counts them, and fails chosen ones on purpose (the
// way SQLite's test VFS wraps the real one). A test fake derives from the
// wrapper of its interface and overrides only the calls it changes.
// May contain: the wrappers and their switch; nothing of one backend.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/filesystem.h"
#include "platform/host.h"
#include "platform/locks.h"
#include "platform/md5.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/webpost.h"
#include "platform/xml.h"

/// Which calls of one name a wrapper fails, set in a chain:
/// CallFault().nth(3).always().onPath("HVRPostLogs").
class CallFault {
public:
    /// The first call to fail is the nth matching call from now; 1 (the
    /// default) is the next one.
    CallFault& nth(int n) {
        nth_ = n;
        return *this;
    }
    /// So many matching calls fail from the first on; 1 by default.
    CallFault& times(int n) {
        times_ = n;
        return *this;
    }
    /// Every matching call fails from the first on.
    CallFault& always() { return times(kAlways); }
    /// The error the failed calls report (a RunError number, or a system
    /// error code) instead of the call's usual one.
    CallFault& error(long code) {
        error_ = code;
        return *this;
    }
    /// Only calls one of whose paths (file, folder, key, command line)
    /// contains `part`, letter case aside, match; by default every call does.
    CallFault& onPath(std::string part) {
        pathPart_ = std::move(part);
        return *this;
    }

private:
    friend class FailSwitch;
    static constexpr int kAlways = std::numeric_limits<int>::max();
    int nth_ = 1;
    int times_ = 1;
    long error_ = 0;  // 0: the call's usual one
    std::string pathPart_;
};

/// The "fail the Nth call" switch of a wrapper. Calls are named as the
/// interface names them ("MoveFile", "GetString"). A call chosen to fail
/// never reaches the real backend: it fails the way that call fails when
/// the system refuses it, as each wrapper below says. Safe to use from
/// several threads.
class FailSwitch {
public:
    FailSwitch(const FailSwitch&) = delete;
    FailSwitch& operator=(const FailSwitch&) = delete;

    /// Makes calls of `call` fail as `fault` says (by default the next one).
    /// Several faults for one call each count for themselves. A name that is
    /// not one of this wrapper's calls that can fail throws
    /// std::invalid_argument, so that a misspelt name cannot leave a test
    /// that fails nothing.
    void failCall(const std::string& call, const CallFault& fault = CallFault());
    /// How often `call` was made through this wrapper, failed calls included.
    int calls(std::string_view call) const;
    /// Every call made so far, by name, with how often it was made: a test
    /// can run an operation once, then again failing each of its calls in turn.
    std::map<std::string, int, std::less<>> callCounts() const;

protected:
    explicit FailSwitch(std::initializer_list<const char*> canFail);
    ~FailSwitch() = default;

    /// Counts a call and decides it: 0 lets it through; otherwise the error
    /// it is to report (`usual` unless the fault names one).
    long due(std::string_view call, long usual, std::initializer_list<std::string_view> paths = {});
    /// Counts a call that cannot fail.
    void count(std::string_view call);

private:
    struct Armed {
        CallFault fault;
        int skip;  // matching calls still to let through
    };
    mutable std::mutex mutex_;
    std::vector<std::string> canFail_;
    std::map<std::string, int, std::less<>> calls_;
    std::map<std::string, std::vector<Armed>, std::less<>> armed_;
};

/// The file system and the streams it opens. A failed FolderExists or
/// FileExists answers false; every other failed call raises RunError (70
/// Permission denied unless the fault names another number). The streams of
/// the files it opens are wrapped too, under the same switch: their
/// ReadLine, ReadLines, ReadView, ReadAll, Read, Write, WriteLine, WriteLines
/// and Close fail by raising RunError as well (the path a fault matches is
/// the stream's file).
class ForwardingFileSystem : public FileSystem, public FailSwitch {
public:
    explicit ForwardingFileSystem(FileSystem& real);
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
    std::vector<FileEntry> GetFiles(const std::string& folder, const FileQuery& query = {}) override;
    void SetReadOnly(const std::string& path, bool readOnly) override;
    std::unique_ptr<TextStream> OpenSharedLog(const std::string& path, std::uint64_t restartSize) override;
    bool FileExistsInside(const std::string& folder, const std::string& path) override;
    std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) override;
    void DeleteInside(const std::string& folder, const std::string& path, bool force) override;
    std::unique_ptr<FileHold> HoldFile(const std::string& path) override;

private:
    class Stream;
    void raiseIfDue(std::string_view call, std::initializer_list<std::string_view> paths);
    std::unique_ptr<TextStream> wrapped(std::unique_ptr<TextStream> stream, const std::string& path);

    FileSystem& real_;
};

/// The registry. A failed call returns its error (5, access denied, unless
/// the fault names another code); the path a fault matches is the subkey of
/// OpenKey and the value name of QueryValue.
class ForwardingRegistry : public Registry, public FailSwitch {
public:
    explicit ForwardingRegistry(Registry& real);
    long OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) override;
    long QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                    std::uint32_t* size) override;
    long CloseKey(RegHandle key) override;

private:
    Registry& real_;
};

/// The profile files. A failed read gives the default value, as a file that
/// cannot be read does; a failed WriteString answers false and a failed
/// WriteStrings false for every entry. The path a fault matches is the file.
class ForwardingProfileFiles : public ProfileFiles, public FailSwitch {
public:
    explicit ForwardingProfileFiles(ProfileFiles& real);
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars, const std::string& file) override;
    std::int32_t GetInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                        const std::string& file) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override;
    std::vector<bool> WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) override;
    /// Counted, never failed: a section's reads stand for many GetString calls.
    std::unique_ptr<ProfileSection> OpenSection(const std::string& section, const std::string& file) override;

private:
    ProfileFiles& real_;
};

/// Shell folders and short paths. Both calls answer "" when failed.
class ForwardingPaths : public Paths, public FailSwitch {
public:
    explicit ForwardingPaths(Paths& real);
    std::string ProgramFilesFolder() override;
    std::string ShortPath(const std::string& path) override;

private:
    Paths& real_;
};

/// The clock. None of its calls can fail; they are only counted.
class ForwardingClock : public Clock, public FailSwitch {
public:
    explicit ForwardingClock(Clock& real);
    LocalTime now() override;
    void sleepMs(std::uint32_t milliseconds) override;
    std::int64_t bootMs() override;
    std::string bootId() override;

private:
    Clock& real_;
};

/// The running process. Only SystemMessage can fail: it answers "", as for a
/// code the system has no text for.
class ForwardingHost : public Host, public FailSwitch {
public:
    explicit ForwardingHost(Host& real);
    std::string CommandLine() override;
    std::string ExeFolder() override;
    std::string ExeBaseName() override;
    void HideFromTaskList() override;
    std::string SystemMessage(long code) override;
    std::uint32_t ProcessId() override;

private:
    Host& real_;
};

/// Processes. A failed call answers false, the null handle or WAIT_FAILED,
/// and leaves its error (5, access denied, unless the fault names another
/// code) for GetLastError until a call that reaches the backend fails there.
/// EmptyEnvironmentBlock, GetLastError and the two tree queries cannot fail.
/// The path a fault matches is the command line of the two creation calls.
class ForwardingProcesses : public Processes, public FailSwitch {
public:
    explicit ForwardingProcesses(Processes& real);
    ProcHandle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool Process32First(ProcHandle snapshot, ProcessEntry& entry) override;
    bool Process32Next(ProcHandle snapshot, ProcessEntry& entry) override;
    ProcHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) override;
    bool OpenProcessToken(ProcHandle process, std::uint32_t access, ProcHandle& token) override;
    bool ImpersonateLoggedOnUser(ProcHandle token) override;
    bool RevertToSelf() override;
    bool CreateEnvironmentBlock(EnvBlock& block, ProcHandle token, bool inherit) override;
    bool DestroyEnvironmentBlock(EnvBlock block) override;
    EnvBlock EmptyEnvironmentBlock() override;
    bool CreateProcessAsUser(ProcHandle token, const std::string* applicationName, const std::string& commandLine,
                             bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                             const std::string* currentDirectory, const StartupInfo& startup,
                             ProcessInformation& info) override;
    bool CreateProcess(const std::string* applicationName, const std::string& commandLine, bool inheritHandles,
                       std::uint32_t flags, EnvBlock environment, const std::string* currentDirectory,
                       const StartupInfo& startup, ProcessInformation& info) override;
    std::uint32_t WaitForSingleObject(ProcHandle process, std::uint32_t milliseconds) override;
    bool GetExitCodeProcess(ProcHandle process, std::uint32_t& exitCode) override;
    bool TerminateProcess(ProcHandle process, std::uint32_t exitCode) override;
    bool IsTreeContained(ProcHandle process) override;
    std::uint32_t TerminateSurvivors() override;
    bool CloseHandle(ProcHandle handle) override;
    long GetLastError() override;

private:
    /// True when the call is to fail; its error is then kept for GetLastError.
    bool failing(std::string_view call, std::initializer_list<std::string_view> paths = {});
    /// Hands on what the backend answered; a failure there makes GetLastError
    /// the backend's again.
    template <class T>
    T answered(T result, bool failed);

    Processes& real_;
    std::mutex errorMutex_;
    long injected_ = 0;  // the error of the last failed call, while it is the latest failure
};

/// Desktops. A failed OpenDesktop answers 0, a failed SwitchDesktop or
/// CloseDesktop false; GetLastError() then gives the fault's error (5, access
/// denied, unless it names another code) until the next call.
class ForwardingDesktop : public Desktop, public FailSwitch {
public:
    explicit ForwardingDesktop(Desktop& real);
    DeskHandle OpenDesktop(const std::string& name, std::uint32_t access) override;
    bool SwitchDesktop(DeskHandle desktop) override;
    bool CloseDesktop(DeskHandle desktop) override;
    long GetLastError() override;

private:
    Desktop& real_;
    long injected_ = 0;
};

/// The MD5 library. A failed call answers 0 with the error text "failed on
/// purpose: " and the error (5 unless the fault names another number), and
/// leaves the digest and the size as they were. The path a fault matches is
/// the file.
class ForwardingMd5Library : public Md5Library, public FailSwitch {
public:
    explicit ForwardingMd5Library(Md5Library& real);
    std::int16_t KGetMD5(const std::string& path, std::string& md5, std::string& size, std::string& error) override;
    std::int16_t KGetMD5WBlock(const std::string& path, const std::string& blockSize, std::string& md5,
                               std::string& size, std::string& error) override;

private:
    Md5Library& real_;
};

/// The webpost library and the objects it creates. A failed CreateObject
/// raises RunError (429 unless the fault names another number); a failed
/// Register answers false; a failed PostXMLString of an object created here
/// answers false, its first error text "failed on purpose: " and the error
/// (5 unless the fault names another number). The path a fault matches is
/// the class name, the library path or the URL.
class ForwardingWebpostLibrary : public WebpostLibrary, public FailSwitch {
public:
    explicit ForwardingWebpostLibrary(WebpostLibrary& real);
    std::unique_ptr<WebpostObject> CreateObject(const std::string& className) override;
    bool Register(const std::string& libraryPath) override;

private:
    class Object;
    WebpostLibrary& real_;
};

/// XML documents. A failed CreateDocument raises RunError (429 unless the
/// fault names another number); the documents it creates are wrapped, and
/// their failed Load or LoadBytes answers false, as for a file that is not
/// well-formed. The path a fault matches is the file Load is given.
class ForwardingXmlLibrary : public XmlLibrary, public FailSwitch {
public:
    explicit ForwardingXmlLibrary(XmlLibrary& real);
    std::unique_ptr<XmlDocument> CreateDocument() override;

private:
    class Document;
    XmlLibrary& real_;
};

/// Locks. A failed TryLockFile or TryLockMachine answers nullptr, as while
/// another process holds the lock; a failed MachineLockRecord answers "".
/// The path a fault matches is the file.
class ForwardingLocks : public Locks, public FailSwitch {
public:
    explicit ForwardingLocks(Locks& real);
    std::unique_ptr<HeldLock> TryLockFile(const std::string& file) override;
    std::unique_ptr<HeldLock> TryLockMachine(const std::string& lockFile, const std::string& record) override;
    std::string MachineLockRecord(const std::string& lockFile) override;

private:
    Locks& real_;
};
