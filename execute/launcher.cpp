// The session launcher.
// May contain: the script's run; no system calls.
#include "execute/launcher.h"

#include "base/command_line.h"
#include "base/errors.h"
#include "base/text.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "execute/process_watch.h"
#include "platform/processes.h"

namespace {

constexpr const char* kInteractiveDesktop = "winsta0\\default";

// The runner's time limit, converted as the limit has always been converted:
// a limit beyond 32 bits raises an overflow, which ends the launch unwaited.
// A negative limit waits not at all: read as an unsigned wait it would be
// weeks long, or (-1) no limit at all.
//
// The runner is already started at that point; an overflow must not leave it
// running without a limit, so it is ended before the error goes on.
std::uint32_t timeLimit(RunContext& ctx, Processes& sys, ProcHandle process) {
    try {
        const std::int32_t ms = toLong(ctx.job.strProcessTime);
        return ms < 0 ? 0 : static_cast<std::uint32_t>(ms);
    } catch (const RunError&) {
        sys.TerminateProcess(process, 0);
        throw;
    }
}

std::string errorText(RunContext& ctx, long code) {
    return launcher::fncFormatMessage(ctx, static_cast<std::int32_t>(code));
}

// After the watch, the interactive launch gives its environment block back
// before it closes the runner's handle; the direct launch closes the handle
// first.
enum class Release { EnvironmentFirst, HandleFirst };

// What both launchers do once the runner has started: open it again, take a
// first look, and if it still runs, wait for the time limit, hand it to the
// watch and release the handle and the environment block in the launcher's
// order. True when the runner ran to its end (or was ended) and no failure
// has been set on the way.
bool watchStartedRunner(RunContext& ctx, Processes& sys, std::uint32_t processId, const std::string& arguments,
                        const std::string& launcher, bool (*watch)(RunContext&, ProcHandle),
                        ScopedEnvironment& environment, Release order) {
    WriteLog(ctx, "MSG : Postprocessing: Successfully Started the process");
    ScopedProcHandle process(sys, sys.OpenProcess(proc::PROCESS_ALL_ACCESS, true, processId));
    if (!process) {
        const std::string text = errorText(ctx, sys.GetLastError());
        WriteLog(ctx, "ERR : " + launcher + " - Failed OpenProcess - " + arguments + " " + text);
        setFailure(ctx, "Postprocessing:Failed OpenProcess - " + arguments + " " + text);
        return false;
    }
    subCheckTreeContainment(ctx, process.get());
    std::uint32_t exitCode = 0;
    sys.GetExitCodeProcess(process.get(), exitCode);
    if (exitCode != proc::STILL_ACTIVE) return true;  // over before the first look: nothing to wait for or watch
    sys.WaitForSingleObject(process.get(), timeLimit(ctx, sys, process.get()));
    watch(ctx, process.get());
    if (order == Release::EnvironmentFirst) {
        environment.reset();
        process.reset();
    } else {
        process.reset();
        environment.reset();
    }
    return trimBlanks(ctx.strFailureDesc).empty();
}

}  // namespace

std::uint32_t fncGetProcesses(RunContext& ctx) {
    Processes& sys = *ctx.sys.processes;
    return guarded(
        [&]() -> std::uint32_t {
            ScopedProcHandle snapshot(sys, sys.CreateToolhelp32Snapshot(proc::TH32CS_SNAPALL, 0));
            ProcessEntry entry;
            for (bool more = sys.Process32First(snapshot.get(), entry); more;
                 more = sys.Process32Next(snapshot.get(), entry)) {
                const auto nul = entry.szExeFile.find('\0');
                const std::string name = nul == std::string::npos ? std::string() : entry.szExeFile.substr(0, nul);
                if (upperAscii(name) == "EXPLORER.EXE") return entry.th32ProcessID;
            }
            return 0;
        },
        [&](const RunError& e) -> std::uint32_t {
            WriteLog(ctx, "ERR: fncGetProcesses. Err No :" + std::to_string(sys.GetLastError()) +
                              " Description :" + e.description);
            return 0;
        });
}

bool fncExecuteUsingToken(RunContext& ctx, std::uint32_t processId, const std::string& exePath,
                          const std::string& arguments, const std::string& workingDirectory) {
    Processes& sys = *ctx.sys.processes;
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Executing Function fncExecuteUsingToken With parameter Process Handle : " +
                              std::to_string(processId) + " , Exe path :" + exePath + ",Parameter :" + arguments +
                              ",Working Directory :" + workingDirectory);
            ScopedProcHandle shell(sys, sys.OpenProcess(proc::PROCESS_ALL_ACCESS, true, processId));
            if (!shell) {
                setFailure(ctx, "Preprocessing:Failed to get the handle of the token");
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return false;
            }
            ProcHandle rawToken = 0;
            sys.OpenProcessToken(shell.get(), proc::TOKEN_LAUNCH_ACCESS, rawToken);
            ScopedProcHandle token(sys, rawToken);
            StartupInfo startup;
            startup.lpDesktop = kInteractiveDesktop;
            if (!token) {
                setFailure(ctx,
                           "Postprocessing:The application is not currently logged onto a machine. You will need a "
                           "machine login session in order to use the GUI Automation actions.");
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return false;
            }

            // From here until the wait is over this thread is the user; the
            // guard reverts on every way out, after the handles below are gone.
            sys.ImpersonateLoggedOnUser(token.get());
            ScopedImpersonation impersonation(sys);
            WriteLog(ctx, "MSG : Preprocessing : Getting the environment variables");

            EnvBlock rawBlock = 0;
            const bool haveEnvironment = sys.CreateEnvironmentBlock(rawBlock, token.get(), true);
            const long environmentError = sys.GetLastError();
            ScopedEnvironment environment(sys, haveEnvironment ? rawBlock : 0);
            ProcessInformation info;
            bool created = false;
            if (haveEnvironment) {
                WriteLog(ctx, "MSG : Environmental variables value " + std::to_string(environment.get()));
                created = sys.CreateProcessAsUser(token.get(), &exePath, arguments, false,
                                                  proc::CREATE_NO_WINDOW | proc::CREATE_UNICODE_ENVIRONMENT,
                                                  environment.get(), &workingDirectory, startup, info);
            } else {
                WriteLog(ctx, "ERR : Failed to get the environmental variables, " + errorText(ctx, environmentError));
                WriteLog(ctx, "MSG : Calling without environmental variables");
                created = sys.CreateProcessAsUser(token.get(), &exePath, arguments, false, proc::CREATE_NO_WINDOW, 0,
                                                  &workingDirectory, startup, info);
            }
            const long createError = sys.GetLastError();
            // The handles creation returns are not used, only released.
            ScopedProcHandle createdProcess(sys, info.hProcess);
            ScopedProcHandle createdThread(sys, info.hThread);
            if (!created) {
                setFailure(ctx,
                           "PostProcessing:Failed to execute in the interactive mode " + errorText(ctx, createError));
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return false;
            }

            return watchStartedRunner(ctx, sys, info.dwProcessId, arguments, "fncExecuteUsingToken",
                                      fncTerminateUpdateProcess, environment, Release::EnvironmentFirst);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : In fncExecuteUsingToken. Error No :" + std::to_string(sys.GetLastError()) +
                              " Description :" + e.description);
            return false;
        });
}

bool fncExecuteUsingCreateProcess(RunContext& ctx, const std::string& exePath, const std::string& arguments,
                                  const std::string& workingDirectory) {
    Processes& sys = *ctx.sys.processes;
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Executing fncExecuteUsingCreateProcess With parameter, Exe path :" +
                              exePath + ",Parameter :" + arguments + ",Working Directory :" + workingDirectory);
            StartupInfo startup;
            startup.lpDesktop = kInteractiveDesktop;
            // The short form has no blank, but where a volume has no short
            // names it is the long path, which must be quoted or the system
            // would start "C:\Program.exe". The log lines keep the path as given.
            const std::string commandLine = wincmd::commandLineProgram(exePath) + arguments;

            EnvBlock rawBlock = 0;
            const bool haveEnvironment = sys.CreateEnvironmentBlock(rawBlock, 0, true);
            const long environmentError = sys.GetLastError();
            ScopedEnvironment environment(sys, haveEnvironment ? rawBlock : 0);
            ProcessInformation info;
            bool created = false;
            if (haveEnvironment) {
                created = sys.CreateProcess(nullptr, commandLine, false,
                                            proc::CREATE_NO_WINDOW | proc::CREATE_UNICODE_ENVIRONMENT,
                                            environment.get(), nullptr, startup, info);
            } else {
                WriteLog(ctx, "ERR : Failed to get the environmental variables, " + errorText(ctx, environmentError));
                WriteLog(ctx, "MSG : Calling without environmental variables");
                created = sys.CreateProcess(nullptr, commandLine, true, proc::CREATE_NO_WINDOW,
                                            sys.EmptyEnvironmentBlock(), nullptr, startup, info);
            }
            const long createError = sys.GetLastError();
            ScopedProcHandle createdProcess(sys, info.hProcess);
            ScopedProcHandle createdThread(sys, info.hThread);
            if (!created) {
                setFailure(ctx, "PostProcessing:Failed to execute the script, " + errorText(ctx, createError));
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return false;
            }

            return watchStartedRunner(ctx, sys, info.dwProcessId, arguments, "fncExecuteUsingCreateProcess",
                                      fncTerminateProcess, environment, Release::HandleFirst);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : In fncExecuteUsingCreateProcess. Error No :" + std::to_string(sys.GetLastError()) +
                              " Description :" + e.description);
            return false;
        });
}
