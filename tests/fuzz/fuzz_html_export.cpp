// Fuzzes the HTML export parser, and holds it to the page read whole: the
// parser reads the file in two streaming passes, and must come to the very
// list, counters and log lines that splitting the whole text gives.
#include "fuzz_support.h"
#include "base/errors.h"
#include "base/text.h"
#include "context/run_log.h"
#include "scriptlog/failure_desc.h"
#include "scriptlog/html_export.h"

namespace {

// The parse as the page read into memory whole would do it.
void parseWhole(RunContext& ctx, const std::string& path) {
    FailureCounters counters = beginFailureCounters(ctx);
    guarded(
        [&] {
            auto stream = ctx.objFSO->OpenTextFile(path, IOMode::ForReading, false);
            if (stream->AtEndOfStream()) return;
            std::string page = stream->ReadAll();
            const std::size_t body = findNoCase(page, "<body>");
            if (body != std::string::npos) page.erase(0, body + 1);
            const std::vector<std::string> tables = splitNoCase(page, "</table>");
            if (tables.size() != 3) return;
            const std::vector<std::string> rows = splitNoCase(tables[1], "</tr>");
            HTMLActionTable actions(rows.size());
            for (std::size_t i = 0; i < rows.size(); ++i) {
                subParseHTMLActionRow(ctx, actions, rows[i], static_cast<int>(i));
                if (i + 1 >= 32768) throw runError(err::Overflow);
            }
            for (auto& row : actions) {
                bool complete = true;
                for (std::size_t c = 0; c < 6; ++c) complete = complete && !row[c].empty();
                if (!complete || lowerAscii(row[0]) != "error") continue;
                row[2] = replaceAll(row[2], "\"", "'");
                recordCountedFailure(ctx, counters, row[2], row[6], false);
            }
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncParseExportLogHTML. " + std::to_string(e.number) + " " + e.description);
        });
    writeFailureCounters(ctx, counters);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    const std::string path = std::string(fuzz::kLogs) + "run.html";
    m.write(path, data, size);

    RunContext& whole = m.fresh();
    parseWhole(whole, path);
    const std::string expectedList = whole.script.strActionDescList;
    const std::vector<std::string> expectedLines = m.run.lines;
    const std::string expectedIni = m.run.sandbox.exists(fuzz::kIni) ? m.run.sandbox.readFile(fuzz::kIni) : "";

    RunContext& ctx = m.fresh();
    fncParseExportLogHTML(ctx, path);
    fuzz::checkList("", ctx.script.strActionDescList);
    if (ctx.script.strActionDescList != expectedList || m.run.lines != expectedLines) std::abort();
    if ((m.run.sandbox.exists(fuzz::kIni) ? m.run.sandbox.readFile(fuzz::kIni) : "") != expectedIni) std::abort();
    return 0;
}
