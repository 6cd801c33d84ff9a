// Script log assembly: reads the console log once, finds the exported log
// and the variables file it names, and hands the export to its parser.
// May contain: the reading of a script's logs; no system calls.
#include "scriptlog/dispatch.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/atcmd.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "scriptlog/console_log.h"
#include "scriptlog/html_export.h"
#include "scriptlog/text_export.h"
#include "scriptlog/xml_export.h"

namespace {

// The path of an "[Export log as ... to file: <path>]" line.
std::string exportPathOf(std::string_view line, std::string_view marker) {
    return trimBlanks(replaceAll(replaceNoCase(line, marker, ""), "]", ""));
}

// What the dispatch looks for in the console log's lines, and what it found.
struct ExportSearch {
    std::string prefix;  // strInstallPath + "AutomiseLogs\"
    std::string xmlLine, textLine, htmlLine, anyLine, variablesLine;
    // A path the log names is taken as the log names it; whether it really
    // lies in the logs folder is decided where the file is used.
    std::string exportPath;
    // The run-wide flags are never set back, so they name every kind that any
    // job of the run exported; this job's parser is chosen by the kinds its
    // own console log names.
    bool exportXml = false, exportHtml = false, exportText = false;
};

ExportSearch exportSearchIn(const std::string& folder) {
    ExportSearch search;
    search.prefix = folder + "\\";
    search.xmlLine = std::string(atcmd::kExportXml) + " " + search.prefix;
    search.textLine = std::string(atcmd::kExportText) + " " + search.prefix;
    search.htmlLine = std::string(atcmd::kExportHtml) + " " + search.prefix;
    search.anyLine = std::string(atcmd::kExportAny) + search.prefix;
    search.variablesLine = std::string(atcmd::kVariablesFileLine) + search.prefix;
    return search;
}

// Tests one line of the console log, trimmed, for the export and the
// variables file, and acts on the first rule that matches.
void searchLine(RunContext& ctx, ExportSearch& search, std::string_view line, std::string& variablesFile) {
    // Every export rule needs "[Export log", and so a "[": one byte search
    // rules most lines out before the slower searches.
    const std::size_t bracket = line.find('[');
    if (bracket != std::string_view::npos && findNoCase(line, atcmd::kExportAny, bracket) != std::string_view::npos) {
        if (containsNoCase(line, search.xmlLine)) {
            search.exportPath = exportPathOf(line, atcmd::kExportXml);
            ctx.blnExportXML = search.exportXml = true;
            return;
        }
        if (containsNoCase(line, search.textLine)) {
            search.exportPath = exportPathOf(line, atcmd::kExportText);
            ctx.blnExportText = search.exportText = true;
            return;
        }
        if (containsNoCase(line, search.htmlLine)) {
            search.exportPath = exportPathOf(line, atcmd::kExportHtml);
            ctx.blnExportHTML = search.exportHtml = true;
            return;
        }
        if (containsNoCase(line, search.anyLine)) {
            const std::size_t at = findNoCase(line, search.prefix);
            search.exportPath = line.substr(at, line.size() - 1 - at);
            ctx.blnExportHTML = search.exportHtml = true;
            const std::string ending = lowerAscii(trimBlanks(search.exportPath));
            if (endsWith(ending, ".html")) ctx.blnExportHTML = search.exportHtml = true;
            if (endsWith(ending, ".xml")) ctx.blnExportXML = search.exportXml = true;
            if (endsWith(ending, ".text")) ctx.blnExportText = search.exportText = true;
            return;
        }
    }
    if (line.find("*****") != std::string_view::npos && containsNoCase(line, search.variablesLine)) {
        variablesFile = trimBlanks(replaceNoCase(line, atcmd::kVariablesFileLine, ""));
    }
}

// The script failed when one of the last two lines, trimmed, holds the exit
// text; that line is the exit line.
void takeExitText(RunContext& ctx, const CmdLogParse& cmdLog) {
    const std::string last = trimBlanks(cmdLogLastLine(cmdLog, 0));
    if (containsNoCase(last, atcmd::kExitText)) {
        ctx.script.strScriptStatus = "FAILED";
        ctx.script.strExitLine = last;
    } else {
        // A log of one line has no line before its last.
        if (cmdLog.lineCount < 2) throw runError(err::SubscriptRange);
        const std::string secondLast = trimBlanks(cmdLogLastLine(cmdLog, 1));
        if (containsNoCase(secondLast, atcmd::kExitText)) {
            ctx.script.strScriptStatus = "FAILED";
            ctx.script.strExitLine = secondLast;
        } else {
            ctx.script.strScriptStatus = "SUCCESS";
        }
    }
}

// Reads the console log once, looking for the export and the variables file
// it names. Its lines also go to the console-log parser, whose result is
// applied only when no export is parsed. An empty log is the job's failure;
// a read one gives the script's status.
void readConsoleLog(RunContext& ctx, const std::string& consoleLogPath, const std::string& folder,
                    ExportSearch& search, CmdLogParse& cmdLog, std::string& variablesFile) {
    std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(folder, consoleLogPath);
    if (stream->AtEndOfStream()) {
        WriteLog(ctx, "ERR : No contents in :: " + consoleLogPath);
        setFailure(ctx, "Preprocessing:No contents in :: " + consoleLogPath);
        return;
    }
    std::string_view lines[kLineBatch];
    while (const std::size_t count = stream->ReadLines(lines, kLineBatch)) {
        cmdLogLines(cmdLog, lines, count);
        // Every export rule needs "[Export log", the variables rule
        // "*****", and both are rare: one search over the whole batch
        // spares most lines every test.
        const std::string_view batch = spanOfLines(lines, count);
        if (findNoCase(batch, atcmd::kExportAny) == std::string_view::npos &&
            batch.find("*****") == std::string_view::npos) {
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            searchLine(ctx, search, blankTrimmed(lines[i]), variablesFile);
        }
    }
    stream->Close();
    takeExitText(ctx, cmdLog);
}

// The export goes to the parser of its kind; without one, or when it is
// missing or lies outside the folder, the console log's own parse is
// applied. True when the export was refused for lying outside.
bool parseExport(RunContext& ctx, const std::string& folder, const ExportSearch& search, CmdLogParse& cmdLog) {
    const std::string& exportPath = search.exportPath;
    if (trimBlanks(exportPath).empty()) {
        WriteLog(ctx, "MSG : Preprocessing:Export Action not used!!!!");
        WriteLog(ctx, "MSG : Preprocessing:Proceeding with the default script log of ATCMD");
        finishCmdLog(ctx, cmdLog);
        return false;
    }
    WriteLog(ctx, "MSG : Preprocessing: Exported Log :: " + exportPath);
    bool found = false;
    try {
        found = ctx.objFSO->FileExistsInside(folder, exportPath);
    } catch (const RunError& e) {
        if (e.number != err::PathAccess) throw;
        // The script named an export, so the log says which and why it is
        // not read; the console log stands in for it.
        WriteLog(ctx, "ERR : Preprocessing:Exported Log :: " + exportPath + " lies outside " + folder +
                          " (through '..' or a link) and is not read");
        WriteLog(ctx, "MSG : Preprocessing:Proceeding with the default script log of ATCMD");
        finishCmdLog(ctx, cmdLog);
        return true;
    }
    if (!found) {
        WriteLog(ctx, "ERR : Preprocessing:Exported Log :: " + exportPath + " not Found!!!");
        WriteLog(ctx, "MSG : Preprocessing:Proceeding with the default script log of ATCMD");
        finishCmdLog(ctx, cmdLog);
    } else if (search.exportXml) {
        WriteLog(ctx, "MSG : Preprocessing: Proceeding with XML Parsing");
        fncParseExportLogXML(ctx, exportPath);
    } else if (search.exportHtml) {
        WriteLog(ctx, "MSG : Preprocessing: Proceeding with HTML Parsing");
        fncParseExportLogHTML(ctx, exportPath);
    } else if (search.exportText) {
        WriteLog(ctx, "MSG : Preprocessing: Proceeding with TEXT Parsing");
        fncEditScriptlog(ctx, exportPath);
    }
    return false;
}

// An export that is there is deleted once parsed.
void deleteExport(RunContext& ctx, const std::string& folder, const std::string& exportPath) {
    bool present = false;
    if (!exportPath.empty()) {
        ignoreErrors([&] { present = ctx.objFSO->FileExistsInside(folder, exportPath); });
    }
    if (present) {
        WriteLog(ctx, "MSG : Preprocessing: Deleting File :: " + exportPath);
        ctx.objFSO->DeleteInside(folder, exportPath, false);
        WriteLog(ctx, "MSG : Preprocessing: Successfully deleted :: " + exportPath);
    }
}

}  // namespace

bool fncProcessScriptLog(RunContext& ctx, const std::string& consoleLogPath, std::string& variablesFile) {
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Checking for Export Log Action in " + consoleLogPath);
            if (!ctx.objFSO->FileExists(consoleLogPath)) {
                setFailure(ctx, "Postprocessing:Failed to create the script log for " + ctx.job.strExecuteScript);
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return false;
            }
            const std::string folder = logsFolder(ctx);
            ExportSearch search = exportSearchIn(folder);
            CmdLogParse cmdLog = beginCmdLog(ctx);
            readConsoleLog(ctx, consoleLogPath, folder, search, cmdLog, variablesFile);
            // A link or anything outside is neither followed nor deleted.
            if (!parseExport(ctx, folder, search, cmdLog)) deleteExport(ctx, folder, search.exportPath);
            return true;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncEditScriptlog " + std::to_string(e.number) + " " + e.description);
            return false;
        });
}
