// The run variables file and the job's random number.
#pragma once

struct RunContext;

/// Draws the job's random number and writes kScripts\KOVAVariables.ini.
void subgeneraterandomNo(RunContext& ctx);
