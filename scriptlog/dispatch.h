// Script log assembly: the console log, the export dispatch and the text export parser.
#pragma once

#include <string>

struct RunContext;

/// Reads the console log, finds the export and variables file, runs one parser.
bool fncProcessScriptLog(RunContext& ctx, const std::string& consoleLogPath);

/// Parser of the plain-text export. Always returns false.
bool fncEditScriptlog(RunContext& ctx, const std::string& exportPath, const std::string& mode);
