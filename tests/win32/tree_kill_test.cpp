// The runner's whole tree on Windows: in its job, and by the walk that stands
// in where the job cannot be had. Either way the backend says which it was,
// and a termination that reports no survivor has ended every process.
#include <gtest/gtest.h>

#include "platform/win32/processes.h"
#include "platform/win32/windows.h"
#include "win32_test_support.h"

namespace {

// The backend, with the runner unable to join its job when asked.
class JoblessProcesses : public Win32Processes {
public:
    bool refuseJob = false;

protected:
    bool assignToJob(std::uintptr_t job, ProcHandle process) override {
        return !refuseJob && Win32Processes::assignToJob(job, process);
    }
};

}  // namespace

TEST(Win32TreeKill, NoSurvivorReportedMeansNoneIsLeft) {
    for (const bool refuseJob : {false, true}) {
        SCOPED_TRACE(refuseJob ? "walk" : "job");
        JoblessProcesses sys;
        sys.refuseJob = refuseJob;
        TempFolder dir;
        const std::string pidFile = dir / "grandchild.txt";
        ProcessInformation info;
        ASSERT_TRUE(sys.CreateProcess(nullptr, helperCommandLine("grandchild", pidFile), false,
                                      proc::CREATE_NO_WINDOW, 0, nullptr, StartupInfo{}, info));
        ScopedProcHandle created(sys, info.hProcess), thread(sys, info.hThread);
        std::string text;
        for (int i = 0; i < 200 && text.empty(); ++i) {
            ::Sleep(50);
            text = readBytes(pidFile);
        }
        ASSERT_FALSE(text.empty()) << "the helper did not start its child";
        const HANDLE grandchild = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::stoul(text));
        ASSERT_NE(grandchild, nullptr);

        ScopedProcHandle process(sys, sys.OpenProcess(proc::PROCESS_ALL_ACCESS, true, info.dwProcessId));
        EXPECT_EQ(sys.IsTreeContained(process.get()), !refuseJob);
        ASSERT_TRUE(sys.TerminateProcess(process.get(), 0));
        EXPECT_EQ(sys.TerminateSurvivors(), 0u);
        // Nothing is waited for here: the termination has done the waiting.
        EXPECT_EQ(::WaitForSingleObject(grandchild, 0), WAIT_OBJECT_0);
        EXPECT_EQ(::WaitForSingleObject(reinterpret_cast<HANDLE>(process.get()), 0), WAIT_OBJECT_0);
        ::TerminateProcess(grandchild, 1);
        ::CloseHandle(grandchild);
    }
}
