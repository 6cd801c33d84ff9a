// The run log and the small text functions used to turn system errors into log text.
// May contain: the run's shared state, its log and its configuration; no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RunContext;

/// Appends one line, stamped "MM/DD/YYYY HH:MM:SS" + TAB, to the run log.
/// Never fails; writes nothing while the log is not open. A line longer than
/// kTextBound (stamp included) is cut as boundedText cuts it.
void WriteLog(RunContext& ctx, const std::string& message);
/// The same for many messages, each its own line with one stamp for all,
/// handed to the system kLogLinesPerWrite lines at a time: a clean-up or
/// counter write of thousands of lines costs a few system calls, not one
/// per line.
inline constexpr std::size_t kLogLinesPerWrite = 256;
void WriteLogLines(RunContext& ctx, const std::vector<std::string>& messages);

// Two procedures of one name turn a system error code into log text, each
// for its own callers; a namespace names whose variant a call uses.

namespace runlog {
/// The run log's variant, used by the configuration reads: the system's
/// message for a code given as decimal text, with its CR LF.
std::string fncFormatMessage(RunContext& ctx, const std::string& code);
}  // namespace runlog

// The launcher's variant lives here, beside the run log's, because two
// floors that cannot include each other use it: the launch (execute/) and the
// checksum's library-load line (prepare/).
namespace launcher {
/// The launcher's variant: decimal code + "-" + the system's message without
/// its CR LF; the code alone when the system has no text for it.
std::string fncFormatMessage(RunContext& ctx, std::int32_t code);
}  // namespace launcher

/// The text up to its first NUL character.
std::string StripNulls(RunContext& ctx, const std::string& text);
