// The run variables file and the job's random number.
#pragma once

#include <string>

struct RunContext;

/// Draws the job's random number and writes kScripts\KOVAVariables.ini.
/// Returns the random number.
std::string subgeneraterandomNo(RunContext& ctx);
