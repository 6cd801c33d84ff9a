// The parts of the test support that are the same on every backend.
#include "test_support.h"

#include "base/errors.h"

void FakeClock::sleepMs(std::uint32_t ms) {
    sleptMs += ms;
    boot += ms;
    // Carry milliseconds into seconds, and so on, so later stamps move on as well.
    const int total = time.millisecond + static_cast<int>(ms % 1000);
    time.millisecond = total % 1000;
    int add = static_cast<int>(ms / 1000) + total / 1000;
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

namespace {

// The test program stands where the program would, started without arguments.
char** programArgs() {
    static char name[] = "vorbex";
    static char* argv[] = {name, nullptr};
    return argv;
}

}  // namespace

TestRun::TestRun() : system(makeSystemPlatform(1, programArgs())) {
    platform.fs = &fs;
    platform.registry = &registry;
    platform.profile = &profile;
    platform.paths = &paths;
    platform.clock = &clock;
    platform.host = &host;
    platform.locks = &locks;
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

void TestRun::useJobMachine() {
    useInstallPath();
    ctx->strActionName = "Action_12_KRN";
    ctx->strRegID = "42";
    for (const std::string& folder : {std::string("C:\\Agent\\AutomiseLogs"), std::string("C:\\Agent\\HVRPostLogs"),
                                      std::string("C:\\Agent\\Configuration"), std::string("C:\\Agent\\kScripts"),
                                      programFilesFolder() + "\\KOVAExMonScripts"}) {
        sandbox.makeFolder(folder);
    }
}
