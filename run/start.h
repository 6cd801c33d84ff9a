// Start-up and shutdown of one run.
// May contain: the run's control flow; no system calls.
#pragma once

#include <string>

struct RunContext;

/// The entry procedure (Sub Main): the whole run, from the start stamp to subEndRun.
void Main(RunContext& ctx);

/// Installation path, run log, working folders, registration id, version, command line.
void subInitialise(RunContext& ctx);

/// Creates a folder found missing. One that another run created in the
/// meantime is no error; any other failure is raised.
void createFolderUnlessMade(RunContext& ctx, const std::string& path);

/// Clean-up, last log line, release of the log; ends the run by throwing EndOfRun.
[[noreturn]] void subEndRun(RunContext& ctx);
