// Fuzzes the XML export parser.
#include "fuzz_support.h"
#include "scriptlog/xml_export.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    RunContext& ctx = m.fresh();
    const std::string path = std::string(fuzz::kLogs) + "run.xml";
    m.write(path, data, size);
    fncParseExportLogXML(ctx, path);
    fuzz::checkList("", ctx.script.strActionDescList);
    return 0;
}
