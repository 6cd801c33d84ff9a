// Whether the interactive workstation is locked.
// May contain: the script's run; no system calls.
#pragma once

struct RunContext;

/// Notes whether the screen saver runs (blnScreenSaverRunning), then tries to
/// give the input to the default desktop: a refusal without an error code
/// means a locked workstation, which sets blnDesktopLocked for the rest of the
/// run. Returns true when this call saw the lock.
bool fncUserLocked(RunContext& ctx);
