// Clean-up of the working folders: script side files after each job, old
// script logs and runner logs at the end of the run.
#include "prepare/cleanup.h"

#include "platform/errors.h"
#include "platform/filesystem.h"
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

// Deletes, forcing, every file of the folder older than two days that `wanted`
// accepts. Nothing that fails here is worth a log line or stopping for.
template <class Wanted>
void deleteOldFiles(RunContext& ctx, const std::string& folder, Wanted wanted) {
    std::vector<FileEntry> files;
    ignoreErrors([&] { files = ctx.objFSO->GetFiles(folder); });
    const LocalTime today = ctx.sys.clock->now();
    for (const FileEntry& file : files) {
        ignoreErrors([&] {
            if (ageInDays(file.dateCreated, today) > 2 && wanted(file)) {
                WriteLog(ctx, "MSG : Deleting file " + file.path);
                ctx.objFSO->DeleteFile(file.path, true);
            }
        });
    }
}

}  // namespace

void subDeleteDownloadedFiles(RunContext& ctx) {
    deleteSideFiles(ctx, GetSpecialfolder(ctx) + "\\KOVAExMonScripts", 31);
    deleteSideFiles(ctx, ctx.strInstallPath + "kHVR\\Tellix\\" + ctx.strActionName + "\\ProcessedScripts", 21);
}

void subdeletepreviousfiles(RunContext& ctx) {
    WriteLog(ctx, "MSG : Preprocessing : in subdeletepreviousfiles");
    deleteOldFiles(ctx, ctx.strInstallPath + "AutomiseLogs", [](const FileEntry&) { return true; });
    // Only the folder itself: GetFiles does not descend, so the run logs in kHVRLog stay.
    deleteOldFiles(ctx, ctx.strInstallPath + "ApplicationLog",
                   [](const FileEntry& file) { return containsNoCase(file.name, "kTATCMD_"); });
}
