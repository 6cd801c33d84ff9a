// Running one job's primary script through the runner.
// May contain: the script's run; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Names the console log, builds the argument string, launches the runner
/// (interactively or directly) and hands the console log to the log assembly.
/// `strRandomNo` is the job's random number, part of the console log's name.
/// Returns the variables file the console log names; empty when none.
std::string subExecuteScript(RunContext& ctx, const std::string& strRandomNo);
