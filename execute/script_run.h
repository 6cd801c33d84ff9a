// Running one job's primary script through the runner.
#pragma once

#include <string>

struct RunContext;

/// Names the console log, builds the argument string, launches the runner
/// (interactively or directly) and hands the console log to the log assembly.
/// Returns the variables file the console log names; empty when none.
std::string subExecuteScript(RunContext& ctx);
