// The failure-description list of the script result and the per-action
// counters in ATZThreshold.ini that limit how often a detail is reported.
// Every log parser builds the list here, so the list format and the counter
// rule exist once.
// May contain: the reading of a script's logs; no system calls.
#pragma once

#include <string>
#include <string_view>

#include "context/counters.h"

struct RunContext;

/// Adds one failing action to a failure-description list (strActionDescList):
/// "ACTION-DESC:" + action when the list holds nothing but blanks (which it
/// then replaces), otherwise "#$#ACTION-DESC:" + action appended. Returns true
/// when the list was blank. The list never grows past kTextBound: what does
/// not fit is cut (base/text.h).
bool addActionDesc(std::string& list, std::string_view actionText);

/// True once strActionDescList has been cut at its bound: nothing a parser
/// still collects can reach it, so the parsers stop collecting.
bool failureListFull(const RunContext& ctx);

/// The failure counters of one parse: the counters of the section
/// "FailureDesc_" + the primary script's name, read, raised and written
/// back as one batch (context/counters.h), with the threshold as it stood
/// when the parse began.
struct FailureCounters {
    CounterBatch batch;
    double threshold = 0;   // numeric value of strVTXVariablesTh
};

/// The counters of the current script, with the threshold as it stands now.
FailureCounters beginFailureCounters(RunContext& ctx);

/// Records one failing action of an export (nothing when the list is full):
/// adds its list entry, then, while its counter (read as fncReadINI reads
/// it) is at most the threshold and
/// `detail` is not blank, appends "@#@" + detail and raises the counter by
/// one. A long action text is counted under its bounded key (counterKey). When the counter is above the threshold and `logViolation` is set,
/// and the list had been blank before this action, the threshold line of the
/// text export is logged.
void recordCountedFailure(RunContext& ctx, FailureCounters& counters, const std::string& actionText,
                          const std::string& detail, bool logViolation);

/// Writes every raised counter with one replacement of the file and logs
/// fncWriteINI's success line once per increment of a counter that was
/// written, in order. A key that cannot be stored, or that a full file does
/// not take, is skipped without a line; nothing is logged when the file
/// cannot be written. Releases the INI file's lock. Safe to call twice.
void writeFailureCounters(RunContext& ctx, FailureCounters& counters);
