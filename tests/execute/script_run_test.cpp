// The script run's own decisions: the console log's name, the launch mode,
// the argument string and the failure paths around the launch. The launcher
// here fails on purpose, so nothing is started.
#include <gtest/gtest.h>

#include <cerrno>

#include "execute/script_run.h"
#include "support/test_support.h"

namespace {

// The real backend with process creation and opening refused (through its
// switch): the script run gets as far as the launch and records what it
// asked for.
class RefusingProcesses : public ForwardingProcesses {
public:
    explicit RefusingProcesses(Processes& real) : ForwardingProcesses(real) {
        failCall("OpenProcess", CallFault().always().error(ESRCH));
        failCall("CreateProcess", CallFault().always().error(ENOENT));
    }
    std::vector<std::string> commandLines;

    bool CreateProcess(const std::string* app, const std::string& commandLine, bool inherit, std::uint32_t flags,
                       EnvBlock env, const std::string* dir, const StartupInfo& startup,
                       ProcessInformation& info) override {
        commandLines.push_back(commandLine);
        return ForwardingProcesses::CreateProcess(app, commandLine, inherit, flags, env, dir, startup, info);
    }
};

class ScriptRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        run.ctx->sys.processes = &processes;
        run.useInstallPath();
        run.sandbox.writeFile("C:\\Runner\\ATCMD.exe", "");
        run.sandbox.writeFile(script, "project");
        auto& c = *run.ctx;
        c.strATCMDLocation = "C:\\Runner\\ATCMD.exe";
        c.job.strPrimaryScriptPath = script;
        c.job.strPrimaryScriptFolder = "C:\\Agent\\Scripts";
        c.job.strExecuteScript = "Clean.atz";
        c.job.strScriptID = "17";
    }

    std::string expectedLog() const { return "C:\\Agent\\AutomiseLogs\\Clean_12072026101530_17_4711.txt"; }

    TestRun run;
    RefusingProcesses processes{*run.real.processes};
    const std::string script = "C:\\Agent\\Scripts\\Clean.atz";
    const std::string randomNo = "4711";
};

TEST_F(ScriptRunTest, InteractiveContextsGiveTheInteractiveArgumentString) {
    for (const std::string context : {"TRUE", " true ", "1", " 1"}) {
        run.ctx->job.strContext = context;
        run.ctx->job.strCmdParameters = "";
        run.ctx->strFailureDesc = "";
        subExecuteScript(*run.ctx, randomNo);
        const std::string expected = " /B /L\"" + expectedLog() + "\" /B /A /P\"" + script + "\"";
        EXPECT_TRUE(run.loggedPart(",Parameter :" + expected + ",")) << context;
        // The interactive launcher ran (and failed to find the shell), not the direct one.
        EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Failed to get the handle of the token") << context;
    }
    EXPECT_TRUE(processes.commandLines.empty());
}

TEST_F(ScriptRunTest, OtherContextsGiveTheDirectArgumentStringAndCommandLine) {
    for (const std::string context : {"yes", "0", "", "truee", "1 1"}) {
        run.ctx->job.strContext = context;
        run.ctx->job.strCmdParameters = "";
        subExecuteScript(*run.ctx, randomNo);
        const std::string expected = " /B /L\"" + expectedLog() + "\" /B /P\"" + script + "\"";
        ASSERT_FALSE(processes.commandLines.empty());
        // The runner's path, unquoted, then the argument string with its leading blank.
        EXPECT_EQ(processes.commandLines.back(), "C:\\Runner\\ATCMD.exe" + expected) << context;
    }
    EXPECT_EQ(processes.commandLines.size(), 5u);
}

TEST_F(ScriptRunTest, ParametersAreAddedUntrimmedAndOnlyWhenNotBlank) {
    const std::string base = " /B /L\"" + expectedLog() + "\" /B /P\"" + script + "\"";
    struct Case {
        std::string parameters;
        std::string tail;
    };
    for (const Case& c : {Case{"   ", ""}, Case{"", ""}, Case{"X=1", " /VX=1"}, Case{" X=1  ", " /V X=1  "},
                          Case{"\tX", " /V\tX"}}) {
        run.ctx->job.strCmdParameters = c.parameters;
        // Run twice: the job's parameters must give the same command line every time.
        for (int time = 0; time < 2; ++time) {
            subExecuteScript(*run.ctx, randomNo);
            ASSERT_FALSE(processes.commandLines.empty());
            EXPECT_EQ(processes.commandLines.back(), "C:\\Runner\\ATCMD.exe" + base + c.tail)
                << "[" << c.parameters << "] run " << time;
        }
        EXPECT_EQ(run.ctx->job.strCmdParameters, c.parameters);
    }
}

TEST_F(ScriptRunTest, ConsoleLogNameTakesTheScriptNameUpToItsFirstDot) {
    struct Case {
        std::string script;
        std::string base;
    };
    for (const Case& c : {Case{"Clean.atz", "Clean"}, Case{"a.b.atz", "a"}, Case{"NoDot", "NoDot"},
                          Case{"C:\\Old\\Dir.d\\Job.atz", "Job"}, Case{".hidden", ""}}) {
        run.ctx->job.strExecuteScript = c.script;
        subExecuteScript(*run.ctx, randomNo);
        EXPECT_EQ(run.ctx->launch.strATCMDLogFile, "C:\\Agent\\AutomiseLogs\\" + c.base + "_12072026101530_17_4711.txt")
            << c.script;
    }
    // The stamp is the time the name is made, minutes after the hour included.
    run.clock.time = LocalTime{2027, 1, 2, 3, 4, 5};
    run.ctx->job.strExecuteScript = "Clean.atz";
    subExecuteScript(*run.ctx, randomNo);
    EXPECT_EQ(run.ctx->launch.strATCMDLogFile, "C:\\Agent\\AutomiseLogs\\Clean_01022027030405_17_4711.txt");
}

TEST_F(ScriptRunTest, MissingPrimaryScriptStartsNothing) {
    run.ctx->job.strPrimaryScriptPath = "C:\\Agent\\Scripts\\Gone.atz";
    run.ctx->job.strCmdParameters = "X=1";
    subExecuteScript(*run.ctx, randomNo);
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Primary Script File not found C:\\Agent\\Scripts\\Gone.atz");
    EXPECT_TRUE(run.logged("ERR : Preprocessing:Primary Script File not found C:\\Agent\\Scripts\\Gone.atz"));
    EXPECT_TRUE(processes.commandLines.empty());
}

TEST_F(ScriptRunTest, DirectFailureLogsTheLaunchersReasonOnceMore) {
    run.ctx->job.strContext = "0";
    subExecuteScript(*run.ctx, randomNo);
    const std::string reason = "PostProcessing:Failed to execute the script, 2-No such file or directory";
    EXPECT_EQ(run.ctx->strFailureDesc, reason);
    int count = 0;
    for (const auto& m : run.messages()) count += m == "ERR : " + reason;
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Executing " + script));
}

TEST_F(ScriptRunTest, InteractiveFailureKeepsTheLaunchersReasonAndLogsNothingMore) {
    run.ctx->job.strContext = "true";
    subExecuteScript(*run.ctx, randomNo);
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Failed to get the handle of the token");
    EXPECT_FALSE(run.loggedPart("Failed to execute the primary script"));
    EXPECT_EQ(run.messages().back(), "ERR : Preprocessing:Failed to get the handle of the token");
}

TEST_F(ScriptRunTest, MissingRunnerHasNoShortFormAndNothingToStart) {
    run.ctx->strATCMDLocation = "C:\\Runner\\Missing.exe";
    subExecuteScript(*run.ctx, randomNo);
    // No short form for a missing file: the launch has no program to start,
    // while the registry's value stays for a later job.
    EXPECT_EQ(run.ctx->strATCMDLocation, "C:\\Runner\\Missing.exe");
    ASSERT_EQ(processes.commandLines.size(), 1u);
    EXPECT_EQ(processes.commandLines[0].rfind(" /B /L\"", 0), 0u);

    // Back in place for the next job, the runner is started again.
    run.sandbox.writeFile("C:\\Runner\\Missing.exe", "");
    subExecuteScript(*run.ctx, randomNo);
    ASSERT_EQ(processes.commandLines.size(), 2u);
    EXPECT_EQ(processes.commandLines[1].rfind("C:\\Runner\\Missing.exe /B /L\"", 0), 0u);
}

}  // namespace

// A script id or script name that is not a plain name fails the job before
// anything starts; ordinary ids and names, and names that only contain a
// device's letters, run.
TEST_F(ScriptRunTest, OnlyPlainIdsAndNamesMakeTheConsoleLogName) {
    const struct {
        std::string id, script;
        bool plain;
    } cases[] = {
        {"17", "sub\\Clean.v2.atz", true}, {"CONSOLE", "nul2.atz", true}, {"COM", "LPTx.atz", true},
        {"..", "Clean.atz", false},        {"a/b", "Clean.atz", false},   {"C:x", "Clean.atz", false},
        {"1\"2", "Clean.atz", false},      {"NUL", "Clean.atz", false},   {"con .txt", "Clean.atz", false},
        {"17", "LPT1.atz", false},         {"17", "Com9", false},         {"17", "x/y.atz", false},
        {"1\x1b", "Clean.atz", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id + " " + c.script);
        run.ctx->job.strScriptID = c.id;
        run.ctx->job.strExecuteScript = c.script;
        run.ctx->strFailureDesc = "";
        processes.commandLines.clear();
        subExecuteScript(*run.ctx, randomNo);
        EXPECT_EQ(processes.commandLines.size(), c.plain ? 1u : 0u);
        const std::string refused = "Preprocessing:The script " +
                                    (c.id == "17" ? "name " + c.script : "id " + c.id) +
                                    " cannot name a console log inside C:\\Agent\\AutomiseLogs";
        EXPECT_EQ(run.ctx->strFailureDesc == refused, !c.plain) << run.ctx->strFailureDesc;
    }
}
