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

/// One action of the console log. Only failed actions outlive the next
/// action line, so memory follows the failures, not the length of the log.
struct CmdLogAction {
    bool error = false;     // status "Error" (else "Completed")
    std::string name;       // text between the brackets, apostrophes doubled
    std::string message;    // message lines, trimmed, joined by CR LF, apostrophes doubled
};

}  // namespace

void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath, const std::string& mode) {
    std::unique_ptr<TextStream> stream = ctx.objFSO->OpenTextFile(consoleLogPath, IOMode::ForReading, false);

    std::vector<CmdLogAction> failed;
    CmdLogAction current;
    bool haveAction = false;
    bool endSeen = false;
    // The end-of-file checks look at the last two lines only.
    std::string last, secondLast;
    std::size_t lineCount = 0;

    auto closeAction = [&] {
        if (haveAction && current.error) failed.push_back(std::move(current));
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
        const std::string trimmed = trimBlanks(line);
        if (startsWith(trimmed, "[") && endsWith(trimmed, "]")) {
            closeAction();
            haveAction = true;
            current.name = replaceAll(trimmed.substr(1, trimmed.size() - 2), "'", "''");
            endSeen = true;
            continue;
        }
        if (!haveAction || trimmed.empty()) continue;

        const std::string text =
            line.find('\'') == std::string::npos ? trimmed : trimBlanks(replaceAll(line, "'", "''"));
        // The message is built from trimmed, non-empty lines, so it never has
        // blanks at its ends: comparing it untrimmed is comparing it trimmed.
        if (current.message.empty()) {
            current.message = text;
        } else if (current.message != "Success") {
            current.message.append("\r\n").append(text);
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
    if (trimBlanks(ctx.strExitLine).empty() && trimBlanks(ctx.strActionDescList).empty() &&
        containsNoCase(secondLastLine(), atcmd::kExitWith)) {
        ctx.strExitLine = secondLastLine();
        ctx.strScriptStatus = "FAILED";
    }

    for (const auto& action : failed) {
        addActionDesc(ctx, action.name);
        if (!trimBlanks(action.message).empty()) ctx.strActionDescList.append("@#@").append(action.message);
    }
}
