// Clean-up of the working folders: script side files after each job, old
// script logs and runner logs at the end of the run.
#include "prepare/cleanup.h"

#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/temp_names.h"
#include "run/config.h"
#include "run/run_context.h"
#include "run/run_log.h"
#include "run/text.h"

namespace {

// Deletes the .log3 and .atpinf files among the first `maxExamined` files of
// the folder; each failure is logged and the scan goes on.
void deleteSideFiles(RunContext& ctx, const std::string& folder, int maxExamined) {
    auto logError = [&](const RunError& e) {
        WriteLog(ctx, "ERR : Preprocessing : in subDeleteDownloadedFiles. " + std::to_string(e.number) + "::" +
                          e.description);
    };
    std::vector<FileEntry> files;
    guarded([&] { files = ctx.objFSO->GetFiles(folder); }, logError);
    int count = 0;
    for (const FileEntry& file : files) {
        guarded(
            [&] {
                const std::string name = lowerAscii(trimBlanks(file.name));
                if (rightText(name, 5) == ".log3" || rightText(name, 7) == ".atpinf") {
                    WriteLog(ctx, "MSG : Preprocessing : Deleting file :: " + file.path);
                    ctx.objFSO->DeleteFile(file.path, false);
                }
            },
            logError);
        // The limit counts files examined, deleted or not.
        if (++count >= maxExamined) break;
    }
}

// Calendar-day boundaries between the creation date and today; times of day do not count.
std::int64_t ageInDays(const LocalTime& created, const LocalTime& today) {
    return today.dayNumber() - created.dayNumber();
}

// Deletes, forcing, every file of the folder that `wanted` accepts at its
// age. Nothing that fails here is worth a log line or stopping for.
template <class Wanted>
void deleteOldFiles(RunContext& ctx, const std::string& folder, Wanted wanted) {
    std::vector<FileEntry> files;
    ignoreErrors([&] { files = ctx.objFSO->GetFiles(folder); });
    const LocalTime today = ctx.sys.clock->now();
    for (const FileEntry& file : files) {
        ignoreErrors([&] {
            if (wanted(file, ageInDays(file.dateCreated, today))) {
                WriteLog(ctx, "MSG : Deleting file " + file.path);
                ctx.objFSO->DeleteFile(file.path, true);
            }
        });
    }
}

// A temporary file of this program that has waited past one day belongs to a
// run that died before renaming or deleting it. Two calendar-day boundaries
// mean at least a whole day: no running drop or INI write is that slow.
bool leftBehind(const FileEntry& file, std::int64_t age) { return age > 1 && isTemporaryName(file.name); }

}  // namespace

void subDeleteDownloadedFiles(RunContext& ctx) {
    deleteSideFiles(ctx, GetSpecialfolder(ctx) + "\\KOVAExMonScripts", 31);
    deleteSideFiles(ctx, ctx.strInstallPath + "kHVR\\Tellix\\" + ctx.strActionName + "\\ProcessedScripts", 21);
}

void subdeletepreviousfiles(RunContext& ctx) {
    WriteLog(ctx, "MSG : Preprocessing : in subdeletepreviousfiles");
    deleteOldFiles(ctx, ctx.strInstallPath + "AutomiseLogs",
                   [](const FileEntry& file, std::int64_t age) { return age > 2 || leftBehind(file, age); });
    // Only the folder itself: GetFiles does not descend, so the run logs in kHVRLog stay.
    deleteOldFiles(ctx, ctx.strInstallPath + "ApplicationLog", [](const FileEntry& file, std::int64_t age) {
        return age > 2 && containsNoCase(file.name, "kTATCMD_");
    });
    // Where this program writes through temporary names: drops, and the INI
    // files it changes. Nothing else there is touched, and no ".xml" is ever
    // a temporary name.
    for (const char* folder : {"HVRPostLogs", "Configuration", "kScripts"}) {
        deleteOldFiles(ctx, ctx.strInstallPath + folder, leftBehind);
    }
}
