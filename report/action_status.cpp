// The action status record: one record for the whole run, always dropped.
#include "report/action_status.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "report/webpost.h"

bool fncPostKRNExecStatus(RunContext& ctx) {
    guarded(
        [&] {
            std::string menuId = replaceNoCase(ctx.strActionName, "Action_", "");
            menuId = replaceNoCase(menuId, "_KRN", "");
            const std::string status = trimBlanks(ctx.strFailureDesc).empty() ? "1" : "0";

            // The server takes the values exactly as they stand: nothing is escaped.
            const std::string record =
                "<wpdcmtkvrmenuactionst><mmid>" + ctx.strMemberID + "</mmid><siteid>" + ctx.strSiteID +
                "</siteid><regid>" + ctx.strRegID + "</regid><tempid>" + numberText(numericValue(ctx.strCmdTemplateID)) +
                "</tempid><tempver>" + numberText(numericValue(ctx.strCmdTemplateVersion)) + "</tempver><menuid>" +
                numberText(numericValue(menuId)) + "</menuid><scandt>" + ctx.strStartTime + "</scandt><status>" +
                status + "</status><faildesc>" + boundedText(ctx.strFailureDesc) + "</faildesc><exever>" +
                ctx.strExeVersion + "</exever></wpdcmtkvrmenuactionst>";

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
