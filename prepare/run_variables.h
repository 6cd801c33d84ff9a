// The run variables file and the job's random number.
// May contain: a job's preparation; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Draws the job's random number and writes kScripts\KOVAVariables.ini.
/// Returns the random number.
std::string subgeneraterandomNo(RunContext& ctx);
