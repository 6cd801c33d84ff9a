// Fuzzes the console-log parser with arbitrary console logs.
#include "fuzz_support.h"
#include "base/errors.h"
#include "scriptlog/console_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    RunContext& ctx = m.fresh();
    m.write(fuzz::kConsoleLog, data, size);
    try {
        fncParseCMDLog(ctx, fuzz::kConsoleLog);
    } catch (const RunError& e) {
        // Only a log too short for its end checks may raise.
        if (e.number != err::SubscriptRange) std::abort();
    }
    fuzz::checkList("", ctx.script.strActionDescList);
    if (!ctx.script.strScriptStatus.empty() && ctx.script.strScriptStatus != "FAILED") std::abort();
    return 0;
}
