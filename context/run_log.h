// The run log and the small text functions used to turn system errors into log text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunContext;

/// Appends one line, stamped "MM/DD/YYYY HH:MM:SS" + TAB, to the run log.
/// Never fails; writes nothing while the log is not open. A line longer than
/// kTextBound (stamp included) is cut as boundedText cuts it.
void WriteLog(RunContext& ctx, const std::string& message);
/// The same for many messages, each its own line with one stamp for all,
/// written in one call: a clean-up or counter write of thousands of lines
/// costs one system call per batch instead of one per line.
void WriteLogLines(RunContext& ctx, const std::vector<std::string>& messages);

/// The system's message for a code given as decimal text, with its CR LF.
std::string fncFormatMessage(RunContext& ctx, const std::string& code);

/// Decimal code + "-" + the system's message without its CR LF; the code alone
/// when the system has no text for it.
std::string fncFormatMessage(RunContext& ctx, std::int32_t code);

/// The text up to its first NUL character.
std::string StripNulls(RunContext& ctx, const std::string& text);
