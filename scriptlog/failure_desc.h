// The failure-description list of the script result and the per-action
// counters in ATZThreshold.ini that limit how often a detail is reported.
// Every log parser builds the list here, so the list format and the counter
// rule exist once.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/locks.h"
#include "platform/profile.h"

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

/// The failure counters of one parse. The file's section is read once, at
/// the first counter asked, and each counter is then a hash look-up; the
/// raised ones are written back together by writeFailureCounters, so a file
/// with thousands of failing actions is read once and replaced once instead
/// of once per action. From the first counter read to that write the INI
/// file's lock is held, so another run raising the same counter meanwhile
/// waits and then raises the value written here.
struct FailureCounters {
    std::string file;       // strInstallPath + "Configuration\ATZThreshold.ini"
    std::string section;    // "FailureDesc_" + strExecuteScript
    double threshold = 0;   // numeric value of strVTXVariablesTh
    /// The section as the file held it, opened under the lock.
    std::unique_ptr<ProfileSection> stored;
    /// Counter texts by key, ASCII letters folded: the profile file matches
    /// keys without regard to case, so "Copy" and "COPY" share a counter.
    std::unordered_map<std::string, std::string> known;
    /// One key and its new value per increment, in the order the increments happened.
    std::vector<std::pair<std::string, std::string>> raised;
    /// The INI file's lock, taken at the first counter read.
    std::unique_ptr<HeldLock> lock;
    bool lockTaken = false;
};

/// The counters of the current script, with the threshold as it stands now.
FailureCounters beginFailureCounters(RunContext& ctx);

/// Records one failing action of an export (nothing when the list is full):
/// adds its list entry, then, while its counter (read as fncReadINI reads
/// it) is at most the threshold and
/// `detail` is not blank, appends "@#@" + detail and raises the counter by
/// one. When the counter is above the threshold and `logViolation` is set,
/// and the list had been blank before this action, the threshold line of the
/// text export is logged.
void recordCountedFailure(RunContext& ctx, FailureCounters& counters, const std::string& actionText,
                          const std::string& detail, bool logViolation);

/// Writes every raised counter with one replacement of the file and logs
/// fncWriteINI's success line once per increment of a counter that was
/// written, in order. A key that cannot be stored is skipped without a line;
/// nothing is logged when the file cannot be written. Releases the INI file's
/// lock. Safe to call twice.
void writeFailureCounters(RunContext& ctx, FailureCounters& counters);
