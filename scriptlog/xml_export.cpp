// Parser of the XML (FB6LOG) export. It reads the export as lines of text,
// not as a document: each element it knows begins its own line.
// May contain: the reading of a script's logs; no system calls.
#include "scriptlog/xml_export.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "scriptlog/failure_desc.h"

namespace {

// The value of the attribute whose marker ("status=", " name=", ...) is on
// the raw line: from one character after the marker (the opening quote) to
// the next double quote, entities and blanks as they stand. An absent marker
// gives "". When no closing quote follows, the value cannot be cut out and
// `value` keeps what it held.
void attributeValue(std::string_view line, std::string_view marker, std::string& value) {
    const std::size_t at = line.find(marker);
    if (at == std::string_view::npos) {
        value.clear();
        return;
    }
    const std::size_t start = at + marker.size() + 1;
    if (start > line.size()) return;
    const std::size_t end = line.find('"', start);
    if (end == std::string_view::npos) return;
    value = line.substr(start, end - start);
}

bool isFailing(std::string_view status) { return equalsNoCase(blankTrimmed(status), "error"); }

// The element a line of the export begins, told by the first characters of
// the line with its blanks trimmed. Every marker begins with "<", and its
// second character tells which one it can be.
enum class Head { None, Log, Action, ActionList, Message };

Head headOf(std::string_view trimmed) {
    if (trimmed.size() < 2 || trimmed[0] != '<') return Head::None;
    switch (lowerChar(trimmed[1])) {
        case 'f':
            return startsWithNoCase(trimmed, "<FB6LOG") ? Head::Log : Head::None;
        case 'a':
            if (startsWithNoCase(trimmed, "<ACTION ")) return Head::Action;
            return startsWithNoCase(trimmed, "<ACTIONLIST") ? Head::ActionList : Head::None;
        case 'm':
            return startsWithNoCase(trimmed, "<MESSAGE><![CDATA[") ? Head::Message : Head::None;
        default:
            return Head::None;
    }
}

// Whether the trimmed line ends with one of the closing tags that keep a line
// out of a message.
bool endsAnElement(std::string_view trimmed) {
    return trimmed.ends_with('>') &&
           (endsWithNoCase(trimmed, "]]></MESSAGE>") || endsWithNoCase(trimmed, "</ACTION>") ||
            endsWithNoCase(trimmed, "</FB6LOG>") || endsWithNoCase(trimmed, "</ACTIONLIST>"));
}

// The export's lines in batches. A read that fails ends the reading: going
// on would only fail again.
struct ExportLines {
    std::unique_ptr<TextStream> stream;
    bool readable = false;
};

std::size_t readLines(ExportLines& in, std::string_view* lines, std::size_t max) {
    std::size_t count = 0;
    if (in.readable) ignoreErrors([&] { count = in.stream->ReadLines(lines, max); });
    in.readable = count > 0;
    return count;
}

// Whether the export, from its first line on, opens with the XML
// declaration once its empty lines are passed.
bool opensAsXml(ExportLines& in, std::string_view first) {
    while (first.empty() && readLines(in, &first, 1) == 1) {
    }
    return startsWithNoCase(blankTrimmed(first), "<?XML VERSION=");
}

// The failing action whose lines are being read: only it is held, its name
// and its message, the message cut at kTextBound.
struct FailingRow {
    bool pending = false;
    std::string name, message;
};

// A failing row is reported as soon as the next row begins (or the file
// ends): the failure pass of a row depends only on the list and the
// counters, which reading never touches, so the list and the counters come
// out as if every row had been read first.
void reportRow(RunContext& ctx, FailureCounters& counters, FailingRow& row) {
    if (!row.pending) return;
    // A failing counter access costs this row its detail, not the parse.
    ignoreErrors([&] { recordCountedFailure(ctx, counters, row.name, row.message, false); });
    row.pending = false;
}

// The rows of the export after its declaration, each failing one reported;
// the message lines of every other row are skipped.
void readActionRows(RunContext& ctx, FailureCounters& counters, ExportLines& in) {
    FailingRow row;
    // Once the list is full the rest of the export can change nothing.
    std::string_view lines[kLineBatch];
    std::size_t count = 0, next = 0;
    bool full = failureListFull(ctx);  // only a report can fill it
    while (!full) {
        if (next == count) {
            count = readLines(in, lines, kLineBatch);
            next = 0;
            if (count == 0) break;
        }
        const std::string_view line = lines[next++];
        // The line, blank-trimmed, is only ever tested at its two ends,
        // each without regard to case, so it is never upper-cased whole.
        const std::string_view trimmed = blankTrimmed(line);
        const Head head = headOf(trimmed);
        const bool isAction = head == Head::Action;
        if (head == Head::Log) {
            // The log's own line is neither a row nor a message line.
            continue;
        }
        if (isAction || head == Head::ActionList) {
            reportRow(ctx, counters, row);
            full = failureListFull(ctx);
            // An action list has no status, so only an action can fail;
            // the fields of the others are never looked at.
            std::string status;
            if (isAction) attributeValue(line, "status=", status);
            if (!isFailing(status)) continue;
            row.pending = true;
            row.name.clear();
            row.message.clear();
            attributeValue(line, " name=", row.name);
            row.name = boundedText(row.name);
        } else if (head == Head::Message) {
            if (row.pending) row.message = boundedText(midText(line, 19));
        } else if (!endsAnElement(trimmed)) {
            if (row.pending) {
                appendBounded(row.message, "\r\n");
                appendBounded(row.message, line);
            }
        }
    }
    reportRow(ctx, counters, row);
}

}  // namespace

void fncParseExportLogXML(RunContext& ctx, const std::string& exportPath) {
    ExportLines in;
    // An export that can't be opened is read as one without rows.
    ignoreErrors([&] { in.stream = ctx.objFSO->OpenInside(logsFolder(ctx), exportPath); });
    in.readable = in.stream != nullptr;

    FailureCounters counters = beginFailureCounters(ctx);
    std::string_view first;
    if (readLines(in, &first, 1) == 1) {
        if (!opensAsXml(in, first)) {
            WriteLog(ctx, "ERR : Invalid XML File");
            return;
        }
        readActionRows(ctx, counters, in);
    }
    in.stream.reset();

    writeFailureCounters(ctx, counters);
}
