// Posting of the script's variables record through the drop folder.
// May contain: the records and their transport; no system calls.
#include "report/variables_post.h"

#include <memory>
#include <string>

#include "base/errors.h"
#include "base/file_names.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "report/drop_folder.h"
#include "report/records.h"
#include "report/script_variables.h"

bool fncPostVTXVariables(RunContext& ctx, const std::string& path) {
    bool dropped = false;
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: in functions fncPostVTXVariables");
            // The console log names the file; it is read and deleted only where
            // it really lies in the logs folder.
            const std::string folder = logsFolder(ctx);
            bool found = false;
            try {
                found = ctx.objFSO->FileExistsInside(folder, path);
            } catch (const RunError& e) {
                if (e.number != err::PathAccess) throw;
                WriteLog(ctx, "ERR : Preprocessing: VTX variables file " + path + " lies outside " + folder +
                                  " (through '..' or a link) and is not read");
                return false;
            }
            if (!found) {
                WriteLog(ctx, "MSG : Preprocessing: VTX varibale File not found " + path);
                return false;
            }

            std::string strVariablesXML = fncReadVariableXML(ctx, path);
            if (!strVariablesXML.empty()) {
                const std::string scanTime = formatPicture(ctx.sys.clock->now(), kRecordTimePicture);
                const std::string header = "<wpatcmdscrvardata>" + element("regid", ctx.strRegID) +
                                           element("scandatetime", scanTime) + element("scriptid", ctx.job.strScriptID);
                strVariablesXML = replaceNoCase(strVariablesXML, "<wpatcmdscrvardata>", header);
            }
            WriteLog(ctx, "MSG : Preprocessing: Contents in VTX_Variable file ");

            if (!strVariablesXML.empty()) {
                // The record goes from memory into the drop folder: the
                // script's file, which the script may still be changing, is
                // neither written nor read again.
                // The name is the script's text: anything but a plain name
                // could lead the drop out of HVRPostLogs ("/", "..").
                const std::string name(lastNameOf(path));
                if (isPlainName(name)) {
                    dropUnderOwnName(ctx, name, strVariablesXML);
                    dropped = true;
                } else {
                    logDropLost(ctx, name, runError(err::BadFileName));
                }
            } else {
                WriteLog(ctx, "MSG : Preprocessing : VTX Varibale file not created due to threshold violation");
            }

            WriteLog(ctx, "MSG : Preprocessing: Deleting " + path);
            ctx.objFSO->DeleteInside(folder, path, true);
            return dropped;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncPostVTXVariables. " + std::to_string(e.number) + "::" + e.description);
            // A record dropped before the error stays dropped.
            return dropped;
        });
}
