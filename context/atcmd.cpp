// Finding the script runner.
#include "context/atcmd.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "platform/registry.h"

bool fncCheckATCMD(RunContext& ctx) {
    bool result = false;
    guarded(
        [&] {
            const std::string key(atcmd::kRegistryKey);
            const std::string value(atcmd::kRegistryValue);
            WriteLog(ctx, "MSG : Preprocessing: Reading Registry key :: HKLM\\" + key + "[" + value + "]");
            ctx.strATCMDLocation = ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, key, value, 1);
            if (trimBlanks(ctx.strATCMDLocation).empty()) {
                WriteLog(ctx, "ERR : " + value + " Value not found in registry : HKEY_LOCAL_MACHINE\\" + key);
                ctx.strFailureDesc = "Preprocessing:Automise Binaries are not installed";
                return;
            }
            WriteLog(ctx, "MSG : Preprocessing: HKEY_LOCAL_MACHINE\\" + key + "\\" + value + " : " +
                              ctx.strATCMDLocation);
            // The path is tested as read: blanks around it are part of the name.
            if (ctx.objFSO->FileExists(ctx.strATCMDLocation)) {
                result = true;
                return;
            }
            WriteLog(ctx, "ERR : File not found : " + ctx.strATCMDLocation);
            ctx.strFailureDesc = "Preprocessing:File not found " + ctx.strATCMDLocation;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncCheckATCMD. " + std::to_string(e.number) + "::" + e.description);
            result = false;
        });
    return result;
}
