// Parser of the plain-text export.
// May contain: the reading of a script's logs; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Walks the export's blocks (cut at the table's rule lines) as they are read
/// and adds each "Error" row to the failure-description list, its detail
/// block counted in ATZThreshold.ini. At most two blocks are held, each cut at
/// 64 KiB, and reading stops once the list is full. Always returns false.
bool fncEditScriptlog(RunContext& ctx, const std::string& exportPath);
