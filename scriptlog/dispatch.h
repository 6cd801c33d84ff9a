// Script log assembly: the console log and the export dispatch.
#pragma once

#include <string>

struct RunContext;

/// Reads the console log, finds the export and variables file, runs one parser.
bool fncProcessScriptLog(RunContext& ctx, const std::string& consoleLogPath);
