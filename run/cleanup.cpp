// Clean-up of the working folders: script side files after each job, old
// script logs and runner logs at the end of the run.
// May contain: the run's control flow; no system calls.
#include "run/cleanup.h"

#include <algorithm>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "platform/temp_names.h"

namespace {

// Deletes the .log3 and .atpinf files among the first `maxExamined` files of
// the folder; each failure is logged and the scan goes on. The limit counts
// files examined, deleted or not, so only those first few are listed in order.
void deleteSideFiles(RunContext& ctx, const std::string& folder, std::size_t maxExamined) {
    auto logError = [&](const RunError& e) {
        WriteLog(ctx, "ERR : Preprocessing : in subDeleteDownloadedFiles. " + std::to_string(e.number) + "::" +
                          e.description);
    };
    std::vector<FileEntry> files;
    FileQuery firstFew;
    firstFew.limit = maxExamined;
    guarded([&] { files = ctx.objFSO->GetFiles(folder, firstFew); }, logError);
    // Runs on after a listing that failed: it then has no file to look at.
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
    }
}

// Deletes, forcing, every file of the folder whose name `byName` accepts and
// whose age in calendar days `byAge` accepts. The names are sifted before any
// file is examined, and only the files to delete are put in order, so a
// folder of many recent files costs one look at each. Nothing that fails here
// is worth a log line or stopping for.
void deleteOldFiles(RunContext& ctx, const std::string& folder, std::function<bool(std::string_view)> byName,
                    std::function<bool(std::string_view name, std::int64_t age)> byAge) {
    const std::int64_t today = ctx.sys.clock->now().dayNumber();
    FileQuery old;
    old.name = std::move(byName);
    // Calendar-day boundaries between the creation date and today; times of day do not count.
    old.entry = [&](const FileEntry& file) { return byAge(file.name, today - file.dateCreated.dayNumber()); };
    std::vector<FileEntry> files;
    ignoreErrors([&] { files = ctx.objFSO->GetFiles(folder, old); });
    // One write's worth of lines goes out, then those files are deleted: a
    // folder of many old files costs one log write per batch, not per file.
    std::vector<std::string> lines;
    for (std::size_t first = 0; first < files.size(); first += kLogLinesPerWrite) {
        const std::size_t end = std::min(files.size(), first + kLogLinesPerWrite);
        lines.clear();
        for (std::size_t i = first; i < end; ++i) lines.push_back("MSG : Deleting file " + files[i].path);
        WriteLogLines(ctx, lines);
        for (std::size_t i = first; i < end; ++i) ignoreErrors([&] { ctx.objFSO->DeleteFile(files[i].path, true); });
    }
}

// A temporary file of this program that has waited past one day belongs to a
// run that died before renaming or deleting it. Two calendar-day boundaries
// mean at least a whole day: no running drop or INI write is that slow.
bool leftBehind(std::string_view name, std::int64_t age) { return age > 1 && isTemporaryName(name); }

}  // namespace

void subDeleteDownloadedFiles(RunContext& ctx) {
    deleteSideFiles(ctx, GetSpecialfolder(ctx) + "\\" + agent::kExMonScriptsFolder, 31);
    deleteSideFiles(ctx, processedScriptsFolder(ctx), 21);
}

void subdeletepreviousfiles(RunContext& ctx) {
    WriteLog(ctx, "MSG : Preprocessing : in subdeletepreviousfiles");
    deleteOldFiles(ctx, logsFolder(ctx), nullptr,
                   [](std::string_view name, std::int64_t age) { return age > 2 || leftBehind(name, age); });
    // Only the folder itself: GetFiles does not descend, so the run logs in kHVRLog stay.
    deleteOldFiles(
        ctx, ctx.strInstallPath + agent::kApplicationLogFolder,
        [](std::string_view name) { return containsNoCase(name, "kTATCMD_"); },
        [](std::string_view, std::int64_t age) { return age > 2; });
    // Where this program writes through temporary names: drops, and the INI
    // files it changes. Nothing else there is touched, and no ".xml" is ever
    // a temporary name.
    for (const char* folder : {agent::kDropFolder, agent::kConfigurationFolder, agent::kScriptsFolder}) {
        deleteOldFiles(ctx, ctx.strInstallPath + folder, isTemporaryName, leftBehind);
    }
}
