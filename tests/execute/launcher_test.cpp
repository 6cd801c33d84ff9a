#include <dirent.h>
// Real launches of the stand-in runner through the Linux process backend:
// waits, overruns, the process watch, failures to start, and the launch in
// another user's session (as root only).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <strings.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "execute/fake_desktop.h"
#include "execute/launcher.h"
#include "execute/script_run.h"
#include "platform/posix/machine.h"
#include "platform/posix/tree_kill.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kStandIn = VORBEX_BINARY_DIR "/atcmd-standin";

// The real backend, except that creation returns only once the child has
// ended: the launcher's first look then always finds it over.
class SettledProcesses : public ForwardingProcesses {
public:
    using ForwardingProcesses::ForwardingProcesses;
    bool CreateProcess(const std::string* app, const std::string& commandLine, bool inherit, std::uint32_t flags,
                       EnvBlock env, const std::string* dir, const StartupInfo& startup,
                       ProcessInformation& info) override {
        if (!ForwardingProcesses::CreateProcess(app, commandLine, inherit, flags, env, dir, startup, info)) {
            return false;
        }
        WaitForSingleObject(info.hProcess, proc::INFINITE);
        return true;
    }
};

// The real backend, noting in which order a launch gives back the watched
// runner's handle and the environment block once the watch is over.
class ReleaseRecorder : public ForwardingProcesses {
public:
    using ForwardingProcesses::ForwardingProcesses;
    bool TerminateProcess(ProcHandle process, std::uint32_t exitCode) override {
        watched = process;
        return ForwardingProcesses::TerminateProcess(process, exitCode);
    }
    bool DestroyEnvironmentBlock(EnvBlock block) override {
        events.push_back("destroy environment");
        return ForwardingProcesses::DestroyEnvironmentBlock(block);
    }
    bool CloseHandle(ProcHandle handle) override {
        if (watched != 0 && handle == watched) {
            events.push_back("close watched handle");
            watched = 0;  // a later handle may reuse the value
        }
        return ForwardingProcesses::CloseHandle(handle);
    }
    ProcHandle watched = 0;
    std::vector<std::string> events;
};

// The real backend, with every process named Explorer.Exe other than `shell`
// left out of its snapshots: another run's shell on the same machine is
// never found in place of the test's own.
class OnlyThisShell : public ForwardingProcesses {
public:
    OnlyThisShell(Processes& real, pid_t shell) : ForwardingProcesses(real), shell_(shell) {}
    bool Process32First(ProcHandle snapshot, ProcessEntry& entry) override {
        return skipOtherShells(snapshot, entry, ForwardingProcesses::Process32First(snapshot, entry));
    }
    bool Process32Next(ProcHandle snapshot, ProcessEntry& entry) override {
        return skipOtherShells(snapshot, entry, ForwardingProcesses::Process32Next(snapshot, entry));
    }

private:
    bool skipOtherShells(ProcHandle snapshot, ProcessEntry& entry, bool more) {
        while (more && ::strcasecmp(entry.szExeFile.c_str(), "explorer.exe") == 0 &&
               entry.th32ProcessID != static_cast<std::uint32_t>(shell_)) {
            more = ForwardingProcesses::Process32Next(snapshot, entry);
        }
        return more;
    }
    pid_t shell_;
};

// True when the user `uid` (no supplementary groups) has each access to each
// path, asked by a child that has become that user.
bool reachableBy(uid_t uid, const std::vector<std::pair<std::string, int>>& checks) {
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
        for (const auto& [path, mode] : checks) {
            if (::access(path.c_str(), mode) != 0) ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kStandIn)) << kStandIn;
        run.ctx->sys.processes = &processes;
        run.ctx->sys.desktop = &desktop;
        run.useInstallPath(install);
        run.sandbox.makeFolder(install + "AutomiseLogs");
        run.ctx->job.strProcessTime = "20000";
    }
    void TearDown() override {
        // A runner left running on purpose must not outlive the test.
        for (pid_t pid : leftovers) {
            ::kill(-pid, SIGKILL);  // a runner leads its own group
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    std::string runner() const { return windowsPathOf(kStandIn); }
    std::string logPath() const { return install + "AutomiseLogs\\job.txt"; }
    std::string projectPath() const { return install + "Scripts\\job.atz"; }
    std::string arguments(bool interactive, const std::string& extra = "") const {
        return " /B /L\"" + logPath() + "\"" + (interactive ? " /B /A /P\"" : " /B /P\"") + projectPath() + "\"" +
               extra;
    }
    void project(const std::string& text) { run.sandbox.writeFile(projectPath(), text); }
    std::string console() const { return run.sandbox.readFile(logPath()); }
    // The number the console log gives after `label`, or 0.
    pid_t numberAfter(const std::string& label) const {
        const std::string text = console();
        const auto pos = text.find(label);
        return pos == std::string::npos ? 0 : static_cast<pid_t>(std::stol(text.substr(pos + label.size())));
    }
    // A runner the launch left running (its project starts with "pid") is
    // ended by the test, before the sandbox goes away under it.
    // True while some live process carries this text in its environment; the
    // runner's environment names this test's own machine root.
    static bool processWithEnvironment(const std::string& text) {
        DIR* proc = ::opendir("/proc");
        if (proc == nullptr) return false;
        bool found = false;
        while (const dirent* entry = ::readdir(proc)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
            std::ifstream in(std::string("/proc/") + entry->d_name + "/environ", std::ios::binary);
            const std::string environ((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::ifstream status(std::string("/proc/") + entry->d_name + "/status");
            const std::string state((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
            if (environ.find(text + '\0') != std::string::npos && ::atoi(entry->d_name) != ::getpid() && state.find("State:\tZ") == std::string::npos) {
                found = true;
                break;
            }
        }
        ::closedir(proc);
        return found;
    }
    bool runnerGoneWithin(int ms) const {
        const std::string marker = "VORBEX_MACHINE=" + run.sandbox.root();
        for (int waited = 0; waited <= ms; waited += 20) {
            if (!processWithEnvironment(marker)) return true;
            ::usleep(20000);
        }
        return false;
    }
    void adoptRunner(const std::string& consoleLog) {
        for (int i = 0; i < 300; ++i) {
            const std::string text = run.sandbox.readFile(consoleLog);
            const auto pos = text.find("Process id: ");
            if (pos != std::string::npos) {
                leftovers.push_back(static_cast<pid_t>(std::stol(text.substr(pos + 12))));
                return;
            }
            ::usleep(10000);
        }
        ADD_FAILURE() << "the runner never wrote its process id";
    }
    bool direct(const std::string& args = "") {
        return fncExecuteUsingCreateProcess(*run.ctx, runner(), args.empty() ? arguments(false) : args,
                                            install + "Scripts");
    }
    // An interactive launch as this test's own user: its own process is the "shell".
    bool interactive(const std::string& folder = "") {
        return fncExecuteUsingToken(*run.ctx, static_cast<std::uint32_t>(::getpid()), runner(), arguments(true),
                                    folder.empty() ? install + "Scripts" : folder);
    }
    long elapsedMs(Clock::time_point since) const {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
    }

    TestRun run;
    Processes& processes = *run.real.processes;
    FakeDesktop desktop;
    std::string install = "C:\\Agent\\";
    std::vector<pid_t> leftovers;
};

TEST_F(LaunchTest, RunnerOverBeforeTheFirstLookIsNeitherWaitedForNorWatched) {
    SettledProcesses settled{processes};
    run.ctx->sys.processes = &settled;
    project("console hello\nexit 3\n");
    EXPECT_TRUE(direct());
    EXPECT_EQ(console(), "hello\r\n");
    EXPECT_TRUE(run.logged("MSG : Postprocessing: Successfully Started the process"));
    EXPECT_FALSE(run.loggedPart("fncTerminateProcess"));
    EXPECT_FALSE(run.loggedPart("Successfully Executed the script"));
    EXPECT_EQ(run.ctx->strFailureDesc, "");
}

TEST_F(LaunchTest, DirectRunnerWithinTheLimitIsWatchedAndSucceeds) {
    project("sleep 200\nconsole done\n");
    EXPECT_TRUE(direct());
    EXPECT_EQ(console(), "done\r\n");
    const auto m = run.messages();
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[0], "MSG : Preprocessing: Executing fncExecuteUsingCreateProcess With parameter, Exe path :" +
                        runner() + ",Parameter :" + arguments(false) + ",Working Directory :" + install + "Scripts");
    EXPECT_EQ(m[m.size() - 2], "MSG : Preprocessing: Executing fncTerminateProcess");
    EXPECT_EQ(m.back(), "MSG : Postprocessing: Successfully Executed the script");
}

TEST_F(LaunchTest, DirectOverrunIsEndedLoggedAndStillSucceeds) {
    project("console started\nsleep 20000\nconsole never\n");
    run.ctx->job.strProcessTime = "300";
    const auto start = Clock::now();
    EXPECT_TRUE(direct());
    EXPECT_LT(elapsedMs(start), 10000);
    EXPECT_GE(elapsedMs(start), 300);
    EXPECT_TRUE(run.logged("MSG : Postprocessing: Successfully Terminated Process "));
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_EQ(console(), "started\r\n");
}

TEST_F(LaunchTest, InteractiveOverrunFailsWithTheTimeLimitText) {
    project("sleep 20000\n");
    run.ctx->job.strContext = "1";
    run.ctx->job.strProcessTime = "300";
    EXPECT_FALSE(interactive());
    EXPECT_EQ(run.ctx->strFailureDesc, "PostProcessing:The threshold set for the script process time is elapsed.");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Executing fncTerminateUpdateProcess "));
    EXPECT_TRUE(run.logged("MSG : Postprocessing: Successfully Terminated Process "));
    EXPECT_TRUE(run.logged("MSG : PostProcessing:The threshold set for the script process time is elapsed."));
    EXPECT_TRUE(run.logged("MSG : Preprocessing : Not locked!"));
}

// The real backend, except that it could neither hold the runner's tree in a
// container nor end all of it.
class LeakyProcesses : public ForwardingProcesses {
public:
    using ForwardingProcesses::ForwardingProcesses;
    bool IsTreeContained(ProcHandle) override { return false; }
    std::uint32_t TerminateSurvivors() override { return 2; }
};

TEST_F(LaunchTest, ATreeNotEndedWholeIsNeverLoggedAsTerminated) {
    LeakyProcesses leaky{processes};
    run.ctx->sys.processes = &leaky;
    project("sleep 20000\n");
    run.ctx->job.strContext = "1";
    run.ctx->job.strProcessTime = "300";
    EXPECT_FALSE(interactive());
    EXPECT_TRUE(run.logged("ERR : Preprocessing: The script process could not be placed in a job of its own; at "
                           "the time limit its processes are ended one by one"));
    EXPECT_TRUE(run.logged("ERR : Postprocessing: Failed to terminate the whole process tree, 2 process(es) still "
                           "running"));
    EXPECT_FALSE(run.loggedPart("Successfully Terminated Process"));
    // The overrun still fails the job.
    EXPECT_EQ(run.ctx->strFailureDesc, "PostProcessing:The threshold set for the script process time is elapsed.");
}

TEST_F(LaunchTest, AfterTheWatchEachLaunchReleasesInItsOwnOrder) {
    project("sleep 20000\n");
    run.ctx->job.strProcessTime = "200";
    {
        ReleaseRecorder recorder{processes};
        run.ctx->sys.processes = &recorder;
        run.ctx->job.strContext = "1";
        EXPECT_FALSE(interactive());
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"destroy environment", "close watched handle"}));
    }
    {
        ReleaseRecorder recorder{processes};
        run.ctx->sys.processes = &recorder;
        run.ctx->job.strContext = "0";
        run.ctx->strFailureDesc.clear();
        EXPECT_TRUE(direct());
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"close watched handle", "destroy environment"}));
    }
    run.ctx->sys.processes = &processes;
}

TEST_F(LaunchTest, InteractiveOverrunOnALockedWorkstationSaysSo) {
    project("sleep 20000\n");
    run.ctx->job.strContext = "true";
    run.ctx->job.strProcessTime = "200";
    desktop.switchAccepted = false;
    EXPECT_FALSE(interactive());
    EXPECT_EQ(run.ctx->strFailureDesc, "PostProcessing:The System is locked.");
    EXPECT_TRUE(run.logged("MSG : PostProcessing:The System is locked."));
}

TEST_F(LaunchTest, InteractiveRunnerWithinTheLimitSucceeds) {
    project("env VORBEX_MACHINE\n");
    run.ctx->job.strContext = "1";
    EXPECT_TRUE(interactive());
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_TRUE(run.loggedPart("MSG : Environmental variables value "));
    EXPECT_TRUE(run.logged("MSG : Preprocessing : Getting the environment variables"));
    // The runner finds the machine through the environment it was given.
    EXPECT_NE(console().find("Environment VORBEX_MACHINE=" + run.sandbox.root() + "\r\n"), std::string::npos);
}

TEST_F(LaunchTest, OverrunEndsEveryProcessTheScriptStartedAndReapsThem) {
    // A child in the runner's group that ignores SIGTERM, and a grandchild
    // that left as a daemon does: a session of its own, its parent gone.
    project("stubborn 30000\ndetached 30000\nsleep 30000\n");
    run.ctx->job.strProcessTime = "1500";
    EXPECT_FALSE(interactive());
    EXPECT_EQ(run.ctx->strFailureDesc, "PostProcessing:The threshold set for the script process time is elapsed.");
    const pid_t stubborn = numberAfter("Child process id: ");
    const pid_t detached = numberAfter("Detached process id: ");
    ASSERT_GT(stubborn, 0) << console();
    ASSERT_GT(detached, 0) << console();
    // Gone, not even a zombie: this process adopted what the runner orphaned,
    // so whatever is left unreaped would still be listed here.
    for (pid_t pid : {stubborn, detached}) {
        bool gone = false;
        for (int waited = 0; waited < 2000 && !gone; waited += 20) {
            gone = !std::filesystem::exists("/proc/" + std::to_string(pid));
            if (!gone) ::usleep(20000);
        }
        EXPECT_TRUE(gone) << "process " << pid << " outlived the time limit";
    }
}

TEST_F(LaunchTest, NoTimeLimitIsInfinite) {
    // 0, and limits below it (-1 minutes is -60000 ms, -1 ms would read as
    // an endless wait), end a running runner at once.
    for (const char* limit : {"0", "-1", "-60000"}) {
        SCOPED_TRACE(limit);
        run.lines.clear();
        project("sleep 20000\n");
        run.ctx->job.strProcessTime = limit;
        const auto start = Clock::now();
        EXPECT_TRUE(direct());
        EXPECT_LT(elapsedMs(start), 5000);
        EXPECT_TRUE(run.logged("MSG : Postprocessing: Successfully Terminated Process "));
    }
}

TEST_F(LaunchTest, ARunnerAtA212CharacterPathIsStartedByItsWholePath) {
    std::string folder = "C:\\Program Files\\VSoft";
    while (folder.size() < 200) folder += "\\Automise";
    folder.resize(202);
    const std::string longRunner = folder + "\\ATCMD.exe";
    ASSERT_EQ(longRunner.size(), 212u);
    run.sandbox.makeFolder(folder);
    std::filesystem::copy_file(kStandIn, run.sandbox.hostPath(longRunner));
    run.ctx->strATCMDLocation = longRunner;
    run.ctx->job.strPrimaryScriptPath = projectPath();
    run.ctx->job.strExecuteScript = "job.atz";
    project("console [Step]\nconsole Build Completed\n");
    subExecuteScript(*run.ctx, "");
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_EQ(run.ctx->strATCMDLocation, longRunner);
    EXPECT_EQ(run.sandbox.readFile(run.ctx->launch.strATCMDLogFile), "[Step]\r\nBuild Completed\r\n");
}

TEST_F(LaunchTest, TimeLimitBeyond32BitsEndsTheLaunchUnwaited) {
    project("pid\nsleep 4000\n");
    run.ctx->job.strProcessTime = "2147483648";
    const auto start = Clock::now();
    EXPECT_FALSE(direct());
    EXPECT_LT(elapsedMs(start), 3000);
    EXPECT_FALSE(run.loggedPart("fncTerminateProcess"));
    const auto m = run.messages();
    const std::string prefix = "ERR : In fncExecuteUsingCreateProcess. Error No :";
    ASSERT_EQ(m.back().rfind(prefix, 0), 0u) << m.back();
    EXPECT_NE(m.back().find(" Description :Overflow"), std::string::npos) << m.back();
    EXPECT_EQ(run.ctx->strFailureDesc, "");

    // The launch gives up on a runner it cannot bound, and ends it rather
    // than leave it running without a limit.
    EXPECT_TRUE(runnerGoneWithin(3000));

    // The largest limit that converts is waited on as usual.
    run.ctx->job.strProcessTime = "2147483647";
    project("sleep 200\n");
    EXPECT_TRUE(direct());
    EXPECT_EQ(run.messages().back(), "MSG : Postprocessing: Successfully Executed the script");
}

TEST_F(LaunchTest, InteractiveTimeLimitBeyond32BitsRevertsAndFails) {
    project("pid\nsleep 3000\n");
    run.ctx->job.strProcessTime = "1e12";
    EXPECT_FALSE(interactive());
    EXPECT_TRUE(runnerGoneWithin(3000));
    EXPECT_EQ(run.messages().back().rfind("ERR : In fncExecuteUsingToken. Error No :", 0), 0u);
    EXPECT_EQ(::geteuid(), ::getuid());
}

TEST_F(LaunchTest, RunnerThatIsNoProgramFailsToStart) {
    run.sandbox.writeFile("C:\\Tools\\notes.txt", "not a program");
    ::chmod(run.sandbox.hostPath("C:\\Tools\\notes.txt").c_str(), 0644);
    EXPECT_FALSE(fncExecuteUsingCreateProcess(*run.ctx, "C:\\Tools\\notes.txt", arguments(false), "C:\\"));
    EXPECT_EQ(run.ctx->strFailureDesc, "PostProcessing:Failed to execute the script, 13-Permission denied");
    EXPECT_TRUE(run.logged("ERR : PostProcessing:Failed to execute the script, 13-Permission denied"));
    EXPECT_FALSE(run.loggedPart("Successfully Started"));

    run.ctx->strFailureDesc.clear();
    EXPECT_FALSE(fncExecuteUsingCreateProcess(*run.ctx, "C:\\Tools\\missing.exe", arguments(false), "C:\\"));
    EXPECT_EQ(run.ctx->strFailureDesc, "PostProcessing:Failed to execute the script, 2-No such file or directory");
}

TEST_F(LaunchTest, QuotesAndBlanksReachTheRunnerAsWindowsSplitsThem) {
    install = "C:\\Agent Files\\";
    run.useInstallPath(install);
    run.sandbox.makeFolder(install + "AutomiseLogs");
    project("args\n");
    EXPECT_TRUE(direct(arguments(false, " /VX=\"a b\" Y=c\\\"d Z=\\\\")));
    const std::string text = console();
    EXPECT_NE(text.find("Argument 1: /B\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Argument 2: /L" + logPath() + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Argument 3: /B\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Argument 4: /P" + projectPath() + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Argument 5: /VX=a b\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Argument 6: Y=c\"d\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Argument 7: Z=\\\\\r\n"), std::string::npos) << text;
}

TEST_F(LaunchTest, MissingWorkingFolderMattersOnlyToTheInteractiveLaunch) {
    project("console ran\n");
    EXPECT_TRUE(fncExecuteUsingCreateProcess(*run.ctx, runner(), arguments(false), "C:\\Nowhere"));
    EXPECT_EQ(console(), "ran\r\n");

    run.ctx->job.strContext = "1";
    EXPECT_FALSE(interactive("C:\\Nowhere"));
    EXPECT_EQ(run.ctx->strFailureDesc,
              "PostProcessing:Failed to execute in the interactive mode 2-No such file or directory");
    EXPECT_TRUE(run.logged("ERR : " + run.ctx->strFailureDesc));
}

TEST_F(LaunchTest, NoShellProcessMeansNoToken) {
    EXPECT_FALSE(fncExecuteUsingToken(*run.ctx, 0, runner(), arguments(true), install));
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Failed to get the handle of the token");
    EXPECT_EQ(run.messages().back(), "ERR : Preprocessing:Failed to get the handle of the token");
}

TEST_F(LaunchTest, ScriptRunEndToEndThroughTheConsoleLog) {
    run.ctx->strATCMDLocation = runner();
    run.ctx->job.strPrimaryScriptPath = projectPath();
    run.ctx->job.strPrimaryScriptFolder = install + "Scripts";
    run.ctx->job.strExecuteScript = "job.atz";
    run.ctx->job.strScriptID = "5";
    run.ctx->job.strContext = "0";
    project("console [Copy files]\nconsole Success\nconsole Build Completed\n");
    subExecuteScript(*run.ctx, "77");
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_EQ(run.ctx->script.strScriptStatus, "SUCCESS");
    EXPECT_EQ(run.sandbox.readFile(run.ctx->launch.strATCMDLogFile), "[Copy files]\r\nSuccess\r\nBuild Completed\r\n");

    // A runner that writes no console log leaves the job not executed.
    run.clock.time.second += 1;  // a new console log name
    project("exit 1\n");
    subExecuteScript(*run.ctx, "");
    EXPECT_EQ(run.ctx->strFailureDesc, "Postprocessing:Failed to create the script log for job.atz");

    // An overrun in the direct launch is no failure of the launch.
    run.ctx->strFailureDesc.clear();
    run.clock.time.second += 1;
    run.ctx->job.strProcessTime = "1500";
    project("console [Wait]\nconsole Build Completed\nsleep 20000\n");
    subExecuteScript(*run.ctx, "");
    EXPECT_TRUE(run.logged("MSG : Postprocessing: Successfully Terminated Process "));
    EXPECT_EQ(run.ctx->strFailureDesc, "");
}

TEST_F(LaunchTest, StandInExportsWhereTheRunVariablesFileSaysAndTheLogAssemblyFindsIt) {
    run.sandbox.writeFile(install + "kScripts\\KOVAVariables.ini", "[KOVAVariables]\r\nAUTOMISELOGNAME=Exp_1.xml\r\n");
    run.ctx->strATCMDLocation = runner();
    run.ctx->job.strPrimaryScriptPath = projectPath();
    run.ctx->job.strExecuteScript = "job.atz";
    project("console [Step]\nexport text inline\nplain export\nend\nvars <wpatcmdscrvardata/>\nconsole Run Completed\n");
    const std::string variablesFile = subExecuteScript(*run.ctx, "");
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Exported Log :: " + install + "AutomiseLogs\\Exp_1.xml"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Proceeding with TEXT Parsing"));
    EXPECT_FALSE(run.sandbox.exists(install + "AutomiseLogs\\Exp_1.xml"));  // parsed and deleted
    EXPECT_EQ(variablesFile, install + "AutomiseLogs\\VTXVariables_Exp_1.xml");
    EXPECT_EQ(run.sandbox.readFile(variablesFile), "<wpatcmdscrvardata/>\r\n");
}

TEST_F(LaunchTest, DirectLaunchWithALimitThatWillNotConvertFallsBackToTheGeneralReason) {
    run.ctx->strATCMDLocation = runner();
    run.ctx->job.strPrimaryScriptPath = projectPath();
    run.ctx->job.strPrimaryScriptFolder = install + "Scripts";
    run.ctx->job.strExecuteScript = "job.atz";
    run.ctx->job.strProcessTime = "";
    project("pid\nsleep 2000\n");
    subExecuteScript(*run.ctx, "");
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Failed to execute the primary script " + projectPath());
    EXPECT_EQ(run.messages().back(), "ERR : Preprocessing:Failed to execute the primary script " + projectPath());
    EXPECT_TRUE(runnerGoneWithin(3000));
}

// The launch in another user's session. A copy of the stand-in named
// Explorer.Exe plays the user's shell, with a variable of its own in its
// environment; when the test runs as root it runs as nobody, and the runner
// must then run as nobody with that variable. (One test, so that no two shells
// of this suite are ever up at once.)
TEST_F(LaunchTest, ShellIsFoundByNameAndLendsItsUserToTheRunner) {
    namespace fs = std::filesystem;
    const bool root = ::geteuid() == 0;
    const uid_t nobody = 65534;
    // The other user must reach the sandbox, the shell, the runner and the
    // log folder; both programs are copied in, wherever the build lives.
    ::chmod(run.sandbox.root().c_str(), 0755);
    run.sandbox.makeFolder(install + "Shell");
    ::chmod(run.sandbox.hostPath(install + "AutomiseLogs").c_str(), 0777);
    const std::string shellCopy = run.sandbox.hostPath(install + "Shell") + "/Explorer.Exe";
    const std::string runnerCopy = install + "Shell\\ATCMD.exe";
    for (const std::string& copy : {shellCopy, run.sandbox.hostPath(runnerCopy)}) {
        fs::copy_file(kStandIn, copy);
        ::chmod(copy.c_str(), 0755);
    }
    run.sandbox.writeFile(install + "Shell\\shell.atz", "sleep 30000\n");
    project("env VORBEX_SESSION_MARK\n");
    if (root && !reachableBy(nobody, {{shellCopy, X_OK},
                                      {run.sandbox.hostPath(runnerCopy), X_OK},
                                      {run.sandbox.hostPath(install + "Shell\\shell.atz"), R_OK},
                                      {run.sandbox.hostPath(projectPath()), R_OK},
                                      {run.sandbox.hostPath(install + "AutomiseLogs"), W_OK | X_OK}})) {
        GTEST_SKIP() << "the user nobody cannot reach the sandbox " << run.sandbox.root()
                     << ": a folder on its way is closed to other users";
    }

    const std::string shellLog = "/L" + install + "Shell\\shell.txt";
    const std::string shellProject = "/P" + install + "Shell\\shell.atz";
    const std::string machine = "VORBEX_MACHINE=" + run.sandbox.root();
    const pid_t shell = ::fork();
    ASSERT_GE(shell, 0);
    if (shell == 0) {
        // Named by its executable, not by the argv[0] it is given.
        const char* argv[] = {"some-other-name", shellLog.c_str(), shellProject.c_str(), nullptr};
        const char* envp[] = {"VORBEX_SESSION_MARK=from-the-shell", machine.c_str(), "PATH=/usr/bin:/bin", nullptr};
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(126);
        ::execve(shellCopy.c_str(), const_cast<char**>(argv), const_cast<char**>(envp));
        ::_exit(127);
    }
    leftovers.push_back(shell);
    OnlyThisShell ownShell{processes, shell};
    run.ctx->sys.processes = &ownShell;
    // Up once it has executed under its name.
    std::uint32_t found = 0;
    for (int i = 0; i < 1000 && found != static_cast<std::uint32_t>(shell); ++i) {
        found = fncGetProcesses(*run.ctx);
        if (found != static_cast<std::uint32_t>(shell)) ::usleep(10000);
    }
    ASSERT_EQ(found, static_cast<std::uint32_t>(shell));
    EXPECT_FALSE(run.loggedPart("ERR"));

    run.ctx->job.strContext = "1";
    EXPECT_TRUE(fncExecuteUsingToken(*run.ctx, found, runnerCopy, arguments(true), install + "Scripts"));
    run.ctx->sys.processes = &processes;  // ownShell ends with this scope
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    const std::string text = console();
    EXPECT_NE(text.find("Environment VORBEX_SESSION_MARK=from-the-shell\r\n"), std::string::npos) << text;
    if (!root) GTEST_SKIP() << "the launch as another user needs root";
    EXPECT_NE(text.find("User id: 65534\r\n"), std::string::npos) << text;
    // The runner's cgroup is the program's to make, not the impersonated user's.
    const bool cgroups = JobCgroup::make() != nullptr;
    EXPECT_EQ(run.loggedPart("could not be placed in a job of its own"), !cgroups);
    // The impersonation is over.
    EXPECT_EQ(::geteuid(), 0u);
    EXPECT_EQ(::getegid(), 0u);
}

}  // namespace
