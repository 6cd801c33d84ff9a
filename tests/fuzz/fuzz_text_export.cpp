// Fuzzes the plain-text export parser.
#include "fuzz_support.h"
#include "scriptlog/text_export.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    RunContext& ctx = m.fresh();
    const std::string path = std::string(fuzz::kLogs) + "run.txt";
    m.write(path, data, size);
    if (fncEditScriptlog(ctx, path)) std::abort();
    fuzz::checkList("", ctx.script.strActionDescList);
    return 0;
}
