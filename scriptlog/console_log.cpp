// Parser of the runner's console log: rebuilds the actions that ran and
// reports the failed ones.
// May contain: the reading of a script's logs; no system calls.
#include "scriptlog/console_log.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/atcmd.h"
#include "context/run_context.h"
#include "scriptlog/failure_desc.h"

namespace {

// A raw text is kept to one byte past the bound: doubling apostrophes only
// lengthens a text, so that byte is enough for the doubled text to be cut
// where the doubled whole would be, and nothing later changes the cut text.
constexpr std::size_t kRawBound = kTextBound + 1;

void keepRaw(std::string& kept, std::string_view text) {
    if (kept.size() < kRawBound) kept.append(text.substr(0, kRawBound - kept.size()));
}

std::string_view textOf(const HeldText& text) { return text.copied ? std::string_view(text.copy) : text.view; }

void hold(HeldText& text, std::string_view view) {
    text.view = view;
    text.copied = false;
}

void keep(HeldText& text, std::size_t bound = std::string_view::npos) {
    if (text.copied) return;
    text.copy.assign(text.view.substr(0, bound));
    text.copied = true;
}

// `text` with every "'" doubled, appended within the bound.
void appendDoubled(std::string& out, std::string_view text) {
    for (std::size_t quote; (quote = text.find('\'')) != std::string_view::npos; text.remove_prefix(quote + 1)) {
        appendBounded(out, text.substr(0, quote + 1));
        appendBounded(out, "'");
    }
    appendBounded(out, text);
}

// What a line of the console log is to the parse.
enum class LineKind { Skipped, End, Action, Text };

// The runner's own lines are told by how they begin, actions by their
// brackets; `trimmed` is the line without blanks at its ends.
LineKind kindOf(std::string_view line, std::string_view trimmed) {
    // The known prefixes all begin with B, E, P or R; most lines need no further look.
    const char first = line.empty() ? '\0' : line[0];
    if (first == 'P' || first == 'B' || first == 'E' || first == 'R') {
        if (startsWith(line, atcmd::kProjectFile) || startsWith(line, atcmd::kBuildStarted) ||
            startsWith(line, atcmd::kElapsedTime)) {
            return LineKind::Skipped;
        }
        if (startsWith(line, atcmd::kBuildFailed) || startsWith(line, atcmd::kRunFailed) ||
            startsWith(line, atcmd::kBuildCompleted) || startsWith(line, atcmd::kRunCompleted)) {
            return LineKind::End;
        }
    }
    if (startsWith(trimmed, "[") && endsWith(trimmed, "]")) return LineKind::Action;
    return LineKind::Text;
}

// Adds the current action's message lines among lines[from, to) to its kept
// message. The message is built from trimmed, non-empty lines joined by CR
// LF, so it never has blanks at its ends; one past its bound, or exactly
// "Success", it takes no more text.
void keepMessage(CmdLogParse& parse, const std::string_view* lines, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && parse.messageKept.size() < kRawBound && !parse.messageIsSuccess; ++i) {
        const std::string_view trimmed = blankTrimmed(lines[i]);
        if (trimmed.empty() || kindOf(lines[i], trimmed) != LineKind::Text) continue;
        if (parse.messageKept.empty()) parse.messageIsSuccess = trimmed == "Success";
        else keepRaw(parse.messageKept, "\r\n");
        keepRaw(parse.messageKept, trimmed);
    }
}

// A failed action joins the list as soon as the next action line (or the end
// of the log) settles its status: the list comes out in log order, as it
// would after reading the whole log first. Its message lines in the batch
// being read are lines[from, to).
void closeAction(CmdLogParse& parse, const std::string_view* lines, std::size_t from, std::size_t to) {
    if (parse.haveAction && parse.actionFailed) {
        keepMessage(parse, lines, from, to);
        std::string name, message;
        appendDoubled(name, textOf(parse.actionName));
        appendDoubled(message, parse.messageKept);
        addActionDesc(parse.list, name);
        if (!blankTrimmed(message).empty()) {
            appendBounded(parse.list, "@#@");
            appendBounded(parse.list, message);
        }
        parse.listFull = isCut(parse.list);
    }
    parse.actionFailed = false;
    hold(parse.actionName, {});
    parse.messageKept.clear();
    parse.messageIsSuccess = false;
}

}  // namespace

CmdLogParse beginCmdLog(const RunContext& ctx) {
    CmdLogParse parse;
    parse.list = ctx.script.strActionDescList;
    parse.listWasBlank = trimBlanks(parse.list).empty();
    parse.listFull = isCut(parse.list);
    return parse;
}

void cmdLogLines(CmdLogParse& parse, const std::string_view* lines, std::size_t count) {
    // Message lines are only looked at when their action fails (and, for the
    // action still open, when the batch ends): most actions succeed, and their
    // messages are never needed. The current action's lines in this batch
    // begin at `from`.
    std::size_t from = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view trimmed = blankTrimmed(lines[i]);
        switch (kindOf(lines[i], trimmed)) {
        case LineKind::Skipped:
            break;
        case LineKind::End:
            parse.endSeen = true;
            break;
        case LineKind::Action:
            closeAction(parse, lines, from, i);
            parse.haveAction = true;
            hold(parse.actionName, trimmed.substr(1, trimmed.size() - 2));
            parse.endSeen = true;
            from = i + 1;
            break;
        case LineKind::Text:
            // Once the list is full nothing more can reach it: the rest of
            // the log is only read for its end. Doubling apostrophes never
            // changes how a line begins with "Error :".
            if (parse.haveAction && !trimmed.empty() && !parse.listFull) {
                parse.actionFailed = startsWith(trimmed, atcmd::kErrorMessage);
            }
            break;
        }
    }
    // The views end with the batch: what is still needed is copied now, once
    // per batch instead of once per line.
    if (parse.haveAction && !parse.listFull) keepMessage(parse, lines, from, count);
    keep(parse.actionName, kRawBound);
    for (std::size_t i = count > 2 ? count - 2 : 0; i < count; ++i) {
        hold(parse.lines[(parse.lineCount + i) % 2], lines[i]);
    }
    parse.lineCount += count;
    keep(parse.lines[0]);
    keep(parse.lines[1]);
}

std::string_view cmdLogLastLine(const CmdLogParse& parse, std::size_t n) {
    return parse.lineCount > n ? textOf(parse.lines[(parse.lineCount - 1 - n) % 2]) : std::string_view();
}

void finishCmdLog(RunContext& ctx, CmdLogParse& parse) {
    closeAction(parse, nullptr, 0, 0);
    ctx.script.strActionDescList = std::move(parse.list);
    parse.list.clear();

    // The second-last line of a log of fewer than two lines does not exist.
    auto secondLastLine = [&] {
        if (parse.lineCount < 2) throw runError(err::SubscriptRange);
        return std::string(cmdLogLastLine(parse, 1));
    };
    if (!parse.endSeen) {
        ctx.script.strExitLine = secondLastLine();
        ctx.script.strScriptStatus = "FAILED";
    }
    if (trimBlanks(ctx.script.strExitLine).empty() && parse.listWasBlank &&
        containsNoCase(secondLastLine(), atcmd::kExitWith)) {
        ctx.script.strExitLine = secondLastLine();
        ctx.script.strScriptStatus = "FAILED";
    }
}

void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath) {
    // The runner writes the console log where the script can write too: a
    // link put in its place is refused, never read.
    std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(folderOf(consoleLogPath), consoleLogPath);
    CmdLogParse parse = beginCmdLog(ctx);
    std::string_view lines[kLineBatch];
    while (const std::size_t count = stream->ReadLines(lines, kLineBatch)) cmdLogLines(parse, lines, count);
    stream->Close();
    finishCmdLog(ctx, parse);
}
