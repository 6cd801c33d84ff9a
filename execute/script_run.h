// Running one job's primary script through the runner.
#pragma once

struct RunContext;

/// Names the console log, builds the argument string, launches the runner
/// (interactively or directly) and hands the console log to the log assembly.
void subExecuteScript(RunContext& ctx);
