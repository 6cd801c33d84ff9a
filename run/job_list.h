// The action's job list (KRNScripts.xml).
// May contain: the run's control flow; no system calls.
#pragma once

struct RunContext;

/// Reads the job list into arrScripts; true when at least one item was stored.
bool fncParseKRNXML(RunContext& ctx);
