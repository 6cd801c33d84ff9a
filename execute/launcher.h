// Starting the runner: inside the interactive user's session with the token
// of the user's shell, or directly as a child of this program; then waiting
// for it within the job's time limit (strProcessTime, milliseconds).
// May contain: the script's run; no system calls.
#pragma once

#include <cstdint>
#include <string>

struct RunContext;

/// The process id of the first process in the system's list whose executable
/// name, upper-cased, is "EXPLORER.EXE" (the interactive user's shell); 0 when
/// there is none.
std::uint32_t fncGetProcesses(RunContext& ctx);

/// Starts `exePath` with `arguments` as the user who owns the process
/// `processId`, with that user's environment, on the desktop
/// "winsta0\default", in `workingDirectory`, impersonating the user until the
/// wait is over. True when the runner had already ended at the first look, or
/// ended or was ended within the time limit with strFailureDesc still empty;
/// false otherwise (strFailureDesc names the reason when this step set one).
bool fncExecuteUsingToken(RunContext& ctx, std::uint32_t processId, const std::string& exePath,
                          const std::string& arguments, const std::string& workingDirectory);

/// Starts the command line `exePath` + `arguments` as a child of this program
/// (the path in quotes when it holds a blank, see wincmd::commandLineProgram)
/// with the system's default environment, in this program's own current
/// directory (`workingDirectory` is only logged). An overrun is ended and
/// logged but does not make the result false.
bool fncExecuteUsingCreateProcess(RunContext& ctx, const std::string& exePath, const std::string& arguments,
                                  const std::string& workingDirectory);
