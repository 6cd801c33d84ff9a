// Parser of the runner's console log: rebuilds the actions that ran and
// reports the failed ones.
#include "scriptlog/console_log.h"

#include "execute/atcmd.h"
#include "platform/errors.h"
#include "run/run_context.h"
#include "run/text.h"
#include "scriptlog/failure_desc.h"

namespace {

// `text` with every "'" doubled, appended within the bound.
void appendDoubled(std::string& out, std::string_view text) {
    for (std::size_t quote; (quote = text.find('\'')) != std::string_view::npos; text.remove_prefix(quote + 1)) {
        appendBounded(out, text.substr(0, quote + 1));
        appendBounded(out, "'");
    }
    appendBounded(out, text);
}

// A failed action joins the list as soon as the next action line (or the end
// of the log) settles its status: the list comes out in log order, as it
// would after reading the whole log first.
void closeAction(CmdLogParse& parse) {
    if (parse.haveAction && parse.actionFailed) {
        addActionDesc(parse.list, parse.actionName);
        if (!trimBlanks(parse.actionMessage).empty()) {
            appendBounded(parse.list, "@#@");
            appendBounded(parse.list, parse.actionMessage);
        }
    }
    // Cleared, not replaced: the next action reuses the room.
    parse.actionFailed = false;
    parse.actionName.clear();
    parse.actionMessage.clear();
}

}  // namespace

CmdLogParse beginCmdLog(const RunContext& ctx) {
    CmdLogParse parse;
    parse.list = ctx.strActionDescList;
    parse.listWasBlank = trimBlanks(parse.list).empty();
    return parse;
}

void cmdLogLine(CmdLogParse& parse, std::string_view line) {
    parse.secondLast.swap(parse.last);
    parse.last.assign(line);
    ++parse.lineCount;

    // The known prefixes all begin with B, E, P or R; most lines need no further look.
    const char first = line.empty() ? '\0' : line[0];
    if (first == 'P' || first == 'B' || first == 'E' || first == 'R') {
        if (startsWith(line, atcmd::kProjectFile) || startsWith(line, atcmd::kBuildStarted) ||
            startsWith(line, atcmd::kElapsedTime)) {
            return;
        }
        if (startsWith(line, atcmd::kBuildFailed) || startsWith(line, atcmd::kRunFailed) ||
            startsWith(line, atcmd::kBuildCompleted) || startsWith(line, atcmd::kRunCompleted)) {
            parse.endSeen = true;
            return;
        }
    }
    const std::string_view trimmed = blankTrimmed(line);
    if (startsWith(trimmed, "[") && endsWith(trimmed, "]")) {
        closeAction(parse);
        parse.haveAction = true;
        appendDoubled(parse.actionName, trimmed.substr(1, trimmed.size() - 2));
        parse.endSeen = true;
        return;
    }
    // Once the list is full nothing more can reach it: the rest of the log is
    // only read for its end.
    if (!parse.haveAction || trimmed.empty() || isCut(parse.list)) return;

    std::string& message = parse.actionMessage;
    // A message that was cut takes no more text: only the line's status counts.
    // The message is built from trimmed, non-empty lines, so it never has
    // blanks at its ends: comparing it untrimmed is comparing it trimmed.
    if (!isCut(message) && message != "Success") {
        if (!message.empty()) appendBounded(message, "\r\n");
        appendDoubled(message, trimmed);
    }
    // Doubling apostrophes never changes how a line begins with "Error :".
    parse.actionFailed = startsWith(trimmed, atcmd::kErrorMessage);
}

void finishCmdLog(RunContext& ctx, CmdLogParse& parse) {
    closeAction(parse);
    ctx.strActionDescList = std::move(parse.list);
    parse.list.clear();

    // The second-last line of a log of fewer than two lines does not exist.
    auto secondLastLine = [&]() -> const std::string& {
        if (parse.lineCount < 2) throw runError(err::SubscriptRange);
        return parse.secondLast;
    };
    if (!parse.endSeen) {
        ctx.strExitLine = secondLastLine();
        ctx.strScriptStatus = "FAILED";
    }
    if (trimBlanks(ctx.strExitLine).empty() && parse.listWasBlank &&
        containsNoCase(secondLastLine(), atcmd::kExitWith)) {
        ctx.strExitLine = secondLastLine();
        ctx.strScriptStatus = "FAILED";
    }
}

void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath, const std::string& mode) {
    // The runner writes the console log where the script can write too: a
    // link put in its place is refused, never read.
    std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(folderOf(consoleLogPath), consoleLogPath);
    CmdLogParse parse = beginCmdLog(ctx);
    std::string_view line;
    while (stream->ReadLineView(line)) cmdLogLine(parse, line);
    stream->Close();
    finishCmdLog(ctx, parse);
}
