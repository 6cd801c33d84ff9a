// The Win32 processes backend's own side: the system's command-line rules,
// termination where no job could be had, and environment blocks as the
// started program sees them. What every backend promises is in
// tests/contract/processes_contract.cpp.
#include <gtest/gtest.h>

#include "base/command_line.h"
#include "platform/win32/processes.h"
#include "platform/win32/windows.h"
#include "win32_test_support.h"

namespace {

// The backend with its job calls able to fail as they fail on Windows: a
// runner in the user's session cannot join a job of a service in session 0.
class JobRefusingProcesses : public Win32Processes {
public:
    bool refuseJob = false;
    bool refuseJobEnd = false;

protected:
    bool assignToJob(std::uintptr_t job, ProcHandle process) override {
        return !refuseJob && Win32Processes::assignToJob(job, process);
    }
    bool terminateJob(std::uintptr_t job, std::uint32_t exitCode) override {
        return !refuseJobEnd && Win32Processes::terminateJob(job, exitCode);
    }
};

class Win32ProcessesTest : public ::testing::Test {
protected:
    // Starts this program as a helper; the process handle creation returned
    // is closed at the end of the test.
    ProcessInformation start(const std::string& mode, const std::string& argument = "",
                             EnvBlock environment = 0, std::uint32_t flags = proc::CREATE_NO_WINDOW) {
        ProcessInformation info;
        StartupInfo startup;
        startup.lpDesktop = "winsta0\\default";
        const bool created =
            sys.CreateProcess(nullptr, helperCommandLine(mode, argument), false, flags, environment, nullptr, startup, info);
        EXPECT_TRUE(created) << sys.GetLastError();
        held.push_back(info.hThread);
        held.push_back(info.hProcess);
        return info;
    }

    void TearDown() override {
        for (ProcHandle h : held) {
            if (h != 0) {
                ::TerminateProcess(reinterpret_cast<HANDLE>(h), 1);
                sys.CloseHandle(h);
            }
        }
    }

    // Starts the "grandchild" helper; its child's id goes to `grandchildId`.
    ProcessInformation startWithGrandchild(DWORD& grandchildId) {
        TempFolder dir;
        const std::string pidFile = dir / "grandchild.txt";
        const ProcessInformation info = start("grandchild", pidFile);
        std::string text;
        for (int i = 0; i < 200 && text.empty(); ++i) {
            ::Sleep(50);
            text = readBytes(pidFile);
        }
        grandchildId = text.empty() ? 0 : static_cast<DWORD>(std::stoul(text));
        return info;
    }

    JobRefusingProcesses sys;
    std::vector<ProcHandle> held;
};

// The command-line rules against the system's own. A program path with a
// blank, put first by wincmd::commandLineProgram, starts that program even
// where the system would take a prefix of it; the C runtime of the started
// program splits the rest as wincmd::splitArguments does; and without
// quotes, wincmd::resolveProgram names the program the system starts.
TEST_F(Win32ProcessesTest, TheSystemAgreesWithTheCommandLineRules) {
    TempFolder dir;
    const std::string folder = dir / "Test Tools";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string program = folder + "\\helper.exe";
    ASSERT_TRUE(::CopyFileA(testProgramPath().c_str(), program.c_str(), FALSE));
    const std::string out = dir / "args.txt";
    const std::string arguments = " --helper args \"" + out + "\"" +
                                  R"( /B /L"C:\A B\x.txt" "b c" d\"e a\\\"q back\\slash "" x"y z"w end\)";
    const auto expected = [&] {
        auto all = wincmd::splitArguments(arguments);
        std::string text;
        for (std::size_t i = 3; i < all.size(); ++i) text += all[i] + "\n";
        return text;
    }();
    auto run = [&](const std::string& line) {
        ::DeleteFileA(out.c_str());
        ProcessInformation info;
        if (!sys.CreateProcess(nullptr, line, false, proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{}, info)) {
            return "start failed: " + std::to_string(sys.GetLastError());
        }
        ScopedProcHandle process(sys, info.hProcess), thread(sys, info.hThread);
        if (sys.WaitForSingleObject(process.get(), 20000) != proc::WAIT_OBJECT_0) return std::string("no end");
        return readBytes(out);
    };

    // What the system would take first without quotes: a file that is no program.
    writeBytes(dir / "Test.exe", "not a program");
    EXPECT_EQ(run(wincmd::commandLineProgram(program) + arguments), expected);

    ::DeleteFileA((dir / "Test.exe").c_str());
    const auto exists = [](const std::string& path) {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    };
    std::string_view rest;
    const std::string unquoted = program.substr(0, program.size() - 4) + arguments;  // without ".exe"
    EXPECT_EQ(wincmd::resolveProgram(unquoted, rest, exists), program);
    EXPECT_EQ(run(unquoted), expected);
}

// Ending a process ends what it started in its job (the contract suite shows
// it); where it could not join one, by the parent ids of a snapshot.
TEST_F(Win32ProcessesTest, TerminationWithoutAJobEndsWhatTheProcessStarted) {
    sys.refuseJob = true;
    DWORD grandchildId = 0;
    const ProcessInformation info = startWithGrandchild(grandchildId);
    ASSERT_NE(grandchildId, 0u) << "the helper did not start its child";
    const HANDLE grandchild = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, grandchildId);
    ASSERT_NE(grandchild, nullptr);

    ScopedProcHandle process(sys, sys.OpenProcess(proc::PROCESS_ALL_ACCESS, true, info.dwProcessId));
    ASSERT_TRUE(sys.TerminateProcess(process.get(), 0));
    EXPECT_EQ(sys.WaitForSingleObject(process.get(), 10000), proc::WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0);
    ::TerminateProcess(grandchild, 1);
    ::CloseHandle(grandchild);
    // Ended once, it cannot be ended again.
    EXPECT_FALSE(sys.TerminateProcess(process.get(), 0));
}

TEST_F(Win32ProcessesTest, AJobThatCannotBeEndedStillLeavesTheProcessToEnd) {
    sys.refuseJobEnd = true;
    DWORD grandchildId = 0;
    const ProcessInformation info = startWithGrandchild(grandchildId);
    ASSERT_NE(grandchildId, 0u) << "the helper did not start its child";
    ScopedProcHandle process(sys, sys.OpenProcess(proc::PROCESS_ALL_ACCESS, true, info.dwProcessId));
    ASSERT_TRUE(sys.TerminateProcess(process.get(), 0));
    EXPECT_EQ(sys.WaitForSingleObject(process.get(), 10000), proc::WAIT_OBJECT_0);
    // The grandchild is beyond this fallback's reach; the test ends it.
    const HANDLE grandchild = ::OpenProcess(PROCESS_TERMINATE, FALSE, grandchildId);
    if (grandchild != nullptr) {
        ::TerminateProcess(grandchild, 1);
        ::CloseHandle(grandchild);
    }
}

TEST_F(Win32ProcessesTest, EnvironmentBlocks) {
    EnvBlock block = 0;
    ASSERT_TRUE(sys.CreateEnvironmentBlock(block, 0, true)) << sys.GetLastError();
    ASSERT_NE(block, 0u);
    // A Unicode block made by the system starts a helper that sees variables.
    const ProcessInformation withBlock =
        start("envcount", "", block, proc::CREATE_NO_WINDOW | proc::CREATE_UNICODE_ENVIRONMENT);
    EXPECT_TRUE(sys.DestroyEnvironmentBlock(block));
    ASSERT_EQ(sys.WaitForSingleObject(withBlock.hProcess, 20000), proc::WAIT_OBJECT_0);
    std::uint32_t count = 0;
    ASSERT_TRUE(sys.GetExitCodeProcess(withBlock.hProcess, count));
    EXPECT_GT(count, 0u);

    // The empty block starts a helper too, as an ANSI block.
    const ProcessInformation empty = start("envcount", "", sys.EmptyEnvironmentBlock());
    ASSERT_EQ(sys.WaitForSingleObject(empty.hProcess, 20000), proc::WAIT_OBJECT_0);
    std::uint32_t emptyCount = 99;
    ASSERT_TRUE(sys.GetExitCodeProcess(empty.hProcess, emptyCount));
    EXPECT_LT(emptyCount, count);
}

}  // namespace
