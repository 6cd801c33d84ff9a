// The template execution status and failure records of one job.
// May contain: the records and their transport; no system calls.
#include "report/template_status.h"

#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "report/drop_folder.h"
#include "report/webpost.h"

namespace {

// A value as the element's text; the failure text goes as a CDATA section instead.
std::string element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + elementText(value) + "</" + name + ">";
}

std::string cdataElement(const std::string& name, const std::string& value) {
    return "<" + name + ">" + cdataSection(value) + "</" + name + ">";
}

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
                    appendBounded(ctx.strFailureDesc, ctx.script.strExitLine);
                    appendBounded(ctx.strFailureDesc, ctx.script.strActionDescList);
                } else if (!trimBlanks(ctx.script.strActionDescList).empty()) {
                    ctx.strFailureDesc = boundedText("Postprocessing:" + ctx.script.strActionDescList);
                } else if (!trimBlanks(ctx.script.strExitLine).empty()) {
                    ctx.strFailureDesc = boundedText("Postprocessing:" + ctx.script.strExitLine);
                }
            }

            const std::string statusRecord =
                "<wpdcmatztempexecst>" + element("mmid", ctx.strMemberID) + element("siteid", ctx.strSiteID) +
                element("regid", ctx.strRegID) + element("tempid", ctx.job.strTemplateID) +
                element("tempver", ctx.job.strTemplateVersion) + element("scrid", ctx.job.strScriptID) +
                element("scrver", ctx.job.strScriptVersion) + element("scandt", ctx.strStartTime) +
                element("status", status) + "</wpdcmatztempexecst>";
            WriteLog(ctx, "MSG : Preprocessing: Direct webposting for [Template_Execution_Status]");
            subGetWebPostScript(ctx, "wpdcmatztempexecst", statusRecord);
            if (!ctx.blnWebPostStatus) {
                WriteLog(ctx, "MSG : Preprocessing: Direct webpost failed. Posting the xml contents to HVRPostLogs ");
                subDropRecord(ctx, "wpdcmatztempexecst", statusRecord, "[Template_Execution_Status]");
            }

            if (!trimBlanks(ctx.strFailureDesc).empty() && status == "0") {
                ctx.blnWebPostStatus = false;
                const std::string failureRecord =
                    "<wpdcmatztempexecfail>" + element("mmid", ctx.strMemberID) + element("siteid", ctx.strSiteID) +
                    element("regid", ctx.strRegID) + element("scrid", ctx.job.strScriptID) +
                    element("scrver", ctx.job.strScriptVersion) + element("tempid", ctx.job.strTemplateID) +
                    element("tempver", ctx.job.strTemplateVersion) + element("scandt", ctx.strStartTime) +
                    cdataElement("faildesc", boundedText(ctx.strFailureDesc)) + "</wpdcmatztempexecfail>";
                WriteLog(ctx, "MSG : Preprocessing: Direct webposting for [Template_Execution_Failure]");
                subGetWebPostScript(ctx, "wpdcmatztempexecfail", failureRecord);
                if (!ctx.blnWebPostStatus) {
                    WriteLog(ctx,
                             "MSG : Preprocessing: Direct webpost failed. Posting the xml contents for HVRPostLogs ");
                    subDropRecord(ctx, "wpdcmatztempexecfail", failureRecord, "[Template_Execution_Failure]");
                }
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
