// Counter keys, the threshold file's size bound and the batched counter write.
// May contain: the run's shared state, its log and its configuration; no system calls.
#include "context/counters.h"

#include <algorithm>

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

// The bounded form of a long name: the first kCounterKeyKept bytes of `text`
// (the name, or its encoded key), its length and a digest of the whole.
std::string longKey(std::string_view text, std::string_view name) {
    return std::string(text.substr(0, kCounterKeyKept)) + "...(" + std::to_string(name.size()) + " bytes #" +
           textDigest(name) + ")";
}

// Whether the threshold file gives `key` back as itself: no "=" (the key
// would end there), no line break or other control character (a TAB inside
// is read back, and such keys are on the machines already), no ";" or "["
// first (a comment, a section), no blank or TAB at either end (the profile
// call strips them), and not the encoded keys' mark first, so that no plain
// key is ever one of theirs.
bool holdableKey(std::string_view key) {
    const auto stripped = [](char c) { return c == ' ' || c == '\t'; };
    if (key.empty() || key.front() == ';' || key.front() == '[' || stripped(key.front()) || stripped(key.back())) {
        return false;
    }
    if (key.starts_with(kEncodedKeyMark)) return false;
    return std::none_of(key.begin(), key.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F || u == '=';
    });
}

}  // namespace

std::string counterKey(std::string_view name) {
    // The key as it has always been (the counters on the machines stay
    // theirs); only one the file cannot hold takes the encoded form.
    std::string key = name.size() <= kCounterKeyBound ? std::string(name) : longKey(name, name);
    if (holdableKey(key)) return key;
    key = std::string(kEncodedKeyMark);
    // Blanks inside stay readable; those at the end are escaped, as the
    // profile call would strip them (the mark protects the first ones).
    const std::size_t blanksAt = name.find_last_not_of(' ') + 1;  // 0 when all are blanks
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || c == '=' || c == '%' || i >= blanksAt) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            key += '%';
            key += kHex[c >> 4];
            key += kHex[c & 0xF];
        } else {
            key += static_cast<char>(c);
        }
    }
    return key.size() <= kCounterKeyBound ? key : longKey(key, name);
}

bool isEncodedKey(std::string_view key) { return key.starts_with(kEncodedKeyMark); }

CounterBatch beginCounters(RunContext& ctx, const std::string& section) {
    CounterBatch batch;
    batch.file = thresholdFile(ctx);
    batch.section = section;
    return batch;
}

const std::string& counterValue(RunContext& ctx, CounterBatch& batch, std::string_view name) {
    const std::string key = counterKey(name);
    if (name.size() > kCounterKeyBound && !batch.longNameSaid) {
        batch.longNameSaid = true;
        WriteLog(ctx, "MSG : Preprocessing: A name of more than " + std::to_string(kCounterKeyBound) +
                          " bytes is counted under its first " + std::to_string(kCounterKeyKept) +
                          " bytes and a digest of the whole in " + batch.file);
    }
    if (isEncodedKey(key) && !batch.encodedNameSaid) {
        batch.encodedNameSaid = true;
        WriteLog(ctx, "MSG : Preprocessing: A name the file cannot hold as a key is counted under its encoded key (" +
                          std::string(kEncodedKeyMark) + "...) in " + batch.file);
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
