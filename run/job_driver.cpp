// The per-job driver.
#include "run/job_driver.h"

#include <string>

#include "execute/script_run.h"
#include "platform/errors.h"
#include "prepare/checksum.h"
#include "prepare/cleanup.h"
#include "prepare/run_variables.h"
#include "prepare/script_variables.h"
#include "prepare/variables_post.h"
#include "report/action_status.h"
#include "report/template_status.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/start.h"
#include "run/text.h"

namespace {

constexpr const char* kFieldSeparator = "%@%";
constexpr std::size_t kFieldCount = 10;
constexpr double kMsPerMinute = 60000;

std::string minutesToMs(const std::string& minutes) { return numberText(numericValue(minutes) * kMsPerMinute); }

bool failed(const RunContext& ctx) { return !trimBlanks(ctx.strFailureDesc).empty(); }

}  // namespace

bool fncExecuteKRNScript(RunContext& ctx, const std::string& job) {
    guarded(
        [&] {
            WriteLog(ctx, "MSG : In fncExecuteKRNScript, " + job);
            ctx.arrJobParams = splitText(job, kFieldSeparator);
            if (ctx.arrJobParams.size() != kFieldCount) {
                // A job string of the wrong shape means the whole list cannot be
                // trusted: report the run and stop before any later job.
                WriteLog(ctx, "ERR : Preprocessing:Invalid command line parameters");
                ctx.strFailureDesc = "Preprocessing:Invalid command line parameters";
                fncPostKRNExecStatus(ctx);
                subEndRun(ctx);
            }

            const auto& f = ctx.arrJobParams;
            ctx.strTemplateID = f[0];
            ctx.strTemplateVersion = f[1];
            ctx.strScriptID = f[2];
            ctx.strScriptVersion = f[3];
            ctx.strExecuteScript = f[4];
            ctx.strAdditionalScripts = f[5];
            ctx.strProcessTime = minutesToMs(f[6]);
            ctx.strDownloadTime = minutesToMs(f[7]);
            ctx.strContext = lowerAscii(f[8]);
            ctx.strCmdParameters = f[9];
            // The variables file belongs to the job whose script log named it;
            // a later job must never post it again under its own script id.
            ctx.strVariablesFile.clear();

            WriteLog(ctx, "MSG : Preprocessing: TemplateID :: " + f[0] + "\r\n" +
                              "TemplateVersion :: " + f[1] + "\r\n" +
                              "ScriptID :: " + f[2] + "\r\n" +
                              "ScriptVersion :: " + f[3] + "\r\n" +
                              "ExecuteScript :: " + f[4] + "\r\n" +
                              "AdditionalScripts :: " + f[5] + "\r\n" +
                              "ProcessTime :: " + ctx.strProcessTime + "\r\n" +
                              "DownloadTime :: " + ctx.strDownloadTime + "\r\n" +
                              "Context :: " + ctx.strContext + "\r\n" +
                              "Cmd Parameters :: " + f[9]);

            // A failure from the pre-checks or an earlier job stays for the whole
            // run: this job is only reported, never prepared or executed.
            if (failed(ctx)) {
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                subPostTemplateExecStatus(ctx);
                return;
            }

            fncVerifyVariablethreshold(ctx);
            subCompareCheksum(ctx);
            if (failed(ctx)) {
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                subPostTemplateExecStatus(ctx);
                // The status record has the detail; the run keeps the generic text.
                if (!ctx.strFailureDesc.empty()) {
                    ctx.strFailureDesc = "File Not found/Failed to calculate the checksum";
                    ctx.blnScriptExecuted = false;
                }
            } else {
                subgeneraterandomNo(ctx);
                subExecuteScript(ctx);
                WriteLog(ctx, "MSG : PreProcessing: Variables File " + ctx.strVariablesFile);
                if (trimBlanks(ctx.strVariablesFile).empty()) {
                    WriteLog(ctx, "MSG : Preprocessing: No VTX_Variables file found");
                } else {
                    fncPostVTXVariables(ctx, ctx.strVariablesFile);
                }
                subPostTemplateExecStatus(ctx);
                if (failed(ctx)) {
                    ctx.strFailureDesc = "Failed to execute the script / Build failed";
                    ctx.blnScriptExecuted = false;
                }
            }
            subDeleteDownloadedFiles(ctx);
        },
        [&](const RunError& e) { WriteLog(ctx, "ERR : fncExecuteKRNScript, " + e.description); });
    // Callers do not use the result.
    return false;
}
