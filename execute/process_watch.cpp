// Ending an overrunning runner and classifying the overrun.
// May contain: the script's run; no system calls.
#include "execute/process_watch.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "execute/desktop_lock.h"

bool isInteractiveContext(const std::string& context) {
    const std::string trimmed = trimBlanks(context);
    return trimmed == "1" || lowerAscii(trimmed) == "true";
}

namespace {

// The tree's end is reported only when nothing of it is left: a process that
// outran the termination would otherwise go unmentioned.
void logTermination(RunContext& ctx) {
    const std::uint32_t survivors = ctx.sys.processes->TerminateSurvivors();
    if (survivors == 0) {
        WriteLog(ctx, "MSG : Postprocessing: Successfully Terminated Process ");
    } else {
        WriteLog(ctx, "ERR : Postprocessing: Failed to terminate the whole process tree, " +
                          std::to_string(survivors) + " process(es) still running");
    }
}

}  // namespace

void subCheckTreeContainment(RunContext& ctx, ProcHandle process) {
    if (!ctx.sys.processes->IsTreeContained(process)) {
        WriteLog(ctx, "ERR : Preprocessing: The script process could not be placed in a job of its own; at the time "
                      "limit its processes are ended one by one");
    }
}

bool fncTerminateUpdateProcess(RunContext& ctx, ProcHandle process) {
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Executing fncTerminateUpdateProcess ");
            // Ending a process that has already finished fails: then the script ran in time.
            if (!ctx.sys.processes->TerminateProcess(process, 0)) {
                WriteLog(ctx, "MSG : Postprocessing: Successfully Executed the script");
                return false;
            }
            logTermination(ctx);
            if (isInteractiveContext(ctx.job.strContext)) {
                fncUserLocked(ctx);
                setFailure(ctx, ctx.blnDesktopLocked
                                    ? "PostProcessing:The System is locked."
                                    : "PostProcessing:The threshold set for the script process time is elapsed.");
            } else {
                setFailure(ctx, "PostProcessing:The threshold set for the script process time is elapsed.");
            }
            WriteLog(ctx, "MSG : " + ctx.strFailureDesc);
            return false;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncTerminateUpdateProcess " + std::to_string(e.number) + " " + e.description);
            return false;
        });
}

bool fncTerminateProcess(RunContext& ctx, ProcHandle process) {
    guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Executing fncTerminateProcess");
            if (ctx.sys.processes->TerminateProcess(process, 0)) {
                logTermination(ctx);
            } else {
                WriteLog(ctx, "MSG : Postprocessing: Successfully Executed the script");
            }
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncTerminateProcess " + std::to_string(e.number) + " " + e.description);
        });
    return false;
}
