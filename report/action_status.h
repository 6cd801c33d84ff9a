// The action status record of the whole run.
#pragma once

struct RunContext;

/// Builds and drops the action status record. Always returns false.
bool fncPostKRNExecStatus(RunContext& ctx);
