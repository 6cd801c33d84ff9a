// The end of a run and the creation of a working folder: the two steps the
// start-up shares with the pre-checks and the job driver, kept apart from
// the entry procedure so that those call down to them, not back up to it.
// May contain: steps of run/ that more than one file of run/ calls.
#pragma once

#include <string>

struct RunContext;

/// Creates a folder found missing. One that another run created in the
/// meantime is no error; any other failure is raised.
void createFolderUnlessMade(RunContext& ctx, const std::string& path);

/// Clean-up, last log line, release of the log; ends the run by throwing EndOfRun.
[[noreturn]] void subEndRun(RunContext& ctx);

/// Ends a run that has no log yet (no installation found): nothing to clean
/// up or write, so it only throws EndOfRun.
[[noreturn]] void endRunWithoutTrace();
