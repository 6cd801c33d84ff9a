// Start-up of one run: the entry procedure and the initialisation (the end
// of the run is in shared_steps.h, where the other steps of run/ reach it).
// May contain: the run's control flow; no system calls.
#pragma once

struct RunContext;

/// The entry procedure (Sub Main): the whole run, from the start stamp to subEndRun.
void Main(RunContext& ctx);

/// Installation path, run log, working folders, registration id, version, command line.
void subInitialise(RunContext& ctx);
