// The template execution status and failure records of one job.
// May contain: the records and their transport; no system calls.
#include "report/template_status.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "report/records.h"

namespace {

// The run log's words around each record's post; the failure record's says
// "for HVRPostLogs" where the status record's says "to".
constexpr PostWording kStatusPost{
    .posting = "MSG : Preprocessing: Direct webposting for [Template_Execution_Status]",
    .failed = "MSG : Preprocessing: Direct webpost failed. Posting the xml contents to HVRPostLogs ",
    .label = "[Template_Execution_Status]"};
constexpr PostWording kFailurePost{
    .posting = "MSG : Preprocessing: Direct webposting for [Template_Execution_Failure]",
    .failed = "MSG : Preprocessing: Direct webpost failed. Posting the xml contents for HVRPostLogs ",
    .label = "[Template_Execution_Failure]"};

// Whether a failed job's description should say that the script exported no
// log: only then were the details read from ATCMD's console log alone, which
// tells the operator why they are thin and that an export action would help.
// Not said when the script never ran (no log of any kind exists), and not
// when the note would be the whole list on an empty description: the
// description would then read "Postprocessing:" + the note instead of
// "Postprocessing:" + the exit line, and the exit code would be lost.
bool exportNotUsedApplies(const RunContext& ctx) {
    if (ctx.blnExportHTML || ctx.blnExportXML || ctx.blnExportText) return false;
    if (trimBlanks(ctx.script.strScriptStatus).empty()) return false;
    return !trimBlanks(ctx.strFailureDesc).empty() || !trimBlanks(ctx.script.strActionDescList).empty();
}

}  // namespace

void subPostTemplateExecStatus(RunContext& ctx) {
    guarded(
        [&] {
            std::string status = upperAscii(trimBlanks(ctx.script.strScriptStatus)) == "SUCCESS" ? "1" : "0";
            if (status == "1") {
                status = trimBlanks(ctx.strFailureDesc).empty() ? "1" : "0";
            } else {
                if (exportNotUsedApplies(ctx)) {
                    appendBounded(ctx.script.strActionDescList, ". Export Log functionality not used");
                }
                // The parts come from the script's output: the description is
                // kept to kTextBound as it is built.
                if (!trimBlanks(ctx.strFailureDesc).empty()) {
                    extendFailure(ctx, ctx.script.strExitLine);
                    extendFailure(ctx, ctx.script.strActionDescList);
                } else if (!trimBlanks(ctx.script.strActionDescList).empty()) {
                    setFailure(ctx, boundedText("Postprocessing:" + ctx.script.strActionDescList));
                } else if (!trimBlanks(ctx.script.strExitLine).empty()) {
                    setFailure(ctx, boundedText("Postprocessing:" + ctx.script.strExitLine));
                }
            }

            const std::string statusRecord =
                "<wpdcmatztempexecst>" + element("mmid", ctx.strMemberID) + element("siteid", ctx.strSiteID) +
                element("regid", ctx.strRegID) + element("tempid", ctx.job.strTemplateID) +
                element("tempver", ctx.job.strTemplateVersion) + element("scrid", ctx.job.strScriptID) +
                element("scrver", ctx.job.strScriptVersion) + element("scandt", ctx.strStartTime) +
                element("status", status) + "</wpdcmatztempexecst>";
            postElseDrop(ctx, "wpdcmatztempexecst", statusRecord, kStatusPost);

            if (!trimBlanks(ctx.strFailureDesc).empty() && status == "0") {
                ctx.blnWebPostStatus = false;
                const std::string failureRecord =
                    "<wpdcmatztempexecfail>" + element("mmid", ctx.strMemberID) + element("siteid", ctx.strSiteID) +
                    element("regid", ctx.strRegID) + element("scrid", ctx.job.strScriptID) +
                    element("scrver", ctx.job.strScriptVersion) + element("tempid", ctx.job.strTemplateID) +
                    element("tempver", ctx.job.strTemplateVersion) + element("scandt", ctx.strStartTime) +
                    cdataElement("faildesc", boundedText(ctx.strFailureDesc)) + "</wpdcmatztempexecfail>";
                postElseDrop(ctx, "wpdcmatztempexecfail", failureRecord, kFailurePost);
            }
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in Main. " + std::to_string(e.number) + "::" + e.description);
        });
    // The next job starts without a script result, also after an error above.
    ctx.script.strScriptStatus.clear();
    ctx.script.strExitLine.clear();
    ctx.script.strActionDescList.clear();
}
