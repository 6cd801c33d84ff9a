// Posting of the script's variables record through the drop folder.
// May contain: the records and their transport; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Turns the variables file into the variables record, drops it into
/// HVRPostLogs under the file's own name and deletes the file.
bool fncPostVTXVariables(RunContext& ctx, const std::string& path);
