// Parser of the XML (FB6LOG) export. It reads the export as lines of text,
// not as a document: each element it knows begins its own line.
#include "scriptlog/xml_export.h"

#include "platform/errors.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/text.h"
#include "scriptlog/failure_desc.h"

namespace {

// The value of the attribute whose marker ("status=", " name=", ...) is on
// the raw line: from one character after the marker (the opening quote) to
// the next double quote, entities and blanks as they stand. An absent marker
// gives "". When no closing quote follows, the value cannot be cut out and
// `value` keeps what it held.
void attributeValue(const std::string& line, std::string_view marker, std::string& value) {
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) {
        value.clear();
        return;
    }
    const std::size_t start = at + marker.size() + 1;
    if (start > line.size()) return;
    const std::size_t end = line.find('"', start);
    if (end == std::string::npos) return;
    value = line.substr(start, end - start);
}

// "yyyymmddhhnnss" becomes "hh:nn:ss"; a shorter text gives what is there.
std::string timeOf(const std::string& value) {
    return midText(value, 9, 2) + ":" + midText(value, 11, 2) + ":" + midText(value, 13, 2);
}

bool isFailing(const std::string& status) { return lowerAscii(trimBlanks(status)) == "error"; }

}  // namespace

void subGetArrUBound(RunContext& ctx, const std::string& arrayName) {
    if (arrayName != "strXMLDetArr") return;
    ctx.lngXMLDetUBound = static_cast<std::int32_t>(ctx.strXMLDetArr.size()) - 1;
}

void fncParseExportLogXML(RunContext& ctx, const std::string& exportPath, const std::string& mode) {
    ctx.strXMLDetArr.clear();
    std::unique_ptr<TextStream> stream;
    // An export that can't be opened is read as one without rows.
    ignoreErrors([&] { stream = ctx.objFSO->OpenTextFile(exportPath, IOMode::ForReading, false); });

    // A read that fails ends the reading: going on would only fail again.
    bool readable = stream != nullptr;
    auto atEnd = [&] {
        if (readable) ignoreErrors([&] { readable = !stream->AtEndOfStream(); });
        return !readable;
    };
    auto readLine = [&](std::string& line) {
        bool ok = false;
        ignoreErrors([&] {
            line = stream->ReadLine();
            ok = true;
        });
        if (!ok) readable = false;
        return ok;
    };

    if (!atEnd()) {
        std::string line;
        while (readLine(line) && line.empty() && !atEnd()) {
        }
        if (leftText(upperAscii(trimBlanks(line)), 14) != "<?XML VERSION=") {
            WriteLog(ctx, "ERR : Invalid XML File");
            return;
        }

        // Only rows the failure pass can take are kept: an export of any
        // length costs memory for its failing actions alone. Every other row
        // is counted (for its serial number) and its message lines skipped.
        std::string logFileName;
        std::size_t rowCount = 0;
        XMLDetail* lastRow = nullptr;
        while (!atEnd()) {
            if (!readLine(line)) break;
            // K, the line blank-trimmed and upper-cased, is only ever tested at
            // its two ends; its first 18 and last 14 characters are enough.
            const std::string trimmed = trimBlanks(line);
            const std::string keyHead = upperAscii(leftText(trimmed, 18));
            const std::string keyTail = upperAscii(rightText(trimmed, 14));
            const bool isAction = startsWith(keyHead, "<ACTION ");
            if (startsWith(keyHead, "<FB6LOG")) {
                attributeValue(line, "filename=", logFileName);
            } else if (isAction || startsWith(keyHead, "<ACTIONLIST")) {
                ++rowCount;
                lastRow = nullptr;
                // An action list has no status, so only an action can fail;
                // the fields of the others are never looked at.
                std::string status;
                if (isAction) attributeValue(line, "status=", status);
                if (!isFailing(status)) continue;
                XMLDetail row;
                row.LogFileName = logFileName;
                row.SerialNo = std::to_string(rowCount);
                row.ActionStatus = std::move(status);
                attributeValue(line, "actionname=", row.ActionName);
                attributeValue(line, " name=", row.ItemName);
                std::string start, end, run;
                attributeValue(line, "starttime=", start);
                attributeValue(line, "endtime=", end);
                attributeValue(line, "runtime=", run);
                row.StartTime = timeOf(start);
                row.EndTime = timeOf(end);
                row.RunTime = timeOf(run);
                ctx.strXMLDetArr.push_back(std::move(row));
                lastRow = &ctx.strXMLDetArr.back();
            } else if (startsWith(keyHead, "<MESSAGE><![CDATA[")) {
                if (lastRow) lastRow->MessageText = midText(line, 19);
            } else if (trimmed.empty() ||
                       !(endsWith(keyTail, "]]></MESSAGE>") || endsWith(keyTail, "</ACTION>") ||
                         endsWith(keyTail, "</FB6LOG>") || endsWith(keyTail, "</ACTIONLIST>"))) {
                if (lastRow) lastRow->MessageText.append("\r\n").append(line);
            }
        }
    }
    stream.reset();

    subGetArrUBound(ctx, "strXMLDetArr");

    FailureCounters counters = beginFailureCounters(ctx);
    for (std::int32_t i = 0; i <= ctx.lngXMLDetUBound; ++i) {
        const XMLDetail& row = ctx.strXMLDetArr[static_cast<std::size_t>(i)];
        if (!isFailing(row.ActionStatus)) continue;
        // A failing counter access costs this row its detail, not the parse.
        ignoreErrors([&] { recordCountedFailure(ctx, counters, row.ItemName, row.MessageText, false); });
    }
    writeFailureCounters(ctx, counters);
}
