// Shared test fixtures: a fresh machine, a clock the test sets, the run log
// captured in memory, and a RunContext over the real backend of this build.
//
// One header for both builds; the backend half is chosen by CMake:
// sandbox_posix.cpp maps the machine onto a temporary machine root,
// sandbox_win32.cpp uses the real drive C: and the real registry (see Sandbox).
// test_backend.h (tests/support/posix or tests/support/win32, also chosen by
// CMake) declares the backend's own classes for the tests of that backend.
#pragma once

#include <memory>
#include <string>
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
#include "platform/xml.h"
#include "run/run_context.h"
#include "test_backend.h"

/// True in the build on the posix backend (Linux); false in the Win32 build.
/// Tests that need what only the posix machine has (its machine root,
/// symbolic links, posix processes, the posix tools) skip themselves when this
/// is false, and say why.
bool onPosixBackend();

/// A fresh machine for one test.
///
/// posix: a temporary machine root, made the process's VORBEX_MACHINE while
/// it lives; removed with everything in it at the end.
/// Win32: the machine's own drive C: and registry, so the tests must run one
/// at a time (CMake marks them so). What a test adds at the top of C:\ or of
/// C:\Program Files, and every registry key it writes, is removed when the
/// sandbox ends, and also when the next one starts (after a test that
/// crashed): the first sandbox of a machine records what was there before
/// (in the temporary folder). So run them on a machine kept for tests, such
/// as the fresh Wine prefix of scripts/test-windows.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    /// posix: the machine root. Win32: "C:\".
    const std::string& root() const { return root_; }
    /// The host path of a Windows path in this machine (Win32: the path itself).
    std::string hostPath(const std::string& windowsPath) const;
    /// Writes a file (creating its folders) with exactly these bytes.
    void writeFile(const std::string& windowsPath, const std::string& bytes) const;
    std::string readFile(const std::string& windowsPath) const;
    bool exists(const std::string& windowsPath) const;
    void makeFolder(const std::string& windowsPath) const;
    /// Replaces the machine's registry with `body`, in the registry editor's
    /// export format without its header ("[HKEY_LOCAL_MACHINE\...]" lines,
    /// "Name"="text", "Name"=dword:0000002a and "Name"=hex(<type>):<bytes>
    /// values). posix: writes <root>/system.reg. Win32: removes the keys an
    /// earlier call wrote and writes these through the registry API.
    void writeRegistry(const std::string& body) const;

private:
    std::string root_;
    std::string previous_;
    bool hadPrevious_ = false;
};

/// Gives a file the time stamps of local time `t`: the ones the backend's
/// file system reports as the file's creation date (posix: the modification
/// time; Win32: the creation time). False when the system refused.
bool setFileTime(const std::string& hostPath, const LocalTime& t);

/// The MD5 digest of `bytes` as 32 lower-case hexadecimal digits, computed by
/// the system's own digest (posix: OpenSSL; Win32: CryptoAPI), not by the MD5
/// library under test.
std::string systemMd5Hex(const std::string& bytes);

/// The real backends of this build, each made when first asked for.
class RealBackends {
public:
    virtual ~RealBackends() = default;
    virtual FileSystem& fs() = 0;
    virtual Registry& registry() = 0;
    virtual ProfileFiles& profile() = 0;
    virtual Paths& paths() = 0;
    /// The running test program (its real command line, folder and name).
    virtual Host& host() = 0;
    virtual XmlLibrary& xml() = 0;
    /// posix: OpenSSL. Win32: the MD5 library DLL beside the test program.
    virtual Md5Library& md5() = 0;
    virtual Processes& processes() = 0;
    virtual Desktop& desktop() = 0;
    virtual Locks& locks() = 0;
};
std::unique_ptr<RealBackends> makeRealBackends();

/// A clock that stands where the test puts it; sleeping advances it. Its
/// UTC time is its local time read as UTC.
class FakeClock : public Clock {
public:
    LocalTime time{2026, 12, 7, 10, 15, 30};
    std::uint64_t sleptMs = 0;
    LocalTime now() override { return time; }
    void sleepMs(std::uint32_t ms) override;
    std::int64_t utcMs() override;
};

/// A text stream that keeps the written lines in memory (the captured run log).
class CaptureStream : public TextStream {
public:
    explicit CaptureStream(std::vector<std::string>* lines) : lines_(lines) {}
    bool AtEndOfStream() override { return true; }
    std::string ReadLine() override;
    std::size_t ReadLines(std::string_view*, std::size_t) override { return 0; }
    bool ReadView(std::string_view&) override { return false; }
    std::string ReadAll() override { return ""; }
    std::string Read(std::size_t) override { return ""; }
    void Write(const std::string& text) override;
    void WriteLine(const std::string& text) override;
    void Close() override {}

private:
    std::vector<std::string>* lines_;
};

/// A file system that passes every call to another one; tests derive from it
/// to change one or two entries of the real backend.
class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(FileSystem& real) : real_(real) {}
    bool FolderExists(const std::string& path) override { return real_.FolderExists(path); }
    bool FileExists(const std::string& path) override { return real_.FileExists(path); }
    void CreateFolder(const std::string& path) override { real_.CreateFolder(path); }
    std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite) override {
        return real_.CreateTextFile(path, overwrite);
    }
    std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IOMode mode, bool create) override {
        return real_.OpenTextFile(path, mode, create);
    }
    void CopyFile(const std::string& source, const std::string& target, bool overwrite) override {
        real_.CopyFile(source, target, overwrite);
    }
    void MoveFile(const std::string& source, const std::string& target, bool replace) override {
        real_.MoveFile(source, target, replace);
    }
    void DeleteFile(const std::string& path, bool force) override { real_.DeleteFile(path, force); }
    std::uint64_t GetFileSize(const std::string& path) override { return real_.GetFileSize(path); }
    std::string GetFileVersion(const std::string& path) override { return real_.GetFileVersion(path); }
    std::vector<FileEntry> GetFiles(const std::string& folder) override { return real_.GetFiles(folder); }
    void SetReadOnly(const std::string& path, bool readOnly) override { real_.SetReadOnly(path, readOnly); }
    std::unique_ptr<TextStream> OpenSharedLog(const std::string& path, std::uint64_t restartSize) override {
        return real_.OpenSharedLog(path, restartSize);
    }
    bool FileExistsInside(const std::string& folder, const std::string& path) override {
        return real_.FileExistsInside(folder, path);
    }
    std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) override {
        return real_.OpenInside(folder, path);
    }
    void RewriteInside(const std::string& folder, const std::string& path, const std::string& text) override {
        real_.RewriteInside(folder, path, text);
    }
    void CopyOutOf(const std::string& folder, const std::string& path, const std::string& target,
                   bool overwrite) override {
        real_.CopyOutOf(folder, path, target, overwrite);
    }
    void DeleteInside(const std::string& folder, const std::string& path, bool force) override {
        real_.DeleteInside(folder, path, force);
    }

private:
    FileSystem& real_;
};

/// Profile files that pass every call to other ones.
class ForwardingProfileFiles : public ProfileFiles {
public:
    explicit ForwardingProfileFiles(ProfileFiles& real) : real_(real) {}
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars, const std::string& file) override {
        return real_.GetString(section, key, defaultValue, bufferChars, file);
    }
    std::int32_t GetInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                        const std::string& file) override {
        return real_.GetInt(section, key, defaultValue, file);
    }
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override {
        return real_.WriteString(section, key, value, file);
    }
    std::vector<bool> WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) override {
        return real_.WriteStrings(entries, file);
    }
    std::unique_ptr<ProfileSection> OpenSection(const std::string& section, const std::string& file) override {
        return real_.OpenSection(section, file);
    }

private:
    ProfileFiles& real_;
};

/// The real host with the command line the test chooses.
class CommandLineHost : public Host {
public:
    CommandLineHost(Host& real, std::string line) : real_(real), line_(std::move(line)) {}
    std::string CommandLine() override { return line_; }
    std::string ExeFolder() override { return real_.ExeFolder(); }
    std::string ExeBaseName() override { return real_.ExeBaseName(); }
    void HideFromTaskList() override { real_.HideFromTaskList(); }
    bool StartHidden(const std::string& commandLine) override { return real_.StartHidden(commandLine); }
    std::string SystemMessage(long code) override { return real_.SystemMessage(code); }
    std::uint32_t ProcessId() override { return real_.ProcessId(); }

private:
    Host& real_;
    std::string line_;
};

/// A run over a sandbox with the real backend of this build (without
/// processes, desktop, MD5, webpost or XML unless the test sets them) and a
/// fake clock.
struct TestRun {
    TestRun();
    Sandbox sandbox;
    std::unique_ptr<RealBackends> real = makeRealBackends();
    FileSystem& fs = real->fs();
    Registry& registry = real->registry();
    ProfileFiles& profile = real->profile();
    Paths& paths = real->paths();
    FakeClock clock;
    Host& host = real->host();
    Locks& locks = real->locks();
    Platform platform;
    std::unique_ptr<RunContext> ctx;
    /// Captured log lines, each as written (stamp, TAB, message).
    std::vector<std::string> lines;

    /// The messages of the captured log (stamps removed).
    std::vector<std::string> messages() const;
    /// True when some message equals `message` exactly.
    bool logged(const std::string& message) const;
    /// True when some message contains `part`.
    bool loggedPart(const std::string& part) const;
    /// Installs "C:\Agent\" as the installation path in the context and makes the folder.
    void useInstallPath(const std::string& path = "C:\\Agent\\");
};
