// Script variables and their thresholds (Configuration\ATZThreshold.ini).
// May contain: the records and their transport; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Reads the thresholds and the date of the threshold file, defaulting them.
bool fncVerifyVariablethreshold(RunContext& ctx);

/// True when the variable is over its per-script limit.
bool fncVaribaleThresholdExceed(RunContext& ctx, const std::string& variableName);

/// Reads the script's variables file into the variables record
/// (strVariablesXML), which it returns; empty when the file gives none.
/// The file is read only where it lies by its real location in the logs
/// folder (logsFolder); a name is escaped in its attribute and a value or
/// text keeps its "]]>" inside CDATA, so the record holds only its own fields.
std::string fncReadVariableXML(RunContext& ctx, const std::string& path);
