// Shared test fixtures: a fresh machine, a clock the test sets, the run log
// captured in memory, and a RunContext over the real backend of this build,
// made by the program's own factory (platform/system.h). forwarding.h wraps
// any backend to count its calls or fail chosen ones.
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

#include "context/run_context.h"
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
#include "platform/system.h"
#include "platform/xml.h"
#include "forwarding.h"
#include "raised.h"
#include "test_backend.h"

/// True in the build on the posix backend (Linux); false in the Win32 build.
/// Tests that need what only the posix machine has (its machine root,
/// symbolic links, posix processes, the posix tools) skip themselves when this
/// is false, and say why.
bool onPosixBackend();

/// The machine's Program Files folder as the program sees it: C:\Program Files
/// on the posix machine and on 32-bit Windows, the 32-bit programs' folder
/// (C:\Program Files (x86)) for a 64-bit build on 64-bit Windows.
std::string programFilesFolder();

/// A fresh machine for one test.
///
/// posix: a temporary machine root, made the process's VORBEX_MACHINE while
/// it lives; removed with everything in it at the end.
/// Win32: the machine's own drive C: and registry, so the tests must run one
/// at a time (CMake marks them so). What a test adds at the top of C:\ or of
/// programFilesFolder(), and every registry key it writes, is removed when the
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

/// A clock that stands where the test puts it; sleeping advances it. Its
/// UTC time is its local time read as UTC; its boot clock moves only by
/// sleeping, so a test may step `time` as a wall clock is stepped.
class FakeClock : public Clock {
public:
    LocalTime time{2026, 12, 7, 10, 15, 30};
    std::uint64_t sleptMs = 0;
    std::int64_t boot = 3600000;
    LocalTime now() override { return time; }
    void sleepMs(std::uint32_t ms) override;
    std::int64_t bootMs() override { return boot; }
    std::string bootId() override { return "test-boot"; }
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
    void Write(const std::string& text) override;
    void WriteLine(const std::string& text) override;
    void WriteLines(const std::vector<std::string>& texts) override {
        lines_->insert(lines_->end(), texts.begin(), texts.end());
    }
    void Close() override {}

private:
    std::vector<std::string>* lines_;
};

/// The real host with the command line the test chooses.
class CommandLineHost : public ForwardingHost {
public:
    CommandLineHost(Host& real, std::string line) : ForwardingHost(real), line_(std::move(line)) {}
    std::string CommandLine() override { return line_; }

private:
    std::string line_;
};

/// The real profile files, counting the reads of values and the writes (each
/// WriteString or WriteStrings call replaces the file once).
class CountingProfile : public ForwardingProfileFiles {
public:
    using ForwardingProfileFiles::ForwardingProfileFiles;
    int reads() const { return calls("GetString"); }
    int writes() const { return calls("WriteString") + calls("WriteStrings"); }
    /// Sections opened to look up many keys at once.
    int sectionReads() const { return calls("OpenSection"); }
};

/// A run over a sandbox with the real backend of this build (without
/// processes, desktop, MD5, webpost or XML unless the test sets them) and a
/// fake clock.
struct TestRun {
    TestRun();
    Sandbox sandbox;
    /// Every real backend of this build, made by the program's own factory
    /// once the sandbox is in place (posix: the processes backend reads the
    /// machine root when it is made). The host is the running test program.
    std::unique_ptr<SystemPlatform> system;
    const Platform& real = system->platform;
    FileSystem& fs = *real.fs;
    Registry& registry = *real.registry;
    ProfileFiles& profile = *real.profile;
    Paths& paths = *real.paths;
    FakeClock clock;
    Host& host = *real.host;
    Locks& locks = *real.locks;
    /// What the run context was made over.
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
    /// A machine ready for a job: C:\Agent\ installed as RegID 42, the run's
    /// action Action_12_KRN, and the folders a job writes into (AutomiseLogs,
    /// HVRPostLogs, Configuration, kScripts, Program Files\KOVAExMonScripts).
    void useJobMachine();
};
