// Failure-description list and failure counters shared by the log parsers.
// May contain: the reading of a script's logs; no system calls.
#include "scriptlog/failure_desc.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/counters.h"
#include "context/run_context.h"
#include "context/run_log.h"

bool addActionDesc(std::string& list, std::string_view actionText) {
    // "Blank" is asked once per failing action; trimming a copy of a list
    // that grows with every action would make a long export quadratic.
    const bool blank = list.find_first_not_of(' ') == std::string::npos;
    if (blank) list.assign("ACTION-DESC:");
    else appendBounded(list, "#$#ACTION-DESC:");
    appendBounded(list, actionText);
    return blank;
}

bool failureListFull(const RunContext& ctx) { return isCut(ctx.script.strActionDescList); }

FailureCounters beginFailureCounters(RunContext& ctx) {
    FailureCounters counters;
    counters.batch = beginCounters(ctx, "FailureDesc_" + ctx.job.strExecuteScript);
    counters.threshold = numericValue(ctx.strVTXVariablesTh);
    return counters;
}

void recordCountedFailure(RunContext& ctx, FailureCounters& counters, const std::string& actionText,
                          const std::string& detail, bool logViolation) {
    // A full list takes nothing more, and a detail that is not reported is not counted.
    if (failureListFull(ctx)) return;
    const bool wasBlank = addActionDesc(ctx.script.strActionDescList, actionText);
    const double count = numericValue(counterValue(ctx, counters.batch, actionText));
    if (count > counters.threshold) {
        if (logViolation && wasBlank) {
            WriteLog(ctx, "MSG : Preprocessing: 'Failure desc' Threshold violated. Current failure threshold is " +
                              numberText(count));
        }
        return;
    }
    if (trimBlanks(detail).empty()) return;
    appendBounded(ctx.script.strActionDescList, "@#@");
    appendBounded(ctx.script.strActionDescList, detail);
    raiseCounter(counters.batch, actionText, numberText(count + 1));
}

void writeFailureCounters(RunContext& ctx, FailureCounters& counters) {
    const std::vector<std::pair<std::string, std::string>> raised = counters.batch.raised;
    const std::vector<bool> written = writeCounters(ctx, counters.batch);
    releaseCounters(counters.batch);
    // A key that could not be stored costs only its own lines.
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < raised.size(); ++i) {
        if (written[i]) lines.push_back(iniWrittenLine(raised[i].second, raised[i].first, counters.batch.file));
    }
    WriteLogLines(ctx, lines);
}
