// The action's job list (KRNScripts.xml).
// May contain: the run's control flow; no system calls.
#include "run/job_list.h"

#include <memory>
#include <string>

#include "base/errors.h"
#include "context/agent_files.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/xml.h"

namespace {

// Jobs are numbered by their child position with a 16-bit signed index.
constexpr long kMaxChildNodes = 32767;

}  // namespace

bool fncParseKRNXML(RunContext& ctx) {
    bool result = false;
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : In fncParseKRNXML");
            if (ctx.sys.xml == nullptr) throw runError(err::CannotCreate);
            const std::unique_ptr<XmlDocument> document = ctx.sys.xml->CreateDocument();
            if (!document) throw runError(err::CannotCreate);

            const std::string path = actionFolder(ctx) + "\\" + agent::kJobListFile;
            if (!document->Load(path)) {
                setFailure(ctx, "Failed to load " + path);
                WriteLog(ctx, "ERR : Failed to load " + path);
                return false;
            }
            const std::unique_ptr<XmlNode> root = document->SelectFirstElement("root");
            if (!root) return false;

            const long count = root->ChildCount();
            if (count > kMaxChildNodes) throw runError(err::Overflow);
            for (long i = 0; i < count; ++i) {
                const std::unique_ptr<XmlNode> child = root->Child(i);
                if (!child || child->NodeName() != "item") continue;
                // The job keeps its child position; skipped positions before it stay empty.
                const auto index = static_cast<std::size_t>(i);
                if (ctx.arrScripts.size() < index + 1) ctx.arrScripts.resize(index + 1);
                ctx.arrScripts[index] = child->Text();
                result = true;
                WriteLog(ctx, "MSG : Scripts :: " + ctx.arrScripts[index]);
            }
            return result;
        },
        [&](const RunError& e) {
            setFailure(ctx, "fncParseKRNXML, " + e.description);
            WriteLog(ctx, "ERR : fncParseKRNXML, " + ctx.strFailureDesc);
            // The jobs read before the error are kept, and so is the answer that there are some.
            return result;
        });
}
