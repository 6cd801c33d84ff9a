// Parser of the runner's own console log.
#pragma once

#include <string>

struct RunContext;

/// Fills the script result from the console log. Raises RunError on the
/// cases the caller's handler reports (an empty log, a missing second-last line).
void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath, const std::string& mode);
