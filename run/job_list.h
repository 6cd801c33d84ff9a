// The action's job list (KRNScripts.xml).
#pragma once

struct RunContext;

/// Reads the job list into arrScripts; true when at least one item was stored.
bool fncParseKRNXML(RunContext& ctx);
