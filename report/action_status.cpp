// The action status record: one record for the whole run, always dropped.
// May contain: the records and their transport; no system calls.
#include "report/action_status.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "report/drop_folder.h"
#include "report/records.h"

bool fncPostKRNExecStatus(RunContext& ctx) {
    guarded(
        [&] {
            std::string menuId = replaceNoCase(ctx.strActionName, "Action_", "");
            menuId = replaceNoCase(menuId, "_KRN", "");
            const std::string status = trimBlanks(ctx.strFailureDesc).empty() ? "1" : "0";

            // The failure text carries a script's output: "&", "<" and
            // control bytes in it are escaped, so the record stays XML and the
            // server reads the text that was reported. A text without them
            // (every text the program writes itself) goes as it stands.
            const std::string record =
                "<wpdcmtkvrmenuactionst>" + element("mmid", ctx.strMemberID) + element("siteid", ctx.strSiteID) +
                element("regid", ctx.strRegID) + element("tempid", numberText(numericValue(ctx.strCmdTemplateID))) +
                element("tempver", numberText(numericValue(ctx.strCmdTemplateVersion))) +
                element("menuid", numberText(numericValue(menuId))) + element("scandt", ctx.strStartTime) +
                element("status", status) + element("faildesc", boundedText(ctx.strFailureDesc)) +
                element("exever", ctx.strExeVersion) + "</wpdcmtkvrmenuactionst>";

            WriteLog(ctx, "MSG : Webpost Data :: " + record);
            WriteLog(ctx, "MSG : Preprocessing: Direct webpost failed. Posting the xml contents to HVRPostLogs ");
            subDropRecord(ctx, "wpdcmtkvrmenuactionst", record, "[Template_Execution_Status]");
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : function fncPostKRNExecStatus. ErrDesc :: " + std::to_string(e.number) + " " +
                              e.description);
        });
    return false;
}
