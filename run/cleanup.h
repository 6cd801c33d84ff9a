// Clean-up of working folders.
// May contain: the run's control flow; no system calls.
#pragma once

struct RunContext;

/// Deletes the .log3 and .atpinf side files of the two script folders.
void subDeleteDownloadedFiles(RunContext& ctx);

/// Deletes old files of AutomiseLogs and old ATCMD logs of ApplicationLog.
void subdeletepreviousfiles(RunContext& ctx);
