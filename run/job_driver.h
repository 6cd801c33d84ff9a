// The per-job driver.
// May contain: the run's control flow; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Takes one job string apart and runs the job's steps in order.
bool fncExecuteKRNScript(RunContext& ctx, const std::string& job);
