// Start-up of one run: the entry procedure and the initialisation.
// May contain: the run's control flow; no system calls.
#include "run/start.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "report/action_status.h"
#include "run/job_driver.h"
#include "run/job_list.h"
#include "run/prechecks.h"
#include "run/shared_steps.h"

namespace {

// A run log that has grown to this size is started afresh.
constexpr std::uint64_t kLogSizeLimit = 0x100000;
constexpr std::uint32_t kPauseAfterJobMs = 2000;

void createFolderIfMissing(RunContext& ctx, const std::string& path) {
    if (!ctx.objFSO->FolderExists(path)) createFolderUnlessMade(ctx, path);
}

void createFolderLogged(RunContext& ctx, const std::string& path) {
    if (!ctx.objFSO->FolderExists(path)) {
        WriteLog(ctx, "MSG : Preprocessing: Creating Folder " + path);
        createFolderUnlessMade(ctx, path);
    }
}

// Reads the job list and runs its jobs in order, pausing after each; a list
// that yields no job is the run's failure unless its reader named one.
void runJobList(RunContext& ctx) {
    const bool haveJobs = fncParseKRNXML(ctx);
    if (haveJobs) {
        // The job list holds at most 32,767 entries, so the index fits
        // the 16-bit counter the jobs were always numbered with.
        for (std::size_t i = 0; i < ctx.arrScripts.size(); ++i) {
            fncExecuteKRNScript(ctx, ctx.arrScripts[i]);
            ctx.sys.clock->sleepMs(kPauseAfterJobMs);
        }
    }
    if (!haveJobs && trimBlanks(ctx.strFailureDesc).empty()) setFailure(ctx, "No Scripts found to execute");
}

// The last steps of the initialisation, once the registration id is valid:
// from here on a failing statement is skipped and the next one runs.
void readVersionAndCommandLine(RunContext& ctx, const std::string& exePath) {
    Host& host = *ctx.sys.host;
    ignoreErrors([&] { ctx.strExeVersion = ctx.objFSO->GetFileVersion(exePath); });
    WriteLog(ctx, "MSG : Preprocessing : Exe Version :: " + ctx.strExeVersion);
    std::string commandLine;
    ignoreErrors([&] { commandLine = host.CommandLine(); });
    WriteLog(ctx, "MSG : Command line arguments :: " + commandLine);
    std::vector<std::string> pieces;
    ignoreErrors([&] { pieces = splitText(trimBlanks(commandLine), ","); });
    if (pieces.size() > 0) ctx.strCmdTemplateID = pieces[0];
    if (pieces.size() > 1) ctx.strCmdTemplateVersion = pieces[1];
    if (pieces.size() > 2) ctx.strActionName = pieces[2];
}

}  // namespace

void Main(RunContext& ctx) {
    guarded(
        [&] {
            // Taken first: it is the scan time of every record of this run.
            ctx.strStartTime = formatPicture(ctx.sys.clock->now(), kRecordTimePicture);
            subInitialise(ctx);
            // Without a valid identity nothing is checked, run or reported.
            if (fncGetRegInfo(ctx)) {
                subPreChecks(ctx);
                if (!trimBlanks(ctx.strFailureDesc).empty()) {
                    WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                } else {
                    runJobList(ctx);
                }
                fncPostKRNExecStatus(ctx);
            }
            subEndRun(ctx);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in Main. " + std::to_string(e.number) + "::" + e.description);
            subEndRun(ctx);
        });
}

void subInitialise(RunContext& ctx) {
    Host& host = *ctx.sys.host;
    host.HideFromTaskList();

    ctx.strInstallPath = ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, agent::kRegistryKey, "InstallationPath", 1);
    const std::string trimmedPath = trimBlanks(ctx.strInstallPath);
    if (trimmedPath.empty() || !ctx.objFSO->FolderExists(ctx.strInstallPath)) {
        // Without an installation there is nowhere to log to.
        endRunWithoutTrace();
    }
    if (rightText(trimmedPath, 1) != "\\") ctx.strInstallPath += "\\";

    createFolderIfMissing(ctx, ctx.strInstallPath + agent::kApplicationLogFolder);
    createFolderIfMissing(ctx, ctx.strInstallPath + agent::kRunLogFolder);

    const std::string logName =
        host.ExeBaseName() + "_" + formatPicture(ctx.sys.clock->now(), "mmddyyyyhhnnss") + ".txt";
    const std::string logPath = ctx.strInstallPath + agent::kRunLogFolder + "\\" + logName;
    // Runs started in the same second share this log: each appends, and only
    // a log that no running process is writing is started afresh at the limit.
    ctx.objLogFile = ctx.objFSO->OpenSharedLog(logPath, kLogSizeLimit);

    const std::string stars(85, '*');
    WriteLog(ctx, stars);
    WriteLog(ctx, "MSG : Preprocessing: Application started");
    WriteLog(ctx, stars);
    WriteLog(ctx, "MSG : Preprocessing: KOVA installation path : " + ctx.strInstallPath);

    // These two are spelled with a leading "\" after a path that already ends
    // with one; the log lines show the doubled separator and must stay so.
    createFolderLogged(ctx, ctx.strInstallPath + "\\" + agent::kLogsFolder);
    createFolderLogged(ctx, ctx.strInstallPath + "\\" + agent::kDropFolder);

    WriteLog(ctx, "MSG : Preprocessing: Reading Regid ");
    ctx.strRegID = ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, agent::kRegistryKey, "RegID", 1);
    WriteLog(ctx, "MSG : Preprocessing: RegId : " + ctx.strRegID);
    if (numericValue(ctx.strRegID) == 0) {
        WriteLog(ctx, "MSG : Preprocessing: Invalid RegId");
        WriteLog(ctx, "MSG : Preprocessing: Application stopped");
        subEndRun(ctx);
    } else {
        const std::string exePath = host.ExeFolder() + "\\" + host.ExeBaseName() + ".exe";
        ctx.strFileVersion = ctx.objFSO->GetFileVersion(exePath);
        WriteLog(ctx, "MSG : Exe Version :: " + ctx.strFileVersion);
        readVersionAndCommandLine(ctx, exePath);
    }
}
