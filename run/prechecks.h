// The checks before any job runs.
#pragma once

struct RunContext;

/// Checks command line, runner, folders and files; a failure sets strFailureDesc.
void subPreChecks(RunContext& ctx);
