// The run log.
// May contain: the run's shared state, its log and its configuration; no system calls.
#include "context/run_log.h"

#include <algorithm>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "platform/host.h"

namespace {

std::string stampNow(RunContext& ctx) { return formatPicture(ctx.sys.clock->now(), kRecordTimePicture) + "\t"; }

// A message that carries a script's text is cut, stamp included, to the
// bound every line of the log keeps.
std::string stampedLine(const std::string& stamp, const std::string& message) {
    std::string line = stamp;
    appendBounded(line, message);
    return line;
}

}  // namespace

void WriteLog(RunContext& ctx, const std::string& message) {
    ignoreErrors([&] {
        if (ctx.objLogFile) ctx.objLogFile->WriteLine(stampedLine(stampNow(ctx), message));
    });
}

void WriteLogLines(RunContext& ctx, const std::vector<std::string>& messages) {
    ignoreErrors([&] {
        if (!ctx.objLogFile || messages.empty()) return;
        const std::string stamp = stampNow(ctx);
        std::vector<std::string> lines;
        for (std::size_t first = 0; first < messages.size(); first += kLogLinesPerWrite) {
            const std::size_t end = std::min(messages.size(), first + kLogLinesPerWrite);
            lines.clear();
            for (std::size_t i = first; i < end; ++i) lines.push_back(stampedLine(stamp, messages[i]));
            ctx.objLogFile->WriteLines(lines);
        }
    });
}

std::string runlog::fncFormatMessage(RunContext& ctx, const std::string& code) {
    std::string result;
    guarded(
        [&] {
            const std::int32_t number = toLong(code);
            // The system fills at most 200 characters of buffer.
            result = leftText(ctx.sys.host->SystemMessage(number), 199);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : function fncFormatMessage. Err : " + std::to_string(e.number) + "::" + e.description);
            result.clear();
        });
    return result;
}

std::string launcher::fncFormatMessage(RunContext& ctx, std::int32_t code) {
    std::string result;
    guarded(
        [&] {
            const std::string text = leftText(ctx.sys.host->SystemMessage(code), 199);
            if (!text.empty()) {
                result = std::to_string(code) + "-" + leftText(text, text.size() >= 2 ? text.size() - 2 : 0);
            } else {
                result = std::to_string(code);
            }
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncFormatMessage. ErrDesc : " + std::to_string(e.number) + " " + e.description);
            result.clear();
        });
    return result;
}

std::string StripNulls(RunContext& ctx, const std::string& text) {
    const auto pos = text.find('\0');
    return pos == std::string::npos ? text : text.substr(0, pos);
}
