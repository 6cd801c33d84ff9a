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
// would after reading the whole log first. Its name and message were kept as
// read; their apostrophes are doubled only now, since most actions never fail.
void closeAction(CmdLogParse& parse) {
    if (parse.haveAction && parse.actionFailed) {
        std::string name, message;
        appendDoubled(name, parse.actionName);
        appendDoubled(message, parse.actionMessage);
        addActionDesc(parse.list, name);
        if (!blankTrimmed(message).empty()) {
            appendBounded(parse.list, "@#@");
            appendBounded(parse.list, message);
        }
        parse.listFull = isCut(parse.list);
    }
    // Cleared, not replaced: the next action reuses the room.
    parse.actionFailed = false;
    parse.actionName.clear();
    parse.actionMessage.clear();
}

// A raw text is kept to one byte past the bound: doubling only lengthens a
// text, so that byte is enough for the doubled text to be cut where the
// doubled whole would be, and nothing later can change the cut text.
constexpr std::size_t kRawBound = kTextBound + 1;

void keepRaw(std::string& kept, std::string_view text) {
    if (kept.size() < kRawBound) kept.append(text.substr(0, kRawBound - kept.size()));
}

}  // namespace

CmdLogParse beginCmdLog(const RunContext& ctx) {
    CmdLogParse parse;
    parse.list = ctx.strActionDescList;
    parse.listWasBlank = trimBlanks(parse.list).empty();
    parse.listFull = isCut(parse.list);
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
        keepRaw(parse.actionName, trimmed.substr(1, trimmed.size() - 2));
        parse.endSeen = true;
        return;
    }
    // Once the list is full nothing more can reach it: the rest of the log is
    // only read for its end.
    if (!parse.haveAction || trimmed.empty() || parse.listFull) return;

    // A message that is full takes no more text: only the line's status
    // counts. The message is built from trimmed, non-empty lines, so it never
    // has blanks at its ends: comparing it untrimmed is comparing it trimmed.
    std::string& message = parse.actionMessage;
    if (message.size() < kRawBound && std::string_view(message) != "Success") {
        if (!message.empty()) keepRaw(message, "\r\n");
        keepRaw(message, trimmed);
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
