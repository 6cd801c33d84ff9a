// One sandbox machine per fuzz process, and a fresh run context per input.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "context/run_context.h"
#include "support/test_support.h"

namespace fuzz {

inline constexpr const char* kInstall = "C:\\Agent\\";
inline constexpr const char* kLogs = "C:\\Agent\\AutomiseLogs\\";
inline constexpr const char* kIni = "C:\\Agent\\Configuration\\ATZThreshold.ini";
inline constexpr const char* kConsoleLog = "C:\\Agent\\ATCMDLogs\\console.log";
// Files outside the logs folder that no input may remove or change.
inline constexpr const char* kGuarded[] = {"C:\\Agent\\keep.txt", "C:\\Agent\\Configuration\\keep.txt",
                                           "C:\\keep.txt"};

struct Machine {
    TestRun run;

    Machine() {
        run.useInstallPath(kInstall);
        run.sandbox.makeFolder("C:\\Agent\\Configuration");
        run.sandbox.makeFolder(kLogs);
        run.sandbox.makeFolder("C:\\Agent\\ATCMDLogs");
        for (const char* path : kGuarded) run.sandbox.writeFile(path, "guarded");
    }

    /// A new context over the same machine, as a new job would find it.
    RunContext& fresh() {
        run.lines.clear();
        ::unlink(run.sandbox.hostPath(kIni).c_str());
        run.ctx = std::make_unique<RunContext>(run.platform);
        run.ctx->objLogFile = std::make_unique<CaptureStream>(&run.lines);
        run.ctx->strInstallPath = kInstall;
        run.ctx->job.strExecuteScript = "Job.atz";
        // Low, so that both sides of the counter rule are reached quickly.
        run.ctx->strVTXVariablesTh = "1";
        return *run.ctx;
    }

    void write(const std::string& path, const uint8_t* data, size_t size) {
        run.sandbox.writeFile(path, std::string(reinterpret_cast<const char*>(data), size));
    }

    /// Stops the fuzzer when a file outside the logs folder was touched.
    void checkGuarded() {
        for (const char* path : kGuarded) {
            if (run.sandbox.readFile(path) != "guarded") std::abort();
        }
    }
};

inline Machine& machine() {
    static Machine m;
    return m;
}

/// A failure list starts with an entry whenever it was empty before and grew.
inline void checkList(const std::string& before, const std::string& after) {
    if (before.empty() && !after.empty() && after.rfind("ACTION-DESC:", 0) != 0) std::abort();
    if (!before.empty() && after.size() < before.size()) std::abort();
}

}  // namespace fuzz
