// Fuzzes the log dispatch. The input is a console log, then a NUL byte, then
// the bytes of an export that is written under every name the seeds use, so
// that a console log naming one of them reaches its parser.
#include <cstring>

#include "fuzz_support.h"
#include "platform/posix/machine.h"
#include "scriptlog/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    RunContext& ctx = m.fresh();
    const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t consoleSize = nul ? static_cast<size_t>(nul - data) : size;
    m.write(fuzz::kConsoleLog, data, consoleSize);
    const uint8_t* exportData = nul ? nul + 1 : data + size;
    const size_t exportSize = static_cast<size_t>(data + size - exportData);
    for (const char* name : {"run.xml", "run.txt", "run.html", "run.text"}) {
        m.write(std::string(fuzz::kLogs) + name, exportData, exportSize);
    }
    fncProcessScriptLog(ctx, fuzz::kConsoleLog);
    fuzz::checkList("", ctx.strActionDescList);
    // A script's console log must never reach a file outside the logs folder.
    m.checkGuarded();
    if (!ctx.strVariablesFile.empty()) {
        const std::string folder = mapPath(fuzz::kLogs) + "/";
        if (mapPath(ctx.strVariablesFile).rfind(folder, 0) != 0) std::abort();
    }
    return 0;
}
