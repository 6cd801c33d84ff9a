// Counter keys, the threshold file's size bound and the batched counter write.
// May contain: the run's shared state, its log and its configuration; no system calls.
#include "context/counters.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"

namespace {

// What a look-up gives for a key the file does not hold: no counter reads
// so, and it has no blank the profile call would strip from a default.
const std::string kMissing = "\x01" "absent" "\x01";

}  // namespace

std::string counterKey(std::string_view name) {
    if (name.size() <= kCounterKeyBound) return std::string(name);
    return std::string(name.substr(0, kCounterKeyKept)) + "...(" + std::to_string(name.size()) + " bytes #" +
           textDigest(name) + ")";
}

CounterBatch beginCounters(RunContext& ctx, const std::string& section) {
    CounterBatch batch;
    batch.file = thresholdFile(ctx);
    batch.section = section;
    return batch;
}

const std::string& counterValue(RunContext& ctx, CounterBatch& batch, std::string_view name) {
    const std::string key = counterKey(name);
    if (key.size() != name.size() && !batch.longNameSaid) {
        batch.longNameSaid = true;
        WriteLog(ctx, "MSG : Preprocessing: A name of more than " + std::to_string(kCounterKeyBound) +
                          " bytes is counted under its first " + std::to_string(kCounterKeyKept) +
                          " bytes and a digest of the whole in " + batch.file);
    }
    const std::string folded = lowerAscii(key);
    auto it = batch.known.find(folded);
    if (it == batch.known.end()) {
        if (!batch.lockTaken) {
            batch.lockTaken = true;
            batch.lock = lockIniForUpdate(ctx, batch.file);
        }
        if (!batch.stored) batch.stored = ctx.sys.profile->OpenSection(batch.section, batch.file);
        std::string value = batch.stored->GetString(key, kMissing, kReadINIBuffer);
        if (value == kMissing) {
            value.clear();
        } else {
            batch.present.insert(folded);
        }
        it = batch.known.emplace(folded, std::move(value)).first;
    }
    return it->second;
}

std::size_t raiseCounter(CounterBatch& batch, std::string_view name, const std::string& value) {
    std::string key = counterKey(name);
    batch.known[lowerAscii(key)] = value;
    batch.raised.emplace_back(std::move(key), value);
    return batch.raised.size() - 1;
}

std::vector<bool> writeCounters(RunContext& ctx, CounterBatch& batch) {
    std::vector<std::pair<std::string, std::string>> raised;
    raised.swap(batch.raised);
    std::vector<bool> result(raised.size(), false);
    if (raised.empty()) return result;

    // Several raises of one key end in its last value; one entry per key (at
    // the place of its first raise) gives the file the same lines.
    std::vector<ProfileEntry> entries;
    std::vector<std::string> folded;
    std::vector<std::size_t> entryOf;  // per raise, its key's entry
    entryOf.reserve(raised.size());
    std::unordered_map<std::string, std::size_t> slot;
    for (const auto& [key, value] : raised) {
        std::string fold = lowerAscii(key);
        const auto [it, fresh] = slot.emplace(fold, entries.size());
        if (fresh) {
            entries.push_back(ProfileEntry{batch.section, key, value});
            folded.push_back(std::move(fold));
        } else {
            entries[it->second].value = value;
        }
        entryOf.push_back(it->second);
    }

    // The file's size bound: a key the file does not hold yet is added only
    // while the file stays within it. The counters already there still count
    // (each grows by a digit now and then, and stops at the threshold).
    std::uint64_t size = 0;
    ignoreErrors([&] { size = ctx.objFSO->GetFileSize(batch.file); });
    std::uint64_t added = batch.section.size() + 4;  // "[section]" CR LF, should the section be new
    std::vector<ProfileEntry> admitted;
    std::vector<std::size_t> admittedOf(entries.size(), static_cast<std::size_t>(-1));
    bool refused = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!batch.present.count(folded[i])) {
            const std::uint64_t line = entries[i].key.size() + 1 + entries[i].value.size() + 2;
            if (size + added + line > kCounterFileBound) {
                refused = true;
                continue;
            }
            added += line;
        }
        admittedOf[i] = admitted.size();
        admitted.push_back(entries[i]);
    }
    if (refused && !ctx.blnCounterFileFull) {
        ctx.blnCounterFileFull = true;
        WriteLog(ctx, "ERR : Preprocessing: " + batch.file + " has reached " +
                          std::to_string(kCounterFileBound / (1024 * 1024)) +
                          " MiB: new counters are not added to it, those it holds still count");
    }

    std::vector<bool> written;
    if (!admitted.empty()) ignoreErrors([&] { written = ctx.sys.profile->WriteStrings(admitted, batch.file); });
    if (written.size() != admitted.size()) return result;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (admittedOf[i] != static_cast<std::size_t>(-1) && written[admittedOf[i]]) batch.present.insert(folded[i]);
    }
    for (std::size_t r = 0; r < raised.size(); ++r) {
        const std::size_t at = admittedOf[entryOf[r]];
        result[r] = at != static_cast<std::size_t>(-1) && written[at];
    }
    return result;
}

void releaseCounters(CounterBatch& batch) { batch.lock.reset(); }
