// The checks before any job runs.
// May contain: the run's control flow; no system calls.
#include "run/prechecks.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/atcmd.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "run/shared_steps.h"

namespace {

// A missing file ends the checks with the same three texts for each file.
bool fileMissing(RunContext& ctx, const std::string& path) {
    if (ctx.objFSO->FileExists(path)) return false;
    WriteLog(ctx, "ERR : Preprocessing: " + path + " file not found");
    setFailure(ctx, "Preprocessing:" + path + " file not found");
    return true;
}

std::string exMonScriptsFolder(RunContext& ctx) {
    return GetShortpath(ctx, GetSpecialfolder(ctx)) + "\\" + agent::kExMonScriptsFolder;
}

}  // namespace

// No handler here on purpose: an error (failing to create the script folder
// under Program Files) belongs to the caller's handler, which ends the run.
void subPreChecks(RunContext& ctx) {
    WriteLog(ctx, "MSG : Preprocessing: in procedure subPreChecks");
    if (trimBlanks(ctx.sys.host->CommandLine()).empty()) {
        WriteLog(ctx, "ERR : Invalid commandline parameter");
        setFailure(ctx, "Preprocessing: Invalid commandline parameter");
        return;
    }

    fncCheckATCMD(ctx);

    const std::string& install = ctx.strInstallPath;
    const std::string scripts = install + agent::kScriptsFolder;
    WriteLog(ctx, "MSG : Preprocessing: Checking for folder " + scripts);
    if (!ctx.objFSO->FolderExists(scripts)) {
        WriteLog(ctx, "ERR : " + scripts + " folder not found");
        setFailure(ctx, "Preprocessing:" + scripts + " folder not found");
        return;
    }

    const std::string processed = processedScriptsFolder(ctx);
    WriteLog(ctx, "MSG : Preprocessing: Checking for folder " + processed);
    // The folder may come with the first job's scripts; its absence is only reported.
    if (!ctx.objFSO->FolderExists(processed)) WriteLog(ctx, "ERR : " + processed + " folder not found");

    WriteLog(ctx, "MSG : Preprocessing: Checking for folder " + exMonScriptsFolder(ctx));
    if (!ctx.objFSO->FolderExists(exMonScriptsFolder(ctx))) {
        WriteLog(ctx, "MSG : Preprocessing: Creating Folder" + exMonScriptsFolder(ctx));
        createFolderUnlessMade(ctx, exMonScriptsFolder(ctx));
    }

    const std::string md5Library = install + agent::kMd5Library;
    WriteLog(ctx, "MSG : Preprocessing: Checking for file " + md5Library);
    if (fileMissing(ctx, md5Library)) return;

    const std::string webpostLibrary = install + agent::kWebpostLibrary;
    WriteLog(ctx, "MSG : Preprocessing: Checking for file " + webpostLibrary);
    if (fileMissing(ctx, webpostLibrary)) return;

    if (fileMissing(ctx, install + agent::kWebpostUrlFileChecked)) return;
    fileMissing(ctx, actionFolder(ctx) + "\\" + agent::kJobListFile);
}

bool fncCheckATCMD(RunContext& ctx) {
    return guarded(
        [&] {
            const std::string key(atcmd::kRegistryKey);
            const std::string value(atcmd::kRegistryValue);
            WriteLog(ctx, "MSG : Preprocessing: Reading Registry key :: HKLM\\" + key + "[" + value + "]");
            ctx.strATCMDLocation = ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, key, value, 1);
            if (trimBlanks(ctx.strATCMDLocation).empty()) {
                WriteLog(ctx, "ERR : " + value + " Value not found in registry : HKEY_LOCAL_MACHINE\\" + key);
                setFailure(ctx, "Preprocessing:Automise Binaries are not installed");
                return false;
            }
            WriteLog(ctx, "MSG : Preprocessing: HKEY_LOCAL_MACHINE\\" + key + "\\" + value + " : " +
                              ctx.strATCMDLocation);
            // The path is tested as read: blanks around it are part of the name.
            if (ctx.objFSO->FileExists(ctx.strATCMDLocation)) return true;
            WriteLog(ctx, "ERR : File not found : " + ctx.strATCMDLocation);
            setFailure(ctx, "Preprocessing:File not found " + ctx.strATCMDLocation);
            return false;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncCheckATCMD. " + std::to_string(e.number) + "::" + e.description);
            return false;
        });
}
