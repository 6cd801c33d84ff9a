// What a run on the posix backend shows when the system says no under it: a
// disk that fills while a record is dropped, a lock that is never had or is
// refused, a pidfd that cannot be opened for the runner just started. Each
// case puts a failing call into the backend's table of system calls and looks
// at the run as a user does: its log, the drop folder, the files it keeps.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/text.h"
#include "context/config.h"
#include "context/counters.h"
#include "report/drop_folder.h"
#include "run/job_driver.h"
#include "support/test_support.h"
#include "sys_override.h"

namespace fs = std::filesystem;

namespace {

const std::string kProcessed = "C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\ProcessedScripts";

// What the replacements below answer; set by each test before its override.
int gError = 0;
std::string gPathEnd;  // the calls on a file whose path ends so fail
bool gFailWrites = false;
int gFailing = -1;  // which step of a rewrite fails: 0 write, 1 fsync, 2 rename

bool chosen(int fd) { return endsWith(pathOfFd(fd), gPathEnd); }
bool chosen(const char* path) { return endsWith(path, gPathEnd); }

class PosixFaultRun : public ::testing::Test {
protected:
    TestRun run;
    RunContext& ctx = *run.ctx;

    void SetUp() override {
        run.useJobMachine();
        ctx.strStartTime = "12/07/2026 10:15:30";
    }
    // The names in a folder that begin with `start`.
    std::vector<std::string> namesIn(const std::string& folder, const std::string& start = "") const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(run.sandbox.hostPath(folder))) {
            if (startsWith(e.path().filename().string(), start)) names.push_back(e.path().filename().string());
        }
        return names;
    }
    std::vector<std::string> drops(const std::string& record = "") const {
        return namesIn("C:\\Agent\\HVRPostLogs", record);
    }
    // The stand-in runner, and a direct-launch job for a project of it.
    std::string scriptJob(const std::string& project) {
        run.platform.md5 = ctx.sys.md5 = run.real.md5;
        run.platform.processes = ctx.sys.processes = run.real.processes;
        run.platform.desktop = ctx.sys.desktop = run.real.desktop;
        const std::string runner = std::string(VORBEX_BINARY_DIR) + "/atcmd-standin";
        EXPECT_TRUE(fs::exists(runner)) << "build the atcmd-standin target first";
        run.sandbox.writeFile("C:\\Runner\\ATCMD.exe", "");
        fs::copy_file(runner, run.sandbox.hostPath("C:\\Runner\\ATCMD.exe"), fs::copy_options::overwrite_existing);
        ctx.strATCMDLocation = "C:\\Runner\\ATCMD.exe";
        run.sandbox.writeFile(kProcessed + "\\Run.atz", project);
        return "T1%@%1%@%55%@%2%@%HTTP@#@Run.atz@#@" + systemMd5Hex(project) + "%@%%@%1%@%0%@%0%@%";
    }
};

// A disk that fills while a record is dropped, at its write or at its
// flush to disk: the log says which record is lost and why ("Disk full"),
// and the drop folder holds no part of it; once there is room again the
// same record goes through.
TEST_F(PosixFaultRun, ADropOntoAFullDiskIsLoggedAsLostAndLeavesNothingHalfWritten) {
    const std::string record = "<a>" + std::string(200000, 'x') + "</a>";
    const std::string name = "wpdcmatztempexecst_N_42_1207202610153030.xml";
    gError = ENOSPC;
    gPathEnd = ".tmp";  // the partial file in HVRPostLogs
    for (const bool atFlush : {false, true}) {
        SCOPED_TRACE(atFlush ? "fsync" : "write");
        gFailWrites = !atFlush;
        {
            SysCallOverride fullWrite(&posix::SysCalls::write, [](int fd, const void* data, size_t size) -> ssize_t {
                if (!gFailWrites || !chosen(fd)) return posix::kRealSysCalls.write(fd, data, size);
                // Part of the record goes, then the disk is full.
                if (size > 4096) return posix::kRealSysCalls.write(fd, data, 4096);
                errno = gError;
                return -1;
            });
            SysCallOverride fullFlush(&posix::SysCalls::fsync, [](int fd) {
                if (!chosen(fd)) return posix::kRealSysCalls.fsync(fd);
                errno = gError;
                return -1;
            });
            EXPECT_THROW(subDropRecord(ctx, "wpdcmatztempexecst", record, "[Template_Execution_Status]"), RunError);
        }
        EXPECT_TRUE(run.logged("ERR : Preprocessing: " + name + " could not be dropped into C:\\Agent\\HVRPostLogs :: "
                               "61 Disk full; the record is lost"));
        EXPECT_EQ(drops(), std::vector<std::string>{});
    }
    subDropRecord(ctx, "wpdcmatztempexecst", record, "[Template_Execution_Status]");
    EXPECT_EQ(drops(), std::vector<std::string>{name});
    EXPECT_EQ(run.sandbox.readFile("C:\\Agent\\HVRPostLogs\\" + name), record + "\r\n");
}

// A disk that fills while an INI file is rewritten, at whichever step: the
// file keeps its old content whole, no temporary file is left beside it, and
// the log has no line that claims the write; once there is room it goes.
TEST_F(PosixFaultRun, AFullDiskLeavesAnIniFileAsItWas) {
    const std::string ini = "C:\\Agent\\Configuration\\ATZThreshold.ini";
    const std::string before = "[Counters]\r\nRuns=4\r\n[Other]\r\nKept=yes\r\n";
    run.sandbox.writeFile(ini, before);
    gError = ENOSPC;
    gPathEnd = ".tmp";  // the new content's temporary file
    SysCallOverride fullWrite(&posix::SysCalls::write, [](int fd, const void* data, size_t size) -> ssize_t {
        if (gFailing != 0 || !chosen(fd)) return posix::kRealSysCalls.write(fd, data, size);
        errno = gError;
        return -1;
    });
    SysCallOverride fullFlush(&posix::SysCalls::fsync, [](int fd) {
        if (gFailing != 1 || !chosen(fd)) return posix::kRealSysCalls.fsync(fd);
        errno = gError;
        return -1;
    });
    SysCallOverride fullRename(&posix::SysCalls::rename, [](const char* from, const char* to) {
        if (gFailing != 2 || !chosen(from)) return posix::kRealSysCalls.rename(from, to);
        errno = gError;
        return -1;
    });
    for (gFailing = 0; gFailing < 3; ++gFailing) {
        SCOPED_TRACE(gFailing);
        fncWriteINI(ctx, "Counters", "Runs", "5", ini);
        EXPECT_EQ(run.sandbox.readFile(ini), before);
        EXPECT_EQ(namesIn("C:\\Agent\\Configuration"), std::vector<std::string>{"ATZThreshold.ini"});
        EXPECT_FALSE(run.loggedPart("Successfully Written"));
    }
    fncWriteINI(ctx, "Counters", "Runs", "5", ini);
    EXPECT_EQ(run.sandbox.readFile(ini), "[Counters]\r\nRuns=5\r\n[Other]\r\nKept=yes\r\n");
    EXPECT_TRUE(run.logged(iniWrittenLine("5", "Runs", ini)));
}

// The threshold file's lock not had, because another run keeps it (given
// up after 60 seconds, which a fake clock passes at once) or because it is
// refused outright (said at once, no wait): the log says which, and the
// counters are written all the same.
TEST_F(PosixFaultRun, AnIniLockNotHadIsLoggedAndTheCountersAreStillWritten) {
    const std::string ini = "C:\\Agent\\Configuration\\ATZThreshold.ini";
    gPathEnd = "ATZThreshold.ini.lock";
    const auto countOnce = [&] {
        CounterBatch batch = beginCounters(ctx, "Counters");
        const int runs = std::atoi(counterValue(ctx, batch, "Runs").c_str());
        raiseCounter(batch, "Runs", std::to_string(runs + 1));
        EXPECT_EQ(writeCounters(ctx, batch), std::vector<bool>{true});
    };
    {
        SysCallOverride taken(&posix::SysCalls::flock, [](int fd, int operation) {
            if (!chosen(fd)) return posix::kRealSysCalls.flock(fd, operation);
            errno = EWOULDBLOCK;
            return -1;
        });
        countOnce();
        EXPECT_TRUE(run.logged("ERR : Preprocessing: No lock on " + ini +
                               " within 60 seconds; it is updated without the lock"));
        EXPECT_GE(run.clock.sleptMs, 60000u);
        EXPECT_LT(run.clock.sleptMs, 61000u);
    }
    {
        SysCallOverride refused(&posix::SysCalls::open, [](const char* path, int flags, mode_t mode) {
            if (!chosen(path)) return posix::kRealSysCalls.open(path, flags, mode);
            errno = EACCES;
            return -1;
        });
        const std::uint64_t slept = run.clock.sleptMs;
        countOnce();
        EXPECT_TRUE(run.logged("ERR : Preprocessing: The lock on " + ini +
                               " cannot be taken (Permission denied); it is updated without the lock"));
        EXPECT_EQ(run.clock.sleptMs, slept);
    }
    EXPECT_EQ(run.profile.GetString("Counters", "Runs", "", 255, ini), "2");
}

// The job lock is refused to this program: the log says that nothing keeps
// this job apart from another run's, and the job runs and is reported.
TEST_F(PosixFaultRun, ARefusedJobLockIsLoggedAndTheJobStillRuns) {
    const std::string job = scriptJob("console Project File: ${PROJECT}\nconsole Build Completed\n");
    gPathEnd = "KOVAVariables.lock";
    SysCallOverride refused(&posix::SysCalls::open, [](const char* path, int flags, mode_t mode) {
        if (!chosen(path)) return posix::kRealSysCalls.open(path, flags, mode);
        errno = EACCES;
        return -1;
    });
    fncExecuteKRNScript(ctx, job);
    EXPECT_TRUE(run.logged("ERR : Preprocessing: The job lock C:\\Agent\\kScripts\\KOVAVariables.lock cannot be "
                           "taken (Permission denied); the job goes on without it"));
    EXPECT_EQ(ctx.strFailureDesc, "");
    EXPECT_EQ(drops("wpdcmatztempexecst").size(), 1u);
    EXPECT_TRUE(drops("wpdcmatztempexecfail").empty());
}

// No pidfd for the runner just started (the descriptors used up): the job
// fails at once with a line that says the script could not be run and why,
// the failure is reported, and the runner started is not left running
// behind the run (it would have written its file after 0.7 seconds).
TEST_F(PosixFaultRun, ARunnerWithoutAPidfdFailsItsJobAndIsNotLeftRunning) {
    const std::string job = scriptJob("sleep 700\nwrite C:\\Agent\\late.txt still running\n"
                                      "console Build Completed\n");
    SysCallOverride noPidfd(&posix::SysCalls::pidfd_open, [](pid_t, unsigned) {
        errno = EMFILE;
        return -1;
    });
    const auto start = std::chrono::steady_clock::now();
    fncExecuteKRNScript(ctx, job);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    const std::string failure = "PostProcessing:Failed to execute the script, 24-Too many open files";
    EXPECT_TRUE(run.logged("ERR : " + failure));
    const auto failed = drops("wpdcmatztempexecfail");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_NE(run.sandbox.readFile("C:\\Agent\\HVRPostLogs\\" + failed[0]).find("<![CDATA[" + failure + "]]>"),
              std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(run.sandbox.exists("C:\\Agent\\late.txt"));
}

}  // namespace
