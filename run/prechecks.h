// The checks before any job runs.
// May contain: the run's control flow; no system calls.
#pragma once

struct RunContext;

/// Checks command line, runner, folders and files; a failure sets strFailureDesc.
void subPreChecks(RunContext& ctx);

/// Reads ATCMDLocation from the runner's registry key and checks the file.
bool fncCheckATCMD(RunContext& ctx);
