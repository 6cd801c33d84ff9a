// Parser of the HTML export: plain text searches in the page, no markup parser.
// May contain: the reading of a script's logs; no system calls.
#include "scriptlog/html_export.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
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

namespace {

constexpr std::string_view kBody = "<body>";
constexpr std::string_view kTableEnd = "</table>";
constexpr std::string_view kRowEnd = "</tr>";
// The longest marker less one: what a block must keep for the next one.
constexpr std::size_t kCarry = 7;

bool markerAt(std::string_view text, std::size_t at, std::string_view marker) {
    return text.size() - at >= marker.size() && equalsNoCase(text.substr(at, marker.size()), marker);
}

// Reads a stream block by block and tells `found` of every marker of
// `markers` (each begins with "<", none can overlap another) with its offset
// in the file, in file order, as a search of the whole text would find them;
// the bytes between the markers go to `bytes` with their offset. Either
// callback ends the reading by answering false.
template <class Found, class Bytes>
void scanMarkers(TextStream& stream, std::initializer_list<std::string_view> markers, Found found, Bytes bytes) {
    std::string window;
    std::uint64_t base = 0;  // file offset of window[0]
    for (;;) {
        std::string_view block;
        const bool end = !stream.ReadView(block);
        window += block;
        // A "<" too near the end to be told apart waits for the next block.
        const std::size_t limit = end ? window.size() : (window.size() > kCarry ? window.size() - kCarry : 0);
        std::size_t done = 0;  // bytes of the window handed on
        for (std::size_t at = window.find('<'); at < limit; at = window.find('<', at + 1)) {
            if (at < done) continue;
            for (const std::string_view marker : markers) {
                if (!markerAt(window, at, marker)) continue;
                if (at > done && !bytes(base + done, std::string_view(window).substr(done, at - done))) return;
                if (!found(base + at, marker)) return;
                done = at + marker.size();
                break;
            }
        }
        if (done < limit) {
            if (!bytes(base + done, std::string_view(window).substr(done, limit - done))) return;
            done = limit;
        }
        if (end) return;
        window.erase(0, done);
        base += done;
    }
}

// Where the page's parts lie, from one pass over the file: the text from the
// first "<body>" on (all of it without one), its table ends, and the row ends
// of the action table between the first two.
struct PageLayout {
    std::uint64_t tableEnds = 0;
    std::uint64_t actionsFrom = 0;  // just after the first table end
    std::uint64_t actionsTo = 0;    // at the second table end
    std::uint64_t rowEnds = 0;      // "</tr>" between them
};

PageLayout layoutOf(TextStream& stream) {
    PageLayout layout;
    bool body = false;
    scanMarkers(
        stream, {kBody, kTableEnd, kRowEnd},
        [&](std::uint64_t at, std::string_view marker) {
            if (marker == kBody) {
                // Only what follows the first one counts.
                if (!body) layout = PageLayout{};
                body = true;
            } else if (marker == kTableEnd) {
                ++layout.tableEnds;
                if (layout.tableEnds == 1) layout.actionsFrom = at + kTableEnd.size();
                if (layout.tableEnds == 2) layout.actionsTo = at;
            } else if (layout.tableEnds == 1) {
                ++layout.rowEnds;
            }
            return true;
        },
        [](std::uint64_t, std::string_view) { return true; });
    return layout;
}

using ActionRow = std::array<std::string, 7>;

// A row fails when its six cells are all filled and its status reads "error".
bool rowFails(const ActionRow& row) {
    for (std::size_t column = 0; column < 6; ++column) {
        if (row[column].empty()) return false;
    }
    return lowerAscii(row[0]) == "error";
}

// The rows of the action table, two at a time: a row is settled once the row
// after it is read, since only an output row changes the row before it.
struct RowWindow {
    HTMLActionTable rows = HTMLActionTable(2);
    std::uint64_t index = 0;      // rows taken so far
    std::uint64_t rowCount = 0;   // as the first pass counted them
};

void settleRow(RunContext& ctx, FailureCounters& counters, ActionRow& row) {
    if (!rowFails(row)) return;
    row[2] = replaceAll(row[2], "\"", "'");
    recordCountedFailure(ctx, counters, row[2], row[6], false);
}

void takeRow(RunContext& ctx, FailureCounters& counters, RowWindow& window, const std::string& text) {
    if (window.index == 0) {
        subParseHTMLActionRow(ctx, window.rows, text, 0);
        // The 16-bit counter overflows on the step past 32767.
        if (window.rowCount >= kRowLimit) throw runError(err::Overflow);
    } else {
        if (window.index + 1 > kRowLimit) throw runError(err::Overflow);  // the file grew meanwhile
        // An output row only gives the row before it its column 6,
        // which is read only when that row fails: the output of
        // the others, most of the page, is not worked on.
        if (rowFails(window.rows[0]) || !containsNoCase(text, "ActionOutput")) {
            subParseHTMLActionRow(ctx, window.rows, text, 1);
        }
        settleRow(ctx, counters, window.rows[0]);
        window.rows[0] = std::move(window.rows[1]);
        window.rows[1] = {};
    }
    ++window.index;
}

// The second pass: the action table a row at a time, each row kept to
// kMaxLineBytes, until its end or until the failure list is full.
void readActionTable(RunContext& ctx, FailureCounters& counters, TextStream& stream, const PageLayout& layout,
                     RowWindow& window) {
    std::string row;
    bool full = false;
    scanMarkers(
        stream, {kRowEnd},
        [&](std::uint64_t at, std::string_view) {
            if (at < layout.actionsFrom) return true;
            if (at >= layout.actionsTo) return false;
            takeRow(ctx, counters, window, row);
            row.clear();
            // Once the list is full the rest of the page changes nothing.
            full = failureListFull(ctx);
            return !full;
        },
        [&](std::uint64_t at, std::string_view text) {
            // Only the action table's bytes make rows, each kept to its bound.
            const std::uint64_t from = std::max(at, layout.actionsFrom);
            const std::uint64_t to = std::min<std::uint64_t>(at + text.size(), layout.actionsTo);
            if (from < to && row.size() < kMaxLineBytes) {
                const std::uint64_t length = std::min<std::uint64_t>(to - from, kMaxLineBytes - row.size());
                row.append(text.substr(from - at, length));
            }
            return at + text.size() < layout.actionsTo;
        });
    if (full) return;
    takeRow(ctx, counters, window, row);
    settleRow(ctx, counters, window.rows[0]);
}

// Two passes instead of the page in memory: the first finds the parts (the
// page is only taken apart when its body holds exactly two table ends, and
// the row limit is known before any row is reported); the second takes the
// action table a row at a time.
void parsePage(RunContext& ctx, FailureCounters& counters, const std::string& exportPath) {
    PageLayout layout;
    {
        std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(logsFolder(ctx), exportPath);
        if (stream->AtEndOfStream()) return;
        layout = layoutOf(*stream);
    }
    if (layout.tableEnds != 2 || layout.actionsTo == layout.actionsFrom) return;
    RowWindow window;
    window.rowCount = layout.rowEnds + 1;
    std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(logsFolder(ctx), exportPath);
    readActionTable(ctx, counters, *stream, layout, window);
}

}  // namespace

void fncParseExportLogHTML(RunContext& ctx, const std::string& exportPath) {
    FailureCounters counters = beginFailureCounters(ctx);
    guarded([&] { parsePage(ctx, counters, exportPath); },
            [&](const RunError& e) {
                WriteLog(ctx, "ERR : fncParseExportLogHTML. " + std::to_string(e.number) + " " + e.description);
            });
    // The counters raised so far are written, also after an error above.
    writeFailureCounters(ctx, counters);
}
