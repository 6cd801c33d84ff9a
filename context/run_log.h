// The run log and the small text functions used to turn system errors into log text.
#pragma once

#include <cstdint>
#include <string>

struct RunContext;

/// Appends one line, stamped "MM/DD/YYYY HH:MM:SS" + TAB, to the run log.
/// Never fails; writes nothing while the log is not open. A line longer than
/// kTextBound (stamp included) is cut as boundedText cuts it.
void WriteLog(RunContext& ctx, const std::string& message);

/// The system's message for a code given as decimal text, with its CR LF.
std::string fncFormatMessage(RunContext& ctx, const std::string& code);

/// Decimal code + "-" + the system's message without its CR LF; the code alone
/// when the system has no text for it.
std::string fncFormatMessage(RunContext& ctx, std::int32_t code);

/// The text up to its first NUL character.
std::string StripNulls(RunContext& ctx, const std::string& text);
