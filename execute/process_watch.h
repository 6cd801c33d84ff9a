// The watch that follows the wait on the runner: ending an overrunning
// process and saying what the overrun means for the job.
// May contain: the script's run; no system calls.
#pragma once

#include <string>

#include "platform/processes.h"

struct RunContext;

/// True when the job's execution context asks for the interactive launch:
/// the context, trimmed of blanks, is "1" or, ignoring case, "true". The one
/// place that decides it, for the script run as well as for the watch.
bool isInteractiveContext(const std::string& context);

/// Right after the runner has started: one ERR line when the system could
/// not hold the runner's tree in a container of its own, so that an overrun
/// will be ended by a walk over the process list instead.
void subCheckTreeContainment(RunContext& ctx, ProcHandle process);

/// After the wait of the interactive launch: tries to end the process. When
/// that succeeds the time limit was overrun, and strFailureDesc says so (or,
/// when the workstation is locked, that the system is locked). The success
/// line is written only when nothing of the runner's tree is left alive;
/// otherwise an ERR line says how many survived. Always false.
bool fncTerminateUpdateProcess(RunContext& ctx, ProcHandle process);

/// After the wait of the direct launch: tries to end the process and logs the
/// outcome as the interactive watch does; strFailureDesc is left alone.
/// Always false.
bool fncTerminateProcess(RunContext& ctx, ProcHandle process);
