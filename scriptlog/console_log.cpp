// Parser of the runner's console log: rebuilds the actions that ran and
// reports the failed ones.
#include "scriptlog/console_log.h"

#include <utility>
#include <vector>

#include "execute/atcmd.h"
#include "platform/errors.h"
#include "run/run_context.h"
#include "run/text.h"
#include "scriptlog/failure_desc.h"

namespace {

/// One action of the console log. An action is reported as soon as the next
/// action line (or the end of the log) settles its status, so only the
/// current one is held, its message cut at kTextBound: memory stays flat
/// however long the log or its messages are.
struct CmdLogAction {
    bool error = false;     // status "Error" (else "Completed")
    std::string name;       // text between the brackets, apostrophes doubled
    std::string message;    // message lines, trimmed, joined by CR LF, apostrophes doubled
};

}  // namespace

void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath, const std::string& mode) {
    // The runner writes the console log where the script can write too: a
    // link put in its place is refused, never read.
    std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(folderOf(consoleLogPath), consoleLogPath);

    CmdLogAction current;
    bool haveAction = false;
    bool endSeen = false;
    // The end-of-file checks look at the last two lines only.
    std::string last, secondLast;
    std::size_t lineCount = 0;
    // The list only grows while the log is read, so whether it was blank
    // before the failed actions are added is known from the start.
    const bool listWasBlank = trimBlanks(ctx.strActionDescList).empty();

    // Failed actions join the list in log order, as they would after the read.
    auto closeAction = [&] {
        if (haveAction && current.error) {
            addActionDesc(ctx, current.name);
            if (!trimBlanks(current.message).empty()) {
                appendBounded(ctx.strActionDescList, "@#@");
                appendBounded(ctx.strActionDescList, current.message);
            }
        }
        current = CmdLogAction{};
    };

    while (!stream->AtEndOfStream()) {
        secondLast.swap(last);
        last = stream->ReadLine();
        ++lineCount;
        const std::string& line = last;

        // The known prefixes all begin with B, E, P or R; most lines need no further look.
        const char first = line.empty() ? '\0' : line[0];
        if (first == 'P' || first == 'B' || first == 'E' || first == 'R') {
            if (startsWith(line, atcmd::kProjectFile) || startsWith(line, atcmd::kBuildStarted) ||
                startsWith(line, atcmd::kElapsedTime)) {
                continue;
            }
            if (startsWith(line, atcmd::kBuildFailed) || startsWith(line, atcmd::kRunFailed) ||
                startsWith(line, atcmd::kBuildCompleted) || startsWith(line, atcmd::kRunCompleted)) {
                endSeen = true;
                continue;
            }
        }
        const std::string_view trimmed = blankTrimmed(line);
        if (startsWith(trimmed, "[") && endsWith(trimmed, "]")) {
            closeAction();
            haveAction = true;
            current.name = boundedText(replaceAll(trimmed.substr(1, trimmed.size() - 2), "'", "''"));
            endSeen = true;
            continue;
        }
        // Once the list is full nothing more can reach it: the rest of the
        // log is only read for its end.
        if (!haveAction || trimmed.empty() || failureListFull(ctx)) continue;

        // A message that was cut takes no more text: only the line's status counts.
        if (isCut(current.message)) {
            current.error = startsWith(trimmed, atcmd::kErrorMessage);
            continue;
        }
        const std::string text =
            line.find('\'') == std::string::npos ? std::string(trimmed) : trimBlanks(replaceAll(line, "'", "''"));
        // The message is built from trimmed, non-empty lines, so it never has
        // blanks at its ends: comparing it untrimmed is comparing it trimmed.
        if (current.message.empty()) {
            current.message = boundedText(text);
        } else if (current.message != "Success") {
            appendBounded(current.message, "\r\n");
            appendBounded(current.message, text);
        }
        current.error = startsWith(text, atcmd::kErrorMessage);
    }
    stream->Close();
    closeAction();

    // The second-last line of a log of fewer than two lines does not exist.
    auto secondLastLine = [&]() -> const std::string& {
        if (lineCount < 2) throw runError(err::SubscriptRange);
        return secondLast;
    };
    if (!endSeen) {
        ctx.strExitLine = secondLastLine();
        ctx.strScriptStatus = "FAILED";
    }
    if (trimBlanks(ctx.strExitLine).empty() && listWasBlank && containsNoCase(secondLastLine(), atcmd::kExitWith)) {
        ctx.strExitLine = secondLastLine();
        ctx.strScriptStatus = "FAILED";
    }
}
