// The end of a run and the creation of a working folder.
// May contain: steps of run/ that more than one file of run/ calls.
#include "run/shared_steps.h"

#include <string>

#include "base/errors.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "run/cleanup.h"

void createFolderUnlessMade(RunContext& ctx, const std::string& path) {
    try {
        ctx.objFSO->CreateFolder(path);
    } catch (const RunError& e) {
        // Another run may have made it since it was found missing.
        if (e.number != err::FileExists || !ctx.objFSO->FolderExists(path)) throw;
    }
}

void subEndRun(RunContext& ctx) {
    ignoreErrors([&] { subdeletepreviousfiles(ctx); });
    WriteLog(ctx, "MSG : Preprocessing: Application Ended");
    // Releasing the stream closes the run log. The file-system object is
    // borrowed from the platform, so there is nothing of it to release here.
    ignoreErrors([&] { ctx.objLogFile.reset(); });
    throw EndOfRun{};
}

void endRunWithoutTrace() { throw EndOfRun{}; }
