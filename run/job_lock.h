// The job lock: one job of the machine at a time, from writing the run
// variables file until the script's variables have been posted.
// May contain: the lock's wait and the record its holder leaves; no step of a job.
#pragma once

#include <memory>

#include "platform/locks.h"

struct RunContext;

/// Takes the machine's job lock for the current job, waiting no longer than
/// its holder's own deadline allows; nullptr when the job goes on without it.
/// The wait leaves no trace in the run log; a lock refused to this program
/// is logged.
std::unique_ptr<HeldLock> takeJobLock(RunContext& ctx);
