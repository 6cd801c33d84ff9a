// The job's random number and the run variables file handed to the script.
// May contain: a job's preparation; no system calls.
#include "prepare/run_variables.h"

#include <algorithm>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/atcmd.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/clock.h"

namespace {

// The old runtime's generator: 24-bit linear congruential, never seeded, so
// every run draws the same sequence and the n-th job always gets the same text.
float nextRandom(RunContext& ctx) {
    constexpr std::uint64_t kMultiplier = 1140671485;
    constexpr std::uint64_t kIncrement = 12820163;
    constexpr std::uint64_t kModulus = std::uint64_t{1} << 24;
    ctx.rndSeed = static_cast<std::uint32_t>((ctx.rndSeed * kMultiplier + kIncrement) % kModulus);
    return static_cast<float>(ctx.rndSeed) / static_cast<float>(kModulus);
}

}  // namespace

std::string subgeneraterandomNo(RunContext& ctx) {
    std::string strRandomNo;
    guarded(
        [&] {
            // Three draws per job, the last one kept.
            for (int draw = 0; draw < 3; ++draw) {
                std::string text = singleText(nextRandom(ctx));
                text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
                strRandomNo = text;
            }
            const std::string name = "KOVAExportLog_" + formatPicture(ctx.sys.clock->now(), "mmddyyyyhhnnss") +
                                     "_" + strRandomNo + ".xml";
            fncWriteINI(ctx, std::string(atcmd::kRunVariablesSection), std::string(atcmd::kExportLogNameKey), name,
                        ctx.strInstallPath + agent::kRunVariablesFile);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in subgeneraterandomNo. " + std::to_string(e.number) + "::" + e.description);
        });
    return strRandomNo;
}
