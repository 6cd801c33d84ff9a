// Fuzzes the XML export parser.
#include "fuzz_support.h"
#include "scriptlog/xml_export.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    RunContext& ctx = m.fresh();
    const std::string path = std::string(fuzz::kLogs) + "run.xml";
    m.write(path, data, size);
    fncParseExportLogXML(ctx, path, "0");
    fuzz::checkList("", ctx.strActionDescList);
    const bool invalid = !m.run.lines.empty() && m.run.lines.back().find("ERR : Invalid XML File") != std::string::npos;
    if (!invalid && ctx.lngXMLDetUBound != static_cast<std::int32_t>(ctx.strXMLDetArr.size()) - 1) std::abort();
    return 0;
}
