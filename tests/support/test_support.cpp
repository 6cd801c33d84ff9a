#include "test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/errors.h"
#include "platform/posix/machine.h"

namespace fs = std::filesystem;

Sandbox::Sandbox() {
    if (const char* old = std::getenv("VORBEX_MACHINE")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    std::string pattern = (fs::temp_directory_path() / "vorbex-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    ::setenv("VORBEX_MACHINE", root_.c_str(), 1);
    fs::create_directories(root_ + "/drive_c");
}

Sandbox::~Sandbox() {
    std::error_code ec;
    // Files made read-only by a test must not stop the removal.
    for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator(); ++it) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
    if (hadPrevious_) ::setenv("VORBEX_MACHINE", previous_.c_str(), 1);
    else ::unsetenv("VORBEX_MACHINE");
}

std::string Sandbox::hostPath(const std::string& windowsPath) const { return mapPath(windowsPath); }

void Sandbox::writeFile(const std::string& windowsPath, const std::string& bytes) const {
    const fs::path p = hostPath(windowsPath);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Sandbox::readFile(const std::string& windowsPath) const {
    std::ifstream in(hostPath(windowsPath), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Sandbox::exists(const std::string& windowsPath) const { return fs::exists(hostPath(windowsPath)); }

void Sandbox::makeFolder(const std::string& windowsPath) const { fs::create_directories(hostPath(windowsPath)); }

void Sandbox::writeRegistry(const std::string& body) const {
    std::ofstream out(root_ + "/system.reg", std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n" << body;
}

void FakeClock::sleepMs(std::uint32_t ms) {
    sleptMs += ms;
    // Advance the stamp by whole seconds so later stamps move on as well.
    int add = static_cast<int>(ms / 1000);
    while (add-- > 0) {
        if (++time.second < 60) continue;
        time.second = 0;
        if (++time.minute < 60) continue;
        time.minute = 0;
        ++time.hour;
    }
}

std::string CaptureStream::ReadLine() { throw RunError{62, "Input past end of file"}; }

void CaptureStream::Write(const std::string& text) {
    if (lines_->empty()) lines_->emplace_back();
    lines_->back() += text;
}

void CaptureStream::WriteLine(const std::string& text) { lines_->push_back(text); }

TestRun::TestRun() {
    static char name[] = "vorbex";
    static char* argv[] = {name, nullptr};
    host = std::make_unique<PosixHost>(1, argv);
    platform.fs = &fs;
    platform.registry = &registry;
    platform.profile = &profile;
    platform.paths = &paths;
    platform.clock = &clock;
    platform.host = host.get();
    ctx = std::make_unique<RunContext>(platform);
    ctx->objLogFile = std::make_unique<CaptureStream>(&lines);
}

std::vector<std::string> TestRun::messages() const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
        const auto tab = line.find('\t');
        out.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return out;
}

bool TestRun::logged(const std::string& message) const {
    for (const auto& m : messages()) {
        if (m == message) return true;
    }
    return false;
}

bool TestRun::loggedPart(const std::string& part) const {
    for (const auto& m : messages()) {
        if (m.find(part) != std::string::npos) return true;
    }
    return false;
}

void TestRun::useInstallPath(const std::string& path) {
    ctx->strInstallPath = path;
    sandbox.makeFolder(path);
}
