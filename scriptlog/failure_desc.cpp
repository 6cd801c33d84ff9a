// Failure-description list and failure counters shared by the log parsers.
#include "scriptlog/failure_desc.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"

bool addActionDesc(std::string& list, std::string_view actionText) {
    // "Blank" is asked once per failing action; trimming a copy of a list
    // that grows with every action would make a long export quadratic.
    const bool blank = list.find_first_not_of(' ') == std::string::npos;
    if (blank) list.assign("ACTION-DESC:");
    else appendBounded(list, "#$#ACTION-DESC:");
    appendBounded(list, actionText);
    return blank;
}

bool failureListFull(const RunContext& ctx) { return isCut(ctx.strActionDescList); }

FailureCounters beginFailureCounters(RunContext& ctx) {
    FailureCounters counters;
    counters.file = thresholdFile(ctx);
    counters.section = "FailureDesc_" + ctx.strExecuteScript;
    counters.threshold = numericValue(ctx.strVTXVariablesTh);
    return counters;
}

namespace {

std::string& counterText(RunContext& ctx, FailureCounters& counters, const std::string& key) {
    const std::string folded = lowerAscii(key);
    auto it = counters.known.find(folded);
    if (it == counters.known.end()) {
        if (!counters.lockTaken) {
            counters.lockTaken = true;
            counters.lock = lockIniForUpdate(ctx, counters.file);
        }
        if (!counters.stored) counters.stored = ctx.sys.profile->OpenSection(counters.section, counters.file);
        it = counters.known.emplace(folded, counters.stored->GetString(key, "", kReadINIBuffer)).first;
    }
    return it->second;
}

}  // namespace

void recordCountedFailure(RunContext& ctx, FailureCounters& counters, const std::string& actionText,
                          const std::string& detail, bool logViolation) {
    // A full list takes nothing more, and a detail that is not reported is not counted.
    if (failureListFull(ctx)) return;
    const bool wasBlank = addActionDesc(ctx.strActionDescList, actionText);
    std::string& text = counterText(ctx, counters, actionText);
    const double count = numericValue(text);
    if (count > counters.threshold) {
        if (logViolation && wasBlank) {
            WriteLog(ctx, "MSG : Preprocessing: 'Failure desc' Threshold violated. Current failure threshold is " +
                              numberText(count));
        }
        return;
    }
    if (trimBlanks(detail).empty()) return;
    appendBounded(ctx.strActionDescList, "@#@");
    appendBounded(ctx.strActionDescList, detail);
    text = numberText(count + 1);
    counters.raised.emplace_back(actionText, text);
}

void writeFailureCounters(RunContext& ctx, FailureCounters& counters) {
    // Declared first, so the lock goes only after the counters are written.
    const std::unique_ptr<HeldLock> lock = std::move(counters.lock);
    if (counters.raised.empty()) return;
    std::vector<std::pair<std::string, std::string>> raised;
    raised.swap(counters.raised);
    // Several raises of one key end in its last value; one entry per key (at
    // the place of its first raise) gives the file the same lines.
    std::vector<ProfileEntry> entries;
    std::vector<std::size_t> entryOf;  // per raise, its key's entry
    entryOf.reserve(raised.size());
    std::unordered_map<std::string, std::size_t> slot;
    for (const auto& [key, value] : raised) {
        const auto [it, fresh] = slot.emplace(lowerAscii(key), entries.size());
        if (fresh) entries.push_back(ProfileEntry{counters.section, key, value});
        else entries[it->second] = ProfileEntry{counters.section, key, value};
        entryOf.push_back(it->second);
    }
    std::vector<bool> written;
    ignoreErrors([&] { written = ctx.sys.profile->WriteStrings(entries, counters.file); });
    if (written.size() != entries.size()) return;
    // A key that could not be stored costs only its own lines.
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < raised.size(); ++i) {
        if (written[entryOf[i]]) lines.push_back(iniWrittenLine(raised[i].second, raised[i].first, counters.file));
    }
    WriteLogLines(ctx, lines);
}
