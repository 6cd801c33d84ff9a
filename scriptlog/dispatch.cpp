// Script log assembly: reads the console log once, finds the exported log
// and the variables file it names, and hands the export to its parser.
// Also the parser of the plain-text export.
#include "scriptlog/dispatch.h"

#include <optional>
#include <vector>

#include "execute/atcmd.h"
#include "platform/errors.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/text.h"
#include "scriptlog/console_log.h"
#include "scriptlog/failure_desc.h"
#include "scriptlog/html_export.h"
#include "scriptlog/xml_export.h"

namespace {

// The components of an absolute Windows path ("X:\..."), with empty and "."
// components dropped and ".." applied (never above the drive). Nothing when
// the path is not of that form, or has a component that Windows itself would
// rewrite (trailing dots or blanks, as in ".. "), since such a name could
// climb out of a folder where a plain comparison sees none.
std::optional<std::vector<std::string>> resolvedComponents(const std::string& path) {
    const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() < 3 || !isLetter(path[0]) || path[1] != ':' || !isSeparator(path[2])) return std::nullopt;
    std::vector<std::string> parts{upperAscii(path.substr(0, 2))};
    std::size_t pos = 3;
    while (pos <= path.size()) {
        std::size_t end = pos;
        while (end < path.size() && !isSeparator(path[end])) ++end;
        const std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.size() > 1) parts.pop_back();
            continue;
        }
        if (part.back() == '.' || part.back() == ' ') return std::nullopt;
        parts.push_back(part);
    }
    return parts;
}

// True when `path` names something below `folder` once both are resolved.
// The script writes the console log, so a path read from it is checked
// before this program deletes or reads that file.
bool liesInside(const std::string& path, const std::string& folder) {
    const auto inner = resolvedComponents(path);
    const auto outer = resolvedComponents(folder);
    if (!inner || !outer || inner->size() <= outer->size()) return false;
    for (std::size_t i = 0; i < outer->size(); ++i) {
        if (!equalsNoCase((*inner)[i], (*outer)[i])) return false;
    }
    return true;
}

// The path of an "[Export log as ... to file: <path>]" line.
std::string exportPathOf(const std::string& line, std::string_view marker) {
    return trimBlanks(replaceAll(replaceNoCase(line, marker, ""), "]", ""));
}

}  // namespace

bool fncProcessScriptLog(RunContext& ctx, const std::string& consoleLogPath) {
    bool result = false;
    guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Checking for Export Log Action in " + consoleLogPath);
            if (!ctx.objFSO->FileExists(consoleLogPath)) {
                ctx.strFailureDesc = "Postprocessing:Failed to create the script log for " + ctx.strExecuteScript;
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return;
            }

            const std::string logsFolder = ctx.strInstallPath + "AutomiseLogs\\";
            const std::string xmlLine = std::string(atcmd::kExportXml) + " " + logsFolder;
            const std::string textLine = std::string(atcmd::kExportText) + " " + logsFolder;
            const std::string htmlLine = std::string(atcmd::kExportHtml) + " " + logsFolder;
            const std::string anyLine = std::string(atcmd::kExportAny) + logsFolder;
            const std::string variablesLine = std::string(atcmd::kVariablesFileLine) + logsFolder;
            const auto inside = [&](const std::string& path) { return liesInside(path, logsFolder); };

            std::string exportPath;
            // The run-wide flags are never set back, so they name every kind
            // that any job of the run exported; this job's parser is chosen
            // by the kinds its own console log names.
            bool exportXml = false, exportHtml = false, exportText = false;
            std::unique_ptr<TextStream> stream =
                ctx.objFSO->OpenTextFile(consoleLogPath, IOMode::ForReading, false);
            if (stream->AtEndOfStream()) {
                WriteLog(ctx, "ERR : No contents in :: " + consoleLogPath);
                ctx.strFailureDesc = "Preprocessing:No contents in :: " + consoleLogPath;
            } else {
                // Only the last two lines matter after the loop; a window of two
                // keeps memory flat however long the log is.
                std::string last, secondLast;
                std::size_t lineCount = 0;
                while (!stream->AtEndOfStream()) {
                    secondLast.swap(last);
                    last = trimBlanks(stream->ReadLine());
                    ++lineCount;
                    const std::string& line = last;

                    // Every export rule needs "[Export log", and so a "[": one byte
                    // search rules most lines out before the slower searches.
                    if (line.find('[') != std::string::npos && containsNoCase(line, atcmd::kExportAny)) {
                        std::string path;
                        if (containsNoCase(line, xmlLine) && inside(path = exportPathOf(line, atcmd::kExportXml))) {
                            exportPath = path;
                            ctx.blnExportXML = exportXml = true;
                            continue;
                        }
                        if (containsNoCase(line, textLine) &&
                            inside(path = exportPathOf(line, atcmd::kExportText))) {
                            exportPath = path;
                            ctx.blnExportText = exportText = true;
                            continue;
                        }
                        if (containsNoCase(line, htmlLine) &&
                            inside(path = exportPathOf(line, atcmd::kExportHtml))) {
                            exportPath = path;
                            ctx.blnExportHTML = exportHtml = true;
                            continue;
                        }
                        const std::size_t at = findNoCase(line, logsFolder);
                        if (containsNoCase(line, anyLine) && at != std::string::npos &&
                            inside(path = line.substr(at, line.size() - 1 - at))) {
                            exportPath = path;
                            ctx.blnExportHTML = exportHtml = true;
                            const std::string ending = lowerAscii(trimBlanks(exportPath));
                            if (endsWith(ending, ".html")) ctx.blnExportHTML = exportHtml = true;
                            if (endsWith(ending, ".xml")) ctx.blnExportXML = exportXml = true;
                            if (endsWith(ending, ".text")) ctx.blnExportText = exportText = true;
                            continue;
                        }
                    }
                    if (line.find("*****") != std::string::npos && containsNoCase(line, variablesLine)) {
                        const std::string path = trimBlanks(replaceNoCase(line, atcmd::kVariablesFileLine, ""));
                        if (inside(path)) ctx.strVariablesFile = path;
                    }
                }
                stream->Close();

                if (containsNoCase(last, atcmd::kExitText)) {
                    ctx.strScriptStatus = "FAILED";
                    ctx.strExitLine = last;
                } else {
                    // A log of one line has no line before its last.
                    if (lineCount < 2) throw runError(err::SubscriptRange);
                    if (containsNoCase(secondLast, atcmd::kExitText)) {
                        ctx.strScriptStatus = "FAILED";
                        ctx.strExitLine = secondLast;
                    } else {
                        ctx.strScriptStatus = "SUCCESS";
                    }
                }
            }
            stream.reset();

            if (!trimBlanks(exportPath).empty()) {
                WriteLog(ctx, "MSG : Preprocessing: Exported Log :: " + exportPath);
                if (!ctx.objFSO->FileExists(exportPath)) {
                    WriteLog(ctx, "ERR : Preprocessing:Exported Log :: " + exportPath + " not Found!!!");
                    WriteLog(ctx, "MSG : Preprocessing:Proceeding with the default script log of ATCMD");
                    fncParseCMDLog(ctx, consoleLogPath, "0");
                } else if (exportXml) {
                    WriteLog(ctx, "MSG : Preprocessing: Proceeding with XML Parsing");
                    fncParseExportLogXML(ctx, exportPath, "0");
                } else if (exportHtml) {
                    WriteLog(ctx, "MSG : Preprocessing: Proceeding with HTML Parsing");
                    fncParseExportLogHTML(ctx, exportPath, "0");
                } else if (exportText) {
                    WriteLog(ctx, "MSG : Preprocessing: Proceeding with TEXT Parsing");
                    fncEditScriptlog(ctx, exportPath, "0");
                }
            } else {
                WriteLog(ctx, "MSG : Preprocessing:Export Action not used!!!!");
                WriteLog(ctx, "MSG : Preprocessing:Proceeding with the default script log of ATCMD");
                fncParseCMDLog(ctx, consoleLogPath, "0");
            }

            if (!exportPath.empty() && ctx.objFSO->FileExists(exportPath)) {
                WriteLog(ctx, "MSG : Preprocessing: Deleting File :: " + exportPath);
                ctx.objFSO->DeleteFile(exportPath, false);
                WriteLog(ctx, "MSG : Preprocessing: Successfully deleted :: " + exportPath);
            }
            result = true;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncEditScriptlog " + std::to_string(e.number) + " " + e.description);
            result = false;
        });
    return result;
}

namespace {

// The rule line between the rows of the text export's table.
constexpr std::string_view kTableRule =
    "---------------|--------------------------|-------------------------------------------------------------"
    "--------------------|------------|----------|----------|";
constexpr std::string_view kErrorCell = "Error          |";
constexpr std::string_view kCompletedCell = "Completed      |";

bool isHeaderBlock(const std::string& block) {
    return containsNoCase(block, std::string(72, '*')) && containsNoCase(block, "Automise LogFile :") &&
           containsNoCase(block, "Log Title    :");
}

}  // namespace

bool fncEditScriptlog(RunContext& ctx, const std::string& exportPath, const std::string& mode) {
    FailureCounters counters = beginFailureCounters(ctx);
    guarded(
        [&] {
            std::unique_ptr<TextStream> stream = ctx.objFSO->OpenTextFile(exportPath, IOMode::ForReading, false);

            // Block i is judged together with block i + 1, so at most two whole
            // blocks are held: the file is walked once, as it is read.
            std::vector<std::string> window;   // complete blocks from block i on
            std::size_t rulesRead = 0;          // N so far
            std::size_t index = 0;              // i of window[0]
            auto drop = [&](std::size_t count) {
                window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(count));
                index += count;
            };
            // Judges block i while it and block i + 1 are complete and i <= N - 1.
            auto walk = [&] {
                while (window.size() >= 2 && index < rulesRead) {
                    const std::string& row = window[0];
                    const std::string& next = window[1];
                    if (isHeaderBlock(row)) {
                        drop(1);
                        continue;
                    }
                    if (next.find("Copyright") != std::string::npos || next.find("End Log.") != std::string::npos) {
                        drop(1);
                        continue;
                    }
                    const std::vector<std::string> pieces = splitText(row, "|");
                    if (pieces.size() != 7 ||
                        (row.find(kErrorCell) == std::string::npos && row.find(kCompletedCell) == std::string::npos) ||
                        next.find(kCompletedCell) != std::string::npos || next.find(kErrorCell) != std::string::npos) {
                        drop(1);
                        continue;
                    }
                    const std::string status = lowerAscii(replaceAll(trimBlanks(pieces[0]), "\r\n", ""));
                    if (status == "error") {
                        recordCountedFailure(ctx, counters, trimBlanks(pieces[2]), trimBlanks(next), true);
                    }
                    drop(2);
                }
            };

            std::string block;
            while (!stream->AtEndOfStream()) {
                std::string line = stream->ReadLine();
                if (line.find(kTableRule) != std::string::npos) {
                    window.push_back(std::move(block));
                    block.clear();
                    ++rulesRead;
                    walk();
                } else {
                    block.append("\r\n").append(line);
                }
            }
            stream->Close();
            window.push_back(std::move(block));
            walk();
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncEditScriptlog " + std::to_string(e.number) + " " + e.description);
        });
    writeFailureCounters(ctx, counters);
    return false;
}
