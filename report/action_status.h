// The action status record of the whole run.
// May contain: the records and their transport; no system calls.
#pragma once

struct RunContext;

/// Builds and drops the action status record. Always returns false.
bool fncPostKRNExecStatus(RunContext& ctx);
