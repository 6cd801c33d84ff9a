// What every record kind is built from.
// May contain: the pieces shared by the record builders; no record of its own.
#include "report/records.h"

#include <string>

#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "report/drop_folder.h"
#include "report/webpost.h"

std::string element(std::string_view name, std::string_view value) {
    std::string out = "<";
    out.append(name).append(">").append(elementText(value)).append("</").append(name).append(">");
    return out;
}

std::string cdataElement(std::string_view name, std::string_view value) {
    std::string out = "<";
    out.append(name).append(">").append(cdataSection(value)).append("</").append(name).append(">");
    return out;
}

void postElseDrop(RunContext& ctx, const std::string& recordName, const std::string& record,
                  const PostWording& wording) {
    WriteLog(ctx, std::string(wording.posting));
    subGetWebPostScript(ctx, recordName, record);
    if (!ctx.blnWebPostStatus) {
        WriteLog(ctx, std::string(wording.failed));
        subDropRecord(ctx, recordName, record, std::string(wording.label));
    }
}
