// The machine's job lock and the record its holder leaves for the waiters.
// May contain: the lock's wait and the record its holder leaves; no step of a job.
#include "run/job_lock.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/clock.h"
#include "platform/locks.h"

namespace {

// The job lock. kScripts\KOVAVariables.ini is one file for the whole machine,
// and the export name it hands the script repeats from run to run (one-second
// stamp, unseeded random part), as may the name of the script's variables
// file: two jobs of overlapping runs would parse, post or delete each other's
// files. So from writing the run variables file until the variables are
// posted, one job of the machine holds the lock agent::kJobLockFile and the
// others wait.
//
// Beyond the runner's own time limit, a holder needs time to start it, end
// it, and read and post what it left.
constexpr std::int64_t kJobLockGraceMs = 120000;
// How long a holder is given whose deadline cannot be read (yet).
constexpr std::int64_t kUnknownHolderMs = 120000;
// A record read just before a new holder writes its own may be an earlier
// holder's, past its time: it never cuts the wait shorter than this.
constexpr std::int64_t kRecordSettleMs = 5000;
constexpr std::uint32_t kJobLockPollMs = 100;

// The time by which this job will have let the lock go, as it tells the
// waiters: its time limit (as the launcher will take it) and the grace, on
// the boot clock, which no step of the wall clock moves.
std::int64_t jobDeadline(RunContext& ctx) {
    const double limit = std::clamp(numericValue(ctx.job.strProcessTime), 0.0, 2147483647.0);
    return ctx.sys.clock->bootMs() + static_cast<std::int64_t>(limit) + kJobLockGraceMs;
}

// The record a holder leaves for the waiters: its deadline, the moment it
// wrote it (both on its boot clock), and the boot they belong to.
std::string jobLockRecord(RunContext& ctx) {
    Clock& clock = *ctx.sys.clock;
    return std::to_string(jobDeadline(ctx)) + " " + std::to_string(clock.bootMs()) + " " + clock.bootId();
}

// The deadline a record gives, on this process's boot clock; nothing when
// the record cannot be read or belongs to another boot: it was left before
// the machine restarted, and the holder has not written its own yet (or
// could not), so its times mean nothing here. A record written "later" than
// this boot clock now stands is of another boot too.
std::optional<std::int64_t> holderDeadline(Clock& clock, const std::string& record) {
    const std::vector<std::string> fields = splitText(trimBlanks(record), " ");
    if (fields.size() < 2 || fields.size() > 3) return std::nullopt;
    const std::string boot = fields.size() == 3 ? fields[2] : "";
    const double deadline = numericValue(fields[0]);
    const double written = numericValue(fields[1]);
    if (boot != clock.bootId() || deadline <= 0 || written <= 0) return std::nullopt;
    if (written > static_cast<double>(clock.bootMs())) return std::nullopt;
    return static_cast<std::int64_t>(deadline);
}

}  // namespace

// Waits for the job lock no longer than the holder's own deadline allows;
// the holder may change while waiting, and each holder's deadline counts. A
// holder that died has released the lock through the system. When the lock
// cannot be had the job goes on without it, as a run alone would: silently
// when no lock file can be made (no run can have the lock then) or the
// holder overran its deadline; with an error line when the lock is refused
// to this program (on Windows, its name taken by an object another user
// made), since then nothing keeps the jobs of two runs apart. The wait
// itself leaves no trace in the run log.
std::unique_ptr<HeldLock> takeJobLock(RunContext& ctx) {
    Locks& locks = *ctx.sys.locks;
    Clock& clock = *ctx.sys.clock;
    const std::string lockFile = ctx.strInstallPath + agent::kJobLockFile;
    std::int64_t giveUpAt = clock.bootMs() + kUnknownHolderMs;
    std::string seen;
    try {
        for (;;) {
            if (auto held = locks.TryLockMachine(lockFile, jobLockRecord(ctx))) return held;
            const std::string record = locks.MachineLockRecord(lockFile);
            if (record != seen) {
                seen = record;
                if (const auto deadline = holderDeadline(clock, record)) {
                    giveUpAt = std::max(*deadline, clock.bootMs() + kRecordSettleMs);
                }
            }
            if (clock.bootMs() >= giveUpAt) return nullptr;
            clock.sleepMs(kJobLockPollMs);
        }
    } catch (const RunError& e) {
        if (e.number != err::PathNotFound) {
            WriteLog(ctx, "ERR : Preprocessing: The job lock " + lockFile + " cannot be taken (" + e.description +
                              "); the job goes on without it");
        }
    }
    return nullptr;
}

