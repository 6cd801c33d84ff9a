// The per-job driver: takes a job string apart and runs the job's steps in
// their fixed order, testing the failure text between them.
// May contain: the run's control flow; no system calls.
#include "run/job_driver.h"

#include <memory>
#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "execute/script_run.h"
#include "platform/locks.h"
#include "prepare/checksum.h"
#include "prepare/run_variables.h"
#include "report/action_status.h"
#include "report/script_variables.h"
#include "report/template_status.h"
#include "report/variables_post.h"
#include "run/cleanup.h"
#include "run/job_lock.h"
#include "run/shared_steps.h"

namespace {

constexpr const char* kFieldSeparator = "%@%";
constexpr std::size_t kFieldCount = 10;
constexpr double kMsPerMinute = 60000;

std::string minutesToMs(const std::string& minutes) { return numberText(numericValue(minutes) * kMsPerMinute); }

bool failed(const RunContext& ctx) { return !trimBlanks(ctx.strFailureDesc).empty(); }

// A job string of the wrong shape means the whole list cannot be trusted:
// the run is reported and ends before any later job.
[[noreturn]] void endRunOnInvalidJob(RunContext& ctx) {
    WriteLog(ctx, "ERR : Preprocessing:Invalid command line parameters");
    setFailure(ctx, "Preprocessing:Invalid command line parameters");
    fncPostKRNExecStatus(ctx);
    subEndRun(ctx);
}

// The ten fields into the job's variables (the times in milliseconds, the
// context in lower case), then one log message of ten lines.
void takeJobFields(RunContext& ctx) {
    const auto& f = ctx.job.arrJobParams;
    ctx.job.strTemplateID = f[0];
    ctx.job.strTemplateVersion = f[1];
    ctx.job.strScriptID = f[2];
    ctx.job.strScriptVersion = f[3];
    ctx.job.strExecuteScript = f[4];
    ctx.job.strAdditionalScripts = f[5];
    ctx.job.strProcessTime = minutesToMs(f[6]);
    ctx.job.strDownloadTime = minutesToMs(f[7]);
    ctx.job.strContext = lowerAscii(f[8]);
    ctx.job.strCmdParameters = f[9];

    WriteLog(ctx, "MSG : Preprocessing: TemplateID :: " + f[0] + "\r\n" +
                      "TemplateVersion :: " + f[1] + "\r\n" +
                      "ScriptID :: " + f[2] + "\r\n" +
                      "ScriptVersion :: " + f[3] + "\r\n" +
                      "ExecuteScript :: " + f[4] + "\r\n" +
                      "AdditionalScripts :: " + f[5] + "\r\n" +
                      "ProcessTime :: " + ctx.job.strProcessTime + "\r\n" +
                      "DownloadTime :: " + ctx.job.strDownloadTime + "\r\n" +
                      "Context :: " + ctx.job.strContext + "\r\n" +
                      "Cmd Parameters :: " + f[9]);
}

// A script file missing or not matching its checksum: the job is reported
// with the detail, and the run keeps the generic text.
void reportChecksumFailure(RunContext& ctx) {
    WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
    subPostTemplateExecStatus(ctx);
    replaceFailure(ctx, "File Not found/Failed to calculate the checksum");
    ctx.job.arrScriptHolds.clear();
}

// The verified script runs under the job lock, which is let go once the
// variables it left have been posted; then the job is reported.
void executeAndReport(RunContext& ctx) {
    {
        const std::unique_ptr<HeldLock> jobLock = takeJobLock(ctx);
        const std::string strRandomNo = subgeneraterandomNo(ctx);
        const std::string strVariablesFile = subExecuteScript(ctx, strRandomNo);
        subReleaseScriptHolds(ctx);
        WriteLog(ctx, "MSG : PreProcessing: Variables File " + strVariablesFile);
        if (trimBlanks(strVariablesFile).empty()) {
            WriteLog(ctx, "MSG : Preprocessing: No VTX_Variables file found");
        } else {
            fncPostVTXVariables(ctx, strVariablesFile);
        }
    }
    subPostTemplateExecStatus(ctx);
    // The status record has the detail; the run keeps the generic text.
    if (failed(ctx)) replaceFailure(ctx, "Failed to execute the script / Build failed");
}

// The steps of a job whose fields are taken. A failure from the pre-checks
// or an earlier job stays for the whole run: such a job is only reported,
// never prepared, executed or cleaned up after.
void runJob(RunContext& ctx) {
    if (failed(ctx)) {
        WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
        subPostTemplateExecStatus(ctx);
    } else {
        fncVerifyVariablethreshold(ctx);
        subCompareCheksum(ctx);
        if (failed(ctx)) {
            reportChecksumFailure(ctx);
        } else {
            executeAndReport(ctx);
        }
        subDeleteDownloadedFiles(ctx);
    }
}

}  // namespace

bool fncExecuteKRNScript(RunContext& ctx, const std::string& job) {
    guarded(
        [&] {
            WriteLog(ctx, "MSG : In fncExecuteKRNScript, " + job);
            // Nothing of an earlier job's fields, script result or launch may
            // reach this one. What the run carries from job to job stays in the
            // run's own fields.
            ctx.job = {};
            ctx.script = {};
            ctx.launch = {};
            ctx.job.arrJobParams = splitText(job, kFieldSeparator);
            if (ctx.job.arrJobParams.size() == kFieldCount) {
                takeJobFields(ctx);
                runJob(ctx);
            } else {
                endRunOnInvalidJob(ctx);
            }
        },
        [&](const RunError& e) { WriteLog(ctx, "ERR : fncExecuteKRNScript, " + e.description); });
    // Callers do not use the result.
    return false;
}
