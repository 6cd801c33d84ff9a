// Parser of the HTML export: plain text searches in the page, no markup parser.
#include "scriptlog/html_export.h"

#include "platform/errors.h"
#include "run/config.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/text.h"
#include "scriptlog/failure_desc.h"

namespace {

// Row indexes are 16-bit signed integers: 32767 is the last one they reach.
constexpr std::size_t kRowLimit = 32768;

// Removes every `what`, then the blanks at both ends.
std::string removeAndTrim(const std::string& text, std::string_view what, std::string_view with = "") {
    return trimBlanks(replaceAll(text, what, with));
}

}  // namespace

void subParseHTMLActionRow(RunContext& ctx, HTMLActionTable& arrHTMLActions, const std::string& strRow,
                           int intIndex) {
    if (containsNoCase(strRow, "ActionOutput")) {
        const std::size_t pre = strRow.find("<pre>");
        std::string text = pre == std::string::npos ? strRow : strRow.substr(pre);
        text = removeAndTrim(text, "<pre>");
        text = removeAndTrim(text, "&lt;", "<");
        text = removeAndTrim(text, "&gt;", ">");
        text = removeAndTrim(text, "</pre>");
        text = removeAndTrim(text, "</span>");
        text = removeAndTrim(text, "</div>");
        text = removeAndTrim(text, "</td>");
        if (intIndex < 1 || static_cast<std::size_t>(intIndex) > arrHTMLActions.size()) {
            throw runError(err::SubscriptRange);
        }
        arrHTMLActions[static_cast<std::size_t>(intIndex) - 1][6] = std::move(text);
        return;
    }
    if (containsNoCase(strRow, "NormalRow") || containsNoCase(strRow, "ActionListRow") ||
        containsNoCase(strRow, "ErrorRow")) {
        const std::size_t td = strRow.find("<td>");
        const std::string cells = replaceAll(td == std::string::npos ? strRow : strRow.substr(td), "\r\n", "");
        const std::vector<std::string> pieces = splitNoCase(cells, "</td>");
        if (pieces.size() < 6) return;
        if (intIndex < 0 || static_cast<std::size_t>(intIndex) >= arrHTMLActions.size()) {
            throw runError(err::SubscriptRange);
        }
        auto& row = arrHTMLActions[static_cast<std::size_t>(intIndex)];
        for (std::size_t column = 0; column < 6; ++column) row[column] = removeAndTrim(pieces[column], "<td>");
    }
}

void fncParseExportLogHTML(RunContext& ctx, const std::string& exportPath, const std::string& mode) {
    FailureCounters counters = beginFailureCounters(ctx);
    guarded(
        [&] {
            std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(logsFolder(ctx), exportPath);
            if (stream->AtEndOfStream()) return;
            std::string page = stream->ReadAll();
            stream.reset();

            const std::size_t body = findNoCase(page, "<body>");
            if (body != std::string::npos) page.erase(0, body + 1);
            const std::vector<std::string> arrHTMLTables = splitNoCase(page, "</table>");
            page.clear();
            page.shrink_to_fit();
            if (arrHTMLTables.size() != 3) return;

            const std::vector<std::string> arrHTMLActionRows = splitNoCase(arrHTMLTables[1], "</tr>");
            HTMLActionTable arrHTMLActions(arrHTMLActionRows.size());
            for (std::size_t index = 0; index < arrHTMLActionRows.size(); ++index) {
                subParseHTMLActionRow(ctx, arrHTMLActions, arrHTMLActionRows[index], static_cast<int>(index));
                // The 16-bit counter overflows on the step past 32767.
                if (index + 1 >= kRowLimit) throw runError(err::Overflow);
            }

            for (auto& row : arrHTMLActions) {
                bool complete = true;
                for (std::size_t column = 0; column < 6; ++column) complete = complete && !row[column].empty();
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
