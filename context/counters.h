// The counters of ATZThreshold.ini that a script's output names: the
// variable counters and the failure counters of the log parsers. Both go
// through here, so the key rule, the file's size bound and the batched write
// exist once.
// May contain: the run's shared state, its log and its configuration; no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/locks.h"
#include "platform/profile.h"

struct RunContext;

/// The longest name that is a counter key as it is.
inline constexpr std::size_t kCounterKeyBound = 255;
/// How much of a longer name its key keeps.
inline constexpr std::size_t kCounterKeyKept = 200;
/// The threshold file never grows past this size by a new key.
inline constexpr std::uint64_t kCounterFileBound = 8 * 1024 * 1024;

/// What every encoded key begins with; no key of a plain name does.
inline constexpr std::string_view kEncodedKeyMark = "~%";

/// The key a name is counted under: the name itself when it has at most
/// kCounterKeyBound bytes; otherwise its first kCounterKeyKept bytes, then
/// "...(" + its length + " bytes #" + textDigest of the whole + ")", which
/// stays within kCounterKeyBound and tells distinct names apart. When that
/// key is one the file cannot give back as itself (an "=", a line break or
/// a control character other than TAB, ";" or "[" first, a blank or TAB at
/// either end, or kEncodedKeyMark first), the name is encoded instead:
/// kEncodedKeyMark, then the name with each "=", "%", control character and
/// blank at its end as "%" and two hexadecimal digits ("x=y" gives
/// "~%x%3Dy"), bounded as above when longer. Distinct names keep distinct keys, plain or encoded, up to a
/// forged digest.
std::string counterKey(std::string_view name);

/// True for a key counterKey encoded.
bool isEncodedKey(std::string_view key);

/// The counters of one section for one step (one variables file, one export
/// parse). A script may name thousands of counters in one step: the section
/// is read once, at the first counter asked, each counter is then a hash
/// look-up, and the raised ones are written together by writeCounters, one
/// replacement of the file instead of one per counter. From the first counter
/// read to the last write the file's lock is held, so another run raising the
/// same counter meanwhile raises the value written here.
struct CounterBatch {
    std::string file;     // strInstallPath + "Configuration\ATZThreshold.ini"
    std::string section;
    std::unique_ptr<HeldLock> lock;
    bool lockTaken = false;
    /// The section as the file held it, opened under the lock.
    std::unique_ptr<ProfileSection> stored;
    /// Counter texts as they now stand, by key with ASCII letters folded (the
    /// file matches keys without regard to case).
    std::unordered_map<std::string, std::string> known;
    /// Folded keys the file holds: their counters count even in a full file.
    std::unordered_set<std::string> present;
    /// One key and its new value per raise, in order, not yet written.
    std::vector<std::pair<std::string, std::string>> raised;
    /// Whether this step has said that a long name is counted under its bounded key.
    bool longNameSaid = false;
    /// Whether it has said that a name is counted under an encoded key.
    bool encodedNameSaid = false;
};

CounterBatch beginCounters(RunContext& ctx, const std::string& section);

/// The counter text of `name` (read as fncReadINI reads it; "" when missing),
/// as a reference the caller may read; counterKey bounds the key, and the
/// first long name of the step is said in the log.
const std::string& counterValue(RunContext& ctx, CounterBatch& batch, std::string_view name);

/// Sets the counter of `name` to `value`, to be written by writeCounters.
/// Returns the raise's place among those the next writeCounters writes.
std::size_t raiseCounter(CounterBatch& batch, std::string_view name, const std::string& value);

/// Writes the raises not yet written with one replacement of the file and
/// returns, per raise in order, whether it was written: a key that cannot be
/// stored, a file that cannot be written, or a key the file does not hold yet
/// while it has reached kCounterFileBound (one "ERR :" line a run names the
/// file) is not. Keeps the lock; releaseCounters lets it go.
std::vector<bool> writeCounters(RunContext& ctx, CounterBatch& batch);

/// Lets the file's lock go.
void releaseCounters(CounterBatch& batch);
