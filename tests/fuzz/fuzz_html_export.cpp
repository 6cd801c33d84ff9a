// Fuzzes the HTML export parser.
#include "fuzz_support.h"
#include "scriptlog/html_export.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    RunContext& ctx = m.fresh();
    const std::string path = std::string(fuzz::kLogs) + "run.html";
    m.write(path, data, size);
    fncParseExportLogHTML(ctx, path, "0");
    fuzz::checkList("", ctx.strActionDescList);
    return 0;
}
