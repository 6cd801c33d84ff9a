// Posting of the script's variables record through the drop folder.
#include "prepare/variables_post.h"

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "prepare/script_variables.h"
#include "report/webpost.h"
#include "run/config.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/text.h"

bool fncPostVTXVariables(RunContext& ctx, const std::string& path) {
    bool dropped = false;
    guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: in functions fncPostVTXVariables");
            // The console log names the file; it is read, rewritten, copied and
            // deleted only where it really lies in the logs folder.
            const std::string folder = logsFolder(ctx);
            bool found = false;
            try {
                found = ctx.objFSO->FileExistsInside(folder, path);
            } catch (const RunError& e) {
                if (e.number != err::PathAccess) throw;
                WriteLog(ctx, "ERR : Preprocessing: VTX variables file " + path + " lies outside " + folder +
                                  " (through '..' or a link) and is not read");
                return;
            }
            if (!found) {
                WriteLog(ctx, "MSG : Preprocessing: VTX varibale File not found " + path);
                return;
            }

            if (fncReadVariableXML(ctx, path)) {
                const std::string scanTime = formatPicture(ctx.sys.clock->now(), "MM\\/DD\\/YYYY HH:MM:SS");
                const std::string header = "<wpatcmdscrvardata><regid>" + ctx.strRegID + "</regid><scandatetime>" +
                                           scanTime + "</scandatetime><scriptid>" + ctx.strScriptID + "</scriptid>";
                ctx.strVariablesXML = replaceNoCase(ctx.strVariablesXML, "<wpatcmdscrvardata>", header);
            }
            WriteLog(ctx, "MSG : Preprocessing: Contents in VTX_Variable file ");

            if (!ctx.strVariablesXML.empty()) {
                // The record replaces the script's file, which then travels as the drop.
                // A file that cannot be opened raises here, so the script's raw
                // output is never dropped in the record's place.
                ctx.objFSO->RewriteInside(folder, path, ctx.strVariablesXML);

                const std::string name = fileNameOf(path);
                WriteLog(ctx, "MSG : Preprocessing: Copying " + path + " to " + ctx.strInstallPath + "HVRPostLogs\\" +
                                  name);
                placeIntoPostLogs(ctx, path, name, true);
                dropped = true;
            } else {
                WriteLog(ctx, "MSG : Preprocessing : VTX Varibale file not created due to threshold violation");
            }

            WriteLog(ctx, "MSG : Preprocessing: Deleting " + path);
            ctx.objFSO->DeleteInside(folder, path, true);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncPostVTXVariables. " + std::to_string(e.number) + "::" + e.description);
        });
    return dropped;
}
