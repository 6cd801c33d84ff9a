// Processes: a started program is waited for, its exit code read and kept,
// a running one ended with what it started, an ended one not ended again;
// snapshots name this program; a launch with a process's token and its
// environment; failures leave an error code that later successes keep.
#include <chrono>
#include <thread>

#include "contract.h"

namespace {

class ProcessesContract : public Contract {
protected:
    Processes& processes = *sys.processes;
    std::vector<ProcHandle> held;

    void TearDown() override {
        for (ProcHandle h : held) {
            processes.TerminateProcess(h, 1);
            processes.CloseHandle(h);
        }
    }

    // The stand-in runner carrying out `project`; its console log is C:\p\log.txt.
    std::string runnerLine(const std::string& project) {
        box.writeFile("C:\\p\\job.atz", project);
        return "\"" + standInProgram() + "\" /L\"C:\\p\\log.txt\" /P\"C:\\p\\job.atz\"";
    }
    ProcessInformation start(const std::string& project, EnvBlock environment = 0) {
        ProcessInformation info;
        const bool started = processes.CreateProcess(nullptr, runnerLine(project), false, proc::CREATE_NO_WINDOW,
                                                     environment, nullptr, StartupInfo{}, info);
        EXPECT_TRUE(started) << processes.GetLastError();
        if (info.hThread != 0) processes.CloseHandle(info.hThread);
        if (info.hProcess != 0) held.push_back(info.hProcess);
        return info;
    }
    // The number after `label` in the runner's console log, once it is there.
    std::uint32_t logged(const std::string& label) {
        for (int i = 0; i < 200; ++i) {
            const std::string log = box.readFile("C:\\p\\log.txt");
            const auto at = log.find(label);
            if (at != std::string::npos && log.find('\n', at) != std::string::npos) {
                return static_cast<std::uint32_t>(std::stoul(log.substr(at + label.size())));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }
};

TEST_F(ProcessesContract, ARunningProcessIsWaitedForAndEndedOnce) {
    const ProcessInformation info = start("sleep 60000\n");
    ScopedProcHandle process(processes, processes.OpenProcess(proc::PROCESS_ALL_ACCESS, true, info.dwProcessId));
    ASSERT_TRUE(process);
    std::uint32_t code = 0;
    ASSERT_TRUE(processes.GetExitCodeProcess(process.get(), code));
    EXPECT_EQ(code, proc::STILL_ACTIVE);
    EXPECT_EQ(processes.WaitForSingleObject(process.get(), 50), proc::WAIT_TIMEOUT);
    ASSERT_TRUE(processes.TerminateProcess(process.get(), 0));
    EXPECT_EQ(processes.WaitForSingleObject(process.get(), 10000), proc::WAIT_OBJECT_0);
    // The handle creation gave sees it ended too.
    EXPECT_EQ(processes.WaitForSingleObject(info.hProcess, proc::INFINITE), proc::WAIT_OBJECT_0);
    EXPECT_FALSE(processes.TerminateProcess(info.hProcess, 0));
    ASSERT_TRUE(processes.GetExitCodeProcess(info.hProcess, code));
    EXPECT_EQ(code, 0u);
}

// The watch tells "finished in time" from "overran" by this refusal.
TEST_F(ProcessesContract, AnEndedProcessKeepsItsExitCodeAndCannotBeEnded) {
    const ProcessInformation info = start("exit 7\n");
    ASSERT_EQ(processes.WaitForSingleObject(info.hProcess, 20000), proc::WAIT_OBJECT_0);
    std::uint32_t code = 0;
    ASSERT_TRUE(processes.GetExitCodeProcess(info.hProcess, code));
    EXPECT_EQ(code, 7u);
    EXPECT_FALSE(processes.TerminateProcess(info.hProcess, 0));
    EXPECT_NE(processes.GetLastError(), 0);
    ASSERT_TRUE(processes.GetExitCodeProcess(info.hProcess, code));
    EXPECT_EQ(code, 7u);
}

TEST_F(ProcessesContract, EndingAProcessEndsWhatItStarted) {
    const ProcessInformation info = start("child 60000\nsleep 60000\n");
    const std::uint32_t childId = logged("Child process id: ");
    ASSERT_NE(childId, 0u) << "the runner did not start its child";
    ScopedProcHandle child(processes, processes.OpenProcess(proc::PROCESS_ALL_ACCESS, false, childId));
    ASSERT_TRUE(child);
    EXPECT_EQ(processes.WaitForSingleObject(child.get(), 0), proc::WAIT_TIMEOUT);

    ASSERT_TRUE(processes.TerminateProcess(info.hProcess, 0));
    EXPECT_EQ(processes.WaitForSingleObject(info.hProcess, 10000), proc::WAIT_OBJECT_0);
    EXPECT_EQ(processes.WaitForSingleObject(child.get(), 10000), proc::WAIT_OBJECT_0);
    if (processes.WaitForSingleObject(child.get(), 0) != proc::WAIT_OBJECT_0) processes.TerminateProcess(child.get(), 1);
}

TEST_F(ProcessesContract, TheSnapshotNamesThisProgram) {
    ScopedProcHandle snapshot(processes, processes.CreateToolhelp32Snapshot(proc::TH32CS_SNAPALL, 0));
    ASSERT_TRUE(snapshot);
    const std::string base = sys.host->ExeBaseName();
    ProcessEntry entry;
    int named = 0;
    for (bool more = processes.Process32First(snapshot.get(), entry); more;
         more = processes.Process32Next(snapshot.get(), entry)) {
        // The name as the buffer holds it: NUL-terminated.
        if (entry.szExeFile.rfind(base, 0) == 0 && entry.szExeFile.back() == '\0') ++named;
    }
    EXPECT_GE(named, 1) << base;
    EXPECT_FALSE(processes.Process32Next(snapshot.get(), entry));
}

// The launcher's way, with the token of a process this test started standing
// in for the shell's.
TEST_F(ProcessesContract, ALaunchWithTheTokenOfAProcessAndItsEnvironment) {
    ProcessInformation launched;
    const ProcessInformation sleeper = start("sleep 60000\n");
    ScopedProcHandle process(processes, processes.OpenProcess(proc::PROCESS_ALL_ACCESS, true, sleeper.dwProcessId));
    ASSERT_TRUE(process);
    ProcHandle rawToken = 0;
    ASSERT_TRUE(processes.OpenProcessToken(process.get(), proc::TOKEN_LAUNCH_ACCESS, rawToken))
        << processes.GetLastError();
    ScopedProcHandle token(processes, rawToken);
    {
        ASSERT_TRUE(processes.ImpersonateLoggedOnUser(token.get()));
        ScopedImpersonation impersonation(processes);

        EnvBlock block = 0;
        ASSERT_TRUE(processes.CreateEnvironmentBlock(block, token.get(), true));
        ScopedEnvironment environment(processes, block);
        const std::string program = standInProgram();
        const std::string folder = "C:\\p";
        StartupInfo startup;
        startup.lpDesktop = "winsta0\\default";
        box.writeFile("C:\\p\\three.atz", "exit 3\n");
        // The argument string begins with a blank, as the launcher builds it.
        const std::string arguments = " /L\"C:\\p\\three.log\" /P\"C:\\p\\three.atz\"";
        ASSERT_TRUE(processes.CreateProcessAsUser(token.get(), &program, arguments, false,
                                                  proc::CREATE_NO_WINDOW | proc::CREATE_UNICODE_ENVIRONMENT,
                                                  environment.get(), &folder, startup, launched))
            << processes.GetLastError();
    }
    EXPECT_TRUE(processes.RevertToSelf());
    ScopedProcHandle created(processes, launched.hProcess), thread(processes, launched.hThread);
    ASSERT_EQ(processes.WaitForSingleObject(launched.hProcess, 20000), proc::WAIT_OBJECT_0);
    std::uint32_t code = 0;
    ASSERT_TRUE(processes.GetExitCodeProcess(launched.hProcess, code));
    EXPECT_EQ(code, 3u) << box.readFile("C:\\p\\three.log");

    // The empty block starts a program too.
    const ProcessInformation bare = start("exit 5\n", processes.EmptyEnvironmentBlock());
    ASSERT_EQ(processes.WaitForSingleObject(bare.hProcess, 20000), proc::WAIT_OBJECT_0);
    ASSERT_TRUE(processes.GetExitCodeProcess(bare.hProcess, code));
    EXPECT_EQ(code, 5u);
}

TEST_F(ProcessesContract, FailuresLeaveAnErrorCodeThatSuccessesKeep) {
    EXPECT_EQ(processes.OpenProcess(proc::PROCESS_ALL_ACCESS, true, 0), 0u);
    EXPECT_NE(processes.GetLastError(), 0);

    ProcessInformation info;
    const std::string missing = "C:\\p\\missing.exe";
    box.makeFolder("C:\\p");
    // File not found is 2 on both: ENOENT and ERROR_FILE_NOT_FOUND.
    EXPECT_FALSE(processes.CreateProcess(&missing, " /x", false, proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{}, info));
    EXPECT_EQ(processes.GetLastError(), 2);
    EXPECT_FALSE(processes.CreateProcess(nullptr, "\"C:\\No Such\\prog.exe\" /x", false, proc::CREATE_NO_WINDOW, 0,
                                         nullptr, StartupInfo{}, info));
    EXPECT_NE(processes.GetLastError(), 0);
    EXPECT_TRUE(processes.RevertToSelf());
    EXPECT_NE(processes.GetLastError(), 0);
}

}  // namespace
