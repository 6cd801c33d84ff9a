// Running one job's primary script through the runner.
// May contain: the script's run; no system calls.
#include "execute/script_run.h"

#include <string_view>

#include "base/errors.h"
#include "base/file_names.h"
#include "base/text.h"
#include "context/atcmd.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "execute/launcher.h"
#include "execute/process_watch.h"
#include "platform/filesystem.h"
#include "scriptlog/dispatch.h"

namespace {

// Whether `part` can stand inside the console log's file name: the runner is
// told to write that file, so a part that is not a plain name could send it
// out of the logs folder (a separator, "..", a drive), onto a device (NUL,
// CON, COM1, ...), or past the quote that closes the argument. An empty part
// adds nothing to the name.
bool plainNamePart(std::string_view part) { return part.empty() || isPlainName(part); }

}  // namespace

std::string subExecuteScript(RunContext& ctx, const std::string& strRandomNo) {
    std::string variablesFile;
    return guarded(
        [&]() -> std::string {
            if (!ctx.objFSO->FileExists(ctx.job.strPrimaryScriptPath)) {
                setFailure(ctx, "Preprocessing:Primary Script File not found " + ctx.job.strPrimaryScriptPath);
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return {};
            }
            // The short form has no blanks, so the path goes unquoted from here on.
            // It is made afresh from the registry's value for every script.
            const std::string runner = GetShortpath(ctx, ctx.strATCMDLocation);

            const std::string scriptName = fileNameOf(ctx.job.strExecuteScript);
            const std::string base = scriptName.substr(0, scriptName.find('.'));
            // Refused before anything starts, so the runner never writes where the id or name leads.
            std::string refused;
            if (!plainNamePart(ctx.job.strScriptID)) refused = "script id " + ctx.job.strScriptID;
            else if (!plainNamePart(base)) refused = "script name " + ctx.job.strExecuteScript;
            if (!refused.empty()) {
                setFailure(ctx, boundedText("Preprocessing:The " + refused + " cannot name a console log inside " +
                                            logsFolder(ctx)));
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return {};
            }
            ctx.launch.strATCMDLogFile = logsFolder(ctx) + "\\" + base + "_" +
                                         formatPicture(ctx.sys.clock->now(), "MMDDYYYYHHMMSS") + "_" +
                                         ctx.job.strScriptID + "_" + strRandomNo + ".txt";

            const bool interactive = isInteractiveContext(ctx.job.strContext);
            const std::string& parameters = ctx.job.strCmdParameters;
            std::string arguments = std::string(atcmd::kLogSwitch) + '"' + ctx.launch.strATCMDLogFile + '"' +
                                    std::string(interactive ? atcmd::kInteractiveProjectSwitch
                                                            : atcmd::kDirectProjectSwitch) +
                                    '"' + ctx.job.strPrimaryScriptPath + '"';
            // The parameters go on exactly as the job gave them, blanks and all.
            if (!trimBlanks(parameters).empty()) arguments += std::string(atcmd::kParametersSwitch) + parameters;

            WriteLog(ctx, "MSG : Preprocessing: Executing " + ctx.job.strPrimaryScriptPath);
            bool launched = false;
            if (interactive) {
                const std::uint32_t shell = fncGetProcesses(ctx);
                launched = fncExecuteUsingToken(ctx, shell, runner, arguments, ctx.job.strPrimaryScriptFolder);
            } else {
                launched = fncExecuteUsingCreateProcess(ctx, runner, arguments, ctx.job.strPrimaryScriptFolder);
            }

            if (launched) {
                if (fncProcessScriptLog(ctx, ctx.launch.strATCMDLogFile, variablesFile)) {
                    clearFailure(ctx);
                }
                return variablesFile;
            }
            const std::string fallback =
                "Preprocessing:Failed to execute the primary script " + ctx.job.strPrimaryScriptPath;
            if (interactive) {
                // A reason the launcher gave stays, and was logged there.
                if (trimBlanks(ctx.strFailureDesc).empty()) {
                    setFailure(ctx, fallback);
                    WriteLog(ctx, "ERR : Failed to execute the primary script " + ctx.job.strPrimaryScriptPath);
                }
            } else {
                if (trimBlanks(ctx.strFailureDesc).empty()) setFailure(ctx, fallback);
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
            }
            return {};
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in subExecuteScript. " + std::to_string(e.number) + "::" + e.description);
            return variablesFile;
        });
}
