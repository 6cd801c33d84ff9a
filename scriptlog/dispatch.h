// Script log assembly: the console log and the export dispatch.
// May contain: the reading of a script's logs; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Reads the console log, finds the export and variables file, runs one parser.
/// `variablesFile` gets the variables file the log names, and is left as it
/// was when the log names none.
bool fncProcessScriptLog(RunContext& ctx, const std::string& consoleLogPath, std::string& variablesFile);
