// The posix process backend's own side: a program found and its arguments
// split by the Windows command-line rules, the exec's reasons, children
// reaped, the machine in every environment, tokens as ids. What every
// backend promises is in tests/contract/processes_contract.cpp.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/processes.h"
#include "support/test_support.h"

namespace {

using Args = std::vector<std::string>;

class PosixProcessesTest : public ::testing::Test {
protected:
    Sandbox sandbox;
    PosixProcesses processes;
};

TEST_F(PosixProcessesTest, AnUnquotedPathWithBlanksIsFoundAndItsArgumentsSplitTheWindowsWay) {
    // A program below a folder with a blank, named without quotes and without
    // its ".exe", as Windows resolves it: "C:\Program" is tried first and is
    // a folder, which is no program.
    std::filesystem::create_directories(sandbox.root() + "/drive_c/Program Files/Tool");
    std::filesystem::copy_file("/bin/sh", sandbox.root() + "/drive_c/Program Files/Tool/sh.exe");
    sandbox.makeFolder("C:\\Program");
    const std::string out = sandbox.root() + "/args.txt";
    const std::string script = "printf '%s|' \"$0\" \"$@\" > " + out + "; echo >> " + out;
    // The script goes in quotes with its own quotes as \" (Windows escaping).
    std::string quoted;
    for (char ch : script) quoted += ch == '"' ? std::string("\\\"") : std::string(1, ch);
    const std::string line =
        "C:\\Program Files\\Tool\\sh -c \"" + quoted + "\" zero \"b c\" d\\\"e \"x\"\"y\" back\\\\slash";
    ProcessInformation info;
    ASSERT_TRUE(processes.CreateProcess(nullptr, line, false, proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{}, info))
        << processes.GetLastError();
    {
        ScopedProcHandle process(processes, info.hProcess), thread(processes, info.hThread);
        ASSERT_EQ(processes.WaitForSingleObject(process.get(), 10000), proc::WAIT_OBJECT_0);
        std::uint32_t code = 1;
        ASSERT_TRUE(processes.GetExitCodeProcess(process.get(), code));
        EXPECT_EQ(code, 0u);
    }
    std::ifstream in(out);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "zero|b c|d\"e|x\"y|back\\\\slash|\n");
    // With its handles closed, the ended child is reaped: nothing is left to wait for.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(PosixProcessesTest, AProgramThatCannotRunFailsTheCallWithItsReason) {
    sandbox.writeFile("C:\\Tools\\plain.txt", "not a program");
    ProcessInformation info;
    auto start = [&](const std::string& line) {
        return processes.CreateProcess(nullptr, line, false, proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{}, info);
    };
    EXPECT_FALSE(start("vorbex-no-such-tool -s C:\\Agent\\kWbPost.dll"));
    EXPECT_EQ(processes.GetLastError(), ENOENT);
    EXPECT_FALSE(start("\"C:\\No Such\\prog.exe\" /x"));
    EXPECT_EQ(processes.GetLastError(), ENOENT);
    // Found, but no program: the exec's own error comes back through the pipe.
    EXPECT_FALSE(start("C:\\Tools\\plain.txt"));
    EXPECT_EQ(processes.GetLastError(), EACCES);
    EXPECT_FALSE(start("   "));
    EXPECT_EQ(processes.GetLastError(), ENOENT);
    // Each failed child is reaped already.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
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
