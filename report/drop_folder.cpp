// The drop folder (HVRPostLogs): records that the agent's forwarding
// component takes and delivers later.
// May contain: the records and their transport; no system calls.
#include "report/drop_folder.h"

#include <algorithm>
#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/host.h"
#include "platform/temp_names.h"

namespace {

constexpr const char* kDropStampPicture = "MMDDYYYYHHNNSSS";

// Names that a record dropped under its own name takes when that is taken:
// the name with "_1", "_2", ... before its ending ("vars.xml" gives "vars_1.xml").
constexpr int kMaxNumberedNames = 100000;

std::string numberedName(const std::string& name, int n) {
    const auto dot = name.find_last_of('.');
    const std::string suffix = "_" + std::to_string(n);
    return dot == std::string::npos || dot == 0 ? name + suffix : name.substr(0, dot) + suffix + name.substr(dot);
}

std::string dropName(RunContext& ctx, const std::string& recordName, const std::string& stamp) {
    return recordName + "_N_" + ctx.strRegID + "_" + stamp + ".xml";
}

// A drop name not yet taken in HVRPostLogs. A record still waiting there under
// the same name would otherwise be replaced and lost, so the drop waits for
// the next second and takes its stamp. This ends: every wait moves the stamp
// on, and only the records still waiting can be in the way.
std::string freeDropName(RunContext& ctx, const std::string& recordName) {
    const std::string folder = dropFolder(ctx) + "\\";
    LocalTime now = ctx.sys.clock->now();
    for (;;) {
        const std::string stamp = formatPicture(now, kDropStampPicture);
        const std::string name = dropName(ctx, recordName, stamp);
        if (!ctx.objFSO->FileExists(folder + name)) return name;
        // The stamp has whole seconds: sleep to the start of the next one,
        // and a little more should the clock not have turned yet.
        do {
            ctx.sys.clock->sleepMs(static_cast<std::uint32_t>(1000 - std::clamp(now.millisecond, 0, 999)));
            now = ctx.sys.clock->now();
        } while (formatPicture(now, kDropStampPicture) == stamp);
    }
}

}  // namespace

void subDropRecord(RunContext& ctx, const std::string& recordName, const std::string& xml, const std::string& label) {
    for (;;) {
        const std::string name = freeDropName(ctx, recordName);
        std::string partial;
        try {
            partial = placeIntoPostLogs(ctx, name, xml + "\r\n");
        } catch (const RunError& e) {
            // Another writer took the name since it was found free: the next
            // free name rather than replace that record.
            if (e.number == err::FileExists) continue;
            throw;
        }
        // The partial file's name went with the rename.
        WriteLog(ctx, "MSG : Preprocessing: Deleting " + label + " File " + partial);
        return;
    }
}

void dropUnderOwnName(RunContext& ctx, const std::string& own, const std::string& text) {
    const std::string folder = dropFolder(ctx) + "\\";
    for (int n = 0; n <= kMaxNumberedNames; ++n) {
        const std::string name = n == 0 ? own : numberedName(own, n);
        if (ctx.objFSO->FileExists(folder + name)) continue;
        try {
            placeIntoPostLogs(ctx, name, text);
            return;
        } catch (const RunError& e) {
            if (e.number != err::FileExists) throw;
        }
    }
    const RunError taken = runError(err::FileExists);
    logDropLost(ctx, own, taken);
    throw taken;
}

std::string placeIntoPostLogs(RunContext& ctx, const std::string& fileName, const std::string& text) {
    const std::string folder = dropFolder(ctx) + "\\";
    // The partial name is this process's own, so no other run writes into it.
    const std::string partial = folder + temporaryNameOf(fileName, ctx.sys.host->ProcessId());
    try {
        ctx.objFSO->PlaceNewFile(partial, folder + fileName, text);
    } catch (const RunError& e) {
        if (e.number != err::FileExists) logDropLost(ctx, fileName, e);
        throw;
    }
    WriteLog(ctx, "MSG : Preprocessing: Copying " + partial + " to " + folder + fileName);
    return partial;
}

void logDropLost(RunContext& ctx, const std::string& fileName, const RunError& error) {
    WriteLog(ctx, "ERR : Preprocessing: " + fileName + " could not be dropped into " + dropFolder(ctx) + " :: " +
                      std::to_string(error.number) + " " + error.description + "; the record is lost");
}
