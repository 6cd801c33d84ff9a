// The Linux process backend where the launcher relies on Windows behaviour:
// command-line rules, exit codes of running and ended children, termination
// of ended processes, environments and tokens.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/command_line.h"
#include "platform/posix/machine.h"
#include "platform/posix/processes.h"
#include "support/test_support.h"

namespace {

using Args = std::vector<std::string>;

TEST(WindowsCommandLine, ArgumentsSplitByTheRuntimesRules) {
    EXPECT_EQ(wincmd::splitArguments(""), Args{});
    EXPECT_EQ(wincmd::splitArguments("  \t "), Args{});
    EXPECT_EQ(wincmd::splitArguments(" /B /L\"C:\\A B\\x.txt\" /B"), (Args{"/B", "/LC:\\A B\\x.txt", "/B"}));
    EXPECT_EQ(wincmd::splitArguments("a\\\\\\\"b"), Args{"a\\\"b"});        // 3 backslashes + quote
    EXPECT_EQ(wincmd::splitArguments("\"a\\\\\" b"), (Args{"a\\", "b"}));    // 2 backslashes + quote
    EXPECT_EQ(wincmd::splitArguments("a\\\\b c\\"), (Args{"a\\\\b", "c\\"}));  // no quote: literal
    EXPECT_EQ(wincmd::splitArguments("\"a \"\"b\"\" c\""), Args{"a \"b\" c"});  // "" inside quotes
    EXPECT_EQ(wincmd::splitArguments("\"\" x"), (Args{"", "x"}));               // an empty argument
    EXPECT_EQ(wincmd::splitArguments("\"open ended"), Args{"open ended"});
    EXPECT_EQ(wincmd::splitArguments("a\"b c\"d"), Args{"ab cd"});
}

TEST(WindowsCommandLine, ProgramTokenOfALineThatBeginsWithABlankIsEmpty) {
    std::string_view rest;
    EXPECT_EQ(wincmd::programToken(" /B /P\"x\"", rest), "");
    EXPECT_EQ(rest, " /B /P\"x\"");
    EXPECT_EQ(wincmd::programToken("\"C:\\a b\\run.exe\"x y", rest), "C:\\a b\\run.exe");
    EXPECT_EQ(rest, "x y");
    EXPECT_EQ(wincmd::programToken("C:\\run\\a\\\"b c", rest), "C:\\run\\a\\\"b");
}

TEST(WindowsCommandLine, UnquotedProgramWithBlanksIsResolvedAsWindowsDoes) {
    Sandbox sandbox;
    sandbox.writeFile("C:\\Program Files\\My Tool\\runner", "");
    std::string_view rest;
    EXPECT_EQ(wincmd::resolveProgram("C:\\Program Files\\My Tool\\runner /B /P\"x y\"", rest),
              "C:\\Program Files\\My Tool\\runner");
    EXPECT_EQ(rest, " /B /P\"x y\"");

    // An earlier candidate that exists wins, as it does on Windows.
    sandbox.writeFile("C:\\Program.exe", "");
    EXPECT_EQ(wincmd::resolveProgram("C:\\Program Files\\My Tool\\runner /B", rest), "C:\\Program.exe");
    EXPECT_EQ(rest, " Files\\My Tool\\runner /B");

    // Nothing exists: the first blank-delimited token, for the error to name.
    EXPECT_EQ(wincmd::resolveProgram("  C:\\None at all", rest), "C:\\None");
    EXPECT_EQ(wincmd::resolveProgram("\"C:\\Program Files\\My Tool\\runner\" a", rest),
              "C:\\Program Files\\My Tool\\runner");
    EXPECT_EQ(rest, " a");
    // A folder is no program.
    sandbox.makeFolder("C:\\Tools");
    EXPECT_EQ(wincmd::resolveProgram("C:\\Tools x", rest), "C:\\Tools");
    EXPECT_EQ(rest, " x");
}

TEST(WindowsCommandLine, ALongProgramPathWithABlankIsQuotedAndSplitBackWhole) {
    Sandbox sandbox;
    const std::string runner = "C:\\Program Files\\VSoft\\Automise 3.0\\ATCMD.exe";
    sandbox.writeFile(runner, "");
    // What the system tries first for the path unquoted.
    sandbox.writeFile("C:\\Program.exe", "");
    const std::string arguments = " /B /L\"C:\\Agent\\AutomiseLogs\\x.txt\" /B /P\"C:\\Agent\\a b.atz\"";
    const std::string line = commandLineProgram(runner) + arguments;
    EXPECT_EQ(line, "\"" + runner + "\"" + arguments);
    std::string_view rest;
    EXPECT_EQ(wincmd::resolveProgram(line, rest), runner);
    EXPECT_EQ(wincmd::splitArguments(rest),
              (Args{"/B", "/LC:\\Agent\\AutomiseLogs\\x.txt", "/B", "/PC:\\Agent\\a b.atz"}));
    // A short path has no blank and stays as it is; a tab separates as a blank does.
    EXPECT_EQ(commandLineProgram("C:\\PROGRA~1\\VSoft\\ATCMD.exe"), "C:\\PROGRA~1\\VSoft\\ATCMD.exe");
    EXPECT_EQ(commandLineProgram("C:\\Tools\tx\\run.exe"), "\"C:\\Tools\tx\\run.exe\"");
}

class PosixProcessesTest : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.writeFile("C:\\p\\sleep.atz", "sleep 20000\n");
        sandbox.writeFile("C:\\p\\quick.atz", "exit 7\n");
    }
    ProcessInformation start(const std::string& project) {
        ProcessInformation info;
        StartupInfo startup;
        const std::string line = windowsPathOf(VORBEX_BINARY_DIR "/atcmd-standin") + " /L\"C:\\p\\log.txt\" /P\"" +
                                 project + "\"";
        EXPECT_TRUE(processes.CreateProcess(nullptr, line, false, proc::CREATE_NO_WINDOW, 0, nullptr, startup, info))
            << processes.GetLastError();
        return info;
    }
    Sandbox sandbox;
    PosixProcesses processes;
};

TEST_F(PosixProcessesTest, ExitCodeIsStillActiveUntilTheChildEnds) {
    const ProcessInformation info = start("C:\\p\\quick.atz");
    ScopedProcHandle process(processes, info.hProcess), thread(processes, info.hThread);
    ASSERT_EQ(processes.WaitForSingleObject(process.get(), 10000), proc::WAIT_OBJECT_0);
    std::uint32_t code = 0;
    ASSERT_TRUE(processes.GetExitCodeProcess(process.get(), code));
    EXPECT_EQ(code, 7u);
    // Ended but not reaped: terminating it fails, as for an ended Windows process.
    EXPECT_FALSE(processes.TerminateProcess(process.get(), 0));
    EXPECT_EQ(processes.GetLastError(), ESRCH);
}

TEST_F(PosixProcessesTest, TerminationEndsARunningChildOnceAndWaitTimesOut) {
    const ProcessInformation info = start("C:\\p\\sleep.atz");
    ScopedProcHandle thread(processes, info.hThread);
    ScopedProcHandle process(processes, processes.OpenProcess(proc::PROCESS_ALL_ACCESS, true, info.dwProcessId));
    ScopedProcHandle first(processes, info.hProcess);
    ASSERT_TRUE(process);
    EXPECT_EQ(processes.WaitForSingleObject(process.get(), 50), proc::WAIT_TIMEOUT);
    std::uint32_t code = 0;
    ASSERT_TRUE(processes.GetExitCodeProcess(process.get(), code));
    EXPECT_EQ(code, proc::STILL_ACTIVE);
    EXPECT_TRUE(processes.TerminateProcess(process.get(), 0));
    EXPECT_FALSE(processes.TerminateProcess(first.get(), 0));  // the other handle sees it ended
    ASSERT_TRUE(processes.GetExitCodeProcess(first.get(), code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(processes.WaitForSingleObject(first.get(), proc::INFINITE), proc::WAIT_OBJECT_0);
}

TEST_F(PosixProcessesTest, EnvironmentBlocksAlwaysCarryTheMachine) {
    EnvBlock block = 0;
    ASSERT_TRUE(processes.CreateEnvironmentBlock(block, 0, true));
    ScopedEnvironment env(processes, block);
    const auto& vars = *reinterpret_cast<const std::vector<std::string>*>(block);
    auto has = [&](const std::string& v) { return std::find(vars.begin(), vars.end(), v) != vars.end(); };
    EXPECT_TRUE(has("VORBEX_MACHINE=" + sandbox.root()));
    EXPECT_TRUE(has("HOME=/"));
    const auto& empty = *reinterpret_cast<const std::vector<std::string>*>(processes.EmptyEnvironmentBlock());
    EXPECT_EQ(empty, Args{"VORBEX_MACHINE=" + sandbox.root()});
    EXPECT_FALSE(processes.DestroyEnvironmentBlock(0x1234));
}

TEST_F(PosixProcessesTest, TokenOfAProcessIsItsIdentityAndEnvironment) {
    ScopedProcHandle self(processes, processes.OpenProcess(proc::PROCESS_ALL_ACCESS, true, ::getpid()));
    ASSERT_TRUE(self);
    ProcHandle raw = 0;
    ASSERT_TRUE(processes.OpenProcessToken(self.get(), proc::TOKEN_LAUNCH_ACCESS, raw));
    ScopedProcHandle token(processes, raw);
    // Impersonating oneself needs no privilege and changes nothing.
    EXPECT_TRUE(processes.ImpersonateLoggedOnUser(token.get()));
    EXPECT_EQ(::geteuid(), ::getuid());
    EXPECT_TRUE(processes.RevertToSelf());
    EnvBlock block = 0;
    ASSERT_TRUE(processes.CreateEnvironmentBlock(block, token.get(), true));
    ScopedEnvironment env(processes, block);
    const auto& vars = *reinterpret_cast<const std::vector<std::string>*>(block);
    EXPECT_EQ(std::count_if(vars.begin(), vars.end(),
                            [](const std::string& v) { return v.rfind("VORBEX_MACHINE=", 0) == 0; }),
              1);

    EXPECT_EQ(processes.OpenProcess(proc::PROCESS_ALL_ACCESS, true, 0), 0u);
    EXPECT_FALSE(processes.OpenProcessToken(0x9999, 0, raw));
    EXPECT_FALSE(processes.CloseHandle(0x9999));
}

TEST_F(PosixProcessesTest, SnapshotNamesThisProcessByItsExecutable) {
    ScopedProcHandle snapshot(processes, processes.CreateToolhelp32Snapshot(proc::TH32CS_SNAPALL, 0));
    ASSERT_TRUE(snapshot);
    ProcessEntry entry;
    std::string mine;
    std::uint32_t previous = 0;
    bool ordered = true;
    for (bool more = processes.Process32First(snapshot.get(), entry); more;
         more = processes.Process32Next(snapshot.get(), entry)) {
        ordered = ordered && entry.th32ProcessID > previous;
        previous = entry.th32ProcessID;
        if (entry.th32ProcessID == static_cast<std::uint32_t>(::getpid())) mine = entry.szExeFile;
    }
    EXPECT_TRUE(ordered);
    EXPECT_EQ(mine, std::filesystem::read_symlink("/proc/self/exe").filename().string() + '\0');
}

}  // namespace
