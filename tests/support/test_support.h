// Shared test fixtures: a temporary machine root, a clock the test sets, the
// run log captured in memory, and a RunContext over the real posix backend.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/backends.h"
#include "run/run_context.h"

/// A temporary machine root, made the process's VORBEX_MACHINE while it lives.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    /// The posix path of a Windows path in this machine.
    std::string hostPath(const std::string& windowsPath) const;
    /// Writes a file (creating its folders) with exactly these bytes.
    void writeFile(const std::string& windowsPath, const std::string& bytes) const;
    std::string readFile(const std::string& windowsPath) const;
    bool exists(const std::string& windowsPath) const;
    void makeFolder(const std::string& windowsPath) const;
    /// Writes <root>/system.reg: the version 5 header, then `body`.
    void writeRegistry(const std::string& body) const;

private:
    std::string root_;
    std::string previous_;
    bool hadPrevious_ = false;
};

/// A clock that stands where the test puts it; sleeping advances it.
class FakeClock : public Clock {
public:
    LocalTime time{2026, 12, 7, 10, 15, 30};
    std::uint64_t sleptMs = 0;
    LocalTime now() override { return time; }
    void sleepMs(std::uint32_t ms) override;
};

/// A text stream that keeps the written lines in memory (the captured run log).
class CaptureStream : public TextStream {
public:
    explicit CaptureStream(std::vector<std::string>* lines) : lines_(lines) {}
    bool AtEndOfStream() override { return true; }
    std::string ReadLine() override;
    std::string ReadAll() override { return ""; }
    void Write(const std::string& text) override;
    void WriteLine(const std::string& text) override;
    void Close() override {}

private:
    std::vector<std::string>* lines_;
};

/// A run over a sandbox with the real posix backend (without processes,
/// desktop, MD5, webpost or XML unless the test sets them) and a fake clock.
struct TestRun {
    TestRun();
    Sandbox sandbox;
    PosixFileSystem fs;
    PosixRegistry registry;
    PosixProfileFiles profile;
    PosixPaths paths;
    FakeClock clock;
    std::unique_ptr<PosixHost> host;
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
