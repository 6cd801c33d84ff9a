// The run log.
// May contain: the run's shared state, its log and its configuration; no system calls.
#include "context/run_log.h"

#include <algorithm>
#include <string_view>

#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "platform/host.h"

namespace {

std::string stampNow(RunContext& ctx) { return formatPicture(ctx.sys.clock->now(), kRecordTimePicture) + "\t"; }

// Put before a continuation line that could pass for a stamped line. Not a
// blank: a reader that trims lines would read past one.
constexpr std::string_view kContinuationMark = "> ";

// Bytes that some reader takes for a line break: CR and LF, and the vertical
// tab, form feed and the file, group and record separators, at which a reader
// that splits lines the Unicode way splits too. Each is written as CR LF.
constexpr std::string_view kBreaks = "\r\n\v\f\x1c\x1d\x1e";
// Where a reader that takes the log for Latin-1 starts a new line (NEL). In
// the code page it is an ellipsis, so it stays, but a stamp after it is marked.
constexpr char kNextLine = '\x85';

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t') || u == 0x7F;
}

// Bytes a viewer shows as nothing, or as blank space, before a line's text:
// blanks, TABs, control characters, the C1 controls the code page leaves
// undefined, the no-break space and the soft hyphen.
bool unseen(unsigned char c) {
    return c <= 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D || c == 0xA0 ||
           c == 0xAD;
}

// Whether `text` begins like the run log's stamp: once what a viewer does not
// show is passed, a number of one to four digits, a date's or a time's
// separator and a digit ("12/31/2030", "2030-12-31", "31.12.2030", "23:59").
bool beginsLikeStamp(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && unseen(static_cast<unsigned char>(text[i]))) ++i;
    const std::size_t digitsAt = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    const std::size_t digits = i - digitsAt;
    return digits >= 1 && digits <= 4 && i + 1 < text.size() &&
           std::string_view("/-.:").find(text[i]) != std::string_view::npos && text[i + 1] >= '0' &&
           text[i + 1] <= '9';
}

// Whether a continuation line could be read as a line of its own with a
// stamp: it begins like one, or it holds a control character (a terminal's
// backspace or escape sequence can draw a stamp from any line).
bool passesForStamped(std::string_view line) {
    return std::any_of(line.begin(), line.end(), isControl) || beginsLikeStamp(line);
}

// Appends one line of a message, without its break: when `marked`, after
// kContinuationMark and with its control characters as "?". A stamp after
// a NEL byte is marked too.
void appendPart(std::string& text, std::string_view part, bool marked) {
    if (marked) text += kContinuationMark;
    for (std::size_t i = 0; i < part.size(); ++i) {
        text += marked && isControl(part[i]) ? '?' : part[i];
        if (part[i] == kNextLine && beginsLikeStamp(part.substr(i + 1))) text += kContinuationMark;
    }
}

// A message as the log writes it. Every line break becomes CR LF, so that
// every viewer sees the same lines, and a continuation line that could pass
// for a stamped one is marked (appendPart). A message without a break and
// without NEL stays as it is, byte for byte, and so does one whose breaks
// are CR LF and whose lines pass for nothing.
void appendMessage(std::string& line, const std::string& message) {
    const std::string_view all(message);
    if (all.find_first_of(kBreaks) == std::string_view::npos && all.find(kNextLine) == std::string_view::npos) {
        appendBounded(line, message);
        return;
    }
    std::string text;
    text.reserve(message.size() + 16);
    // Past the bound the rest would be cut anyway.
    for (std::size_t pos = 0; text.size() <= kTextBound;) {
        const std::size_t end = all.find_first_of(kBreaks, pos);
        const std::string_view part = all.substr(pos, end == std::string_view::npos ? end : end - pos);
        appendPart(text, part, pos != 0 && passesForStamped(part));
        if (end == std::string_view::npos) break;
        text += "\r\n";
        pos = end + (all.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    appendBounded(line, text);
}

// A message that carries a script's text is cut, stamp included, to the
// bound every line of the log keeps.
std::string stampedLine(const std::string& stamp, const std::string& message) {
    std::string line = stamp;
    appendMessage(line, message);
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
