// The job driver: taking the job string apart, and which steps run for a job
// that meets an earlier failure, fails its checks, or is malformed.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "base/errors.h"
#include "base/text.h"
#include "run/job_driver.h"
#include "support/test_support.h"

namespace {

const std::string kProcessed = "C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\ProcessedScripts";

std::string job(const std::vector<std::string>& fields) {
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) text += (i ? "%@%" : "") + fields[i];
    return text;
}

// A well-formed job whose primary script is not where its mode says.
const std::string kMissingScriptJob =
    job({"T1", "1", "S1", "2", "HTTP@#@missing.atp@#@0123456789abcdef0123456789abcdef", "", "1", "1", "0", ""});

class JobDriverTest : public ::testing::Test {
protected:
    TestRun run;
    RunContext& ctx = *run.ctx;

    void SetUp() override {
        run.useJobMachine();
        // A side file that only the clean-up step of a checked job removes.
        run.sandbox.writeFile(kProcessed + "\\old.log3", "x");
    }
    int count(const std::string& part) const {
        int n = 0;
        for (const auto& m : run.messages()) n += m.find(part) != std::string::npos ? 1 : 0;
        return n;
    }
    std::vector<std::string> drops(const std::string& record) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(run.sandbox.hostPath("C:\\Agent\\HVRPostLogs"))) {
            if (startsWith(e.path().filename().string(), record)) names.push_back(e.path().filename().string());
        }
        return names;
    }
};

TEST_F(JobDriverTest, FieldsAreConvertedAndDumpedAsOneMessage) {
    struct Case {
        std::string process, download, context, processMs, downloadMs, contextStored;
    };
    const Case cases[] = {
        {"30", "0.5", "TRUE", "1800000", "30000", "true"},
        {"1.5", "abc", "1", "90000", "0", "1"},
        {"4.35", "", "False", "261000", "0", "false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.process);
        // An earlier failure keeps the job on the reporting path only.
        ctx.strFailureDesc = "Preprocessing:earlier";
        run.lines.clear();
        fncExecuteKRNScript(ctx, job({"T", "TV", "S", "SV", "E", "A", c.process, c.download, c.context, " /x "}));
        EXPECT_EQ(ctx.job.strProcessTime, c.processMs);
        EXPECT_EQ(ctx.job.strDownloadTime, c.downloadMs);
        EXPECT_EQ(ctx.job.strContext, c.contextStored);
        EXPECT_EQ(ctx.job.strCmdParameters, " /x ");
        EXPECT_EQ(ctx.job.arrJobParams.size(), 10u);
        const std::string dump = "MSG : Preprocessing: TemplateID :: T\r\nTemplateVersion :: TV\r\nScriptID :: S\r\n"
                                 "ScriptVersion :: SV\r\nExecuteScript :: E\r\nAdditionalScripts :: A\r\n"
                                 "ProcessTime :: " + c.processMs + "\r\nDownloadTime :: " + c.downloadMs +
                                 "\r\nContext :: " + c.contextStored + "\r\nCmd Parameters ::  /x ";
        EXPECT_TRUE(run.logged(dump));
    }
}

TEST_F(JobDriverTest, NineSeparatorsAloneAreTenEmptyFields) {
    ctx.strFailureDesc = "Preprocessing:earlier";
    ctx.job.strScriptID = "old";
    ctx.job.strExecuteScript = "old";
    fncExecuteKRNScript(ctx, "%@%%@%%@%%@%%@%%@%%@%%@%%@%");
    EXPECT_EQ(ctx.job.arrJobParams, std::vector<std::string>(10, ""));
    EXPECT_EQ(ctx.job.strScriptID, "");
    EXPECT_EQ(ctx.job.strExecuteScript, "");
    EXPECT_EQ(ctx.job.strProcessTime, "0");
    EXPECT_EQ(ctx.job.strDownloadTime, "0");
}

TEST_F(JobDriverTest, AnEarlierFailureOnlyReportsTheJob) {
    ctx.strFailureDesc = "Preprocessing:earlier";
    const std::uint32_t seed = ctx.rndSeed;
    fncExecuteKRNScript(ctx, kMissingScriptJob);
    EXPECT_EQ(run.messages().front(), "MSG : In fncExecuteKRNScript, " + kMissingScriptJob);
    EXPECT_TRUE(run.logged("ERR : Preprocessing:earlier"));
    // Threshold reading, checks, the random number and the clean-up never ran.
    EXPECT_EQ(ctx.strVTXVariablesTh, "");
    EXPECT_EQ(count("Checking for file"), 0);
    EXPECT_EQ(ctx.rndSeed, seed);
    EXPECT_TRUE(run.sandbox.exists(kProcessed + "\\old.log3"));
    EXPECT_FALSE(drops("wpdcmatztempexecst").empty());
}

TEST_F(JobDriverTest, AFailedCheckSkipsTheScriptAndLaterJobs) {
    const std::uint32_t seed = ctx.rndSeed;
    fncExecuteKRNScript(ctx, kMissingScriptJob);
    const std::string detail = "Preprocessing:File not found " + kProcessed + "\\missing.atp";
    EXPECT_TRUE(run.logged("ERR : " + detail));
    EXPECT_EQ(ctx.strFailureDesc, "File Not found/Failed to calculate the checksum");
    EXPECT_NE(ctx.strVTXVariablesTh, "");                           // step a ran
    EXPECT_EQ(ctx.rndSeed, seed);                                   // no random number was drawn
    EXPECT_FALSE(run.sandbox.exists(kProcessed + "\\old.log3"));  // the clean-up ran

    run.lines.clear();
    run.sandbox.writeFile(kProcessed + "\\old.log3", "x");
    fncExecuteKRNScript(ctx, kMissingScriptJob);
    EXPECT_TRUE(run.logged("ERR : File Not found/Failed to calculate the checksum"));
    EXPECT_EQ(count("Checking for file"), 0);
    EXPECT_TRUE(run.sandbox.exists(kProcessed + "\\old.log3"));
}

TEST_F(JobDriverTest, AMalformedJobEndsTheRun) {
    for (const std::string& bad : {std::string(), job(std::vector<std::string>(9, "x")),
                                   job(std::vector<std::string>(11, "x"))}) {
        SCOPED_TRACE(bad);
        SetUp();
        ctx.objLogFile = std::make_unique<CaptureStream>(&run.lines);
        ctx.strFailureDesc.clear();
        run.lines.clear();
        EXPECT_THROW(fncExecuteKRNScript(ctx, bad), EndOfRun);
        EXPECT_EQ(ctx.strFailureDesc, "Preprocessing:Invalid command line parameters");
        EXPECT_TRUE(run.logged("ERR : Preprocessing:Invalid command line parameters"));
        EXPECT_EQ(run.messages().back(), "MSG : Preprocessing: Application Ended");
        EXPECT_EQ(ctx.job.strTemplateID, "");  // none of its fields is taken
        EXPECT_EQ(ctx.objLogFile, nullptr);
        EXPECT_EQ(count("TemplateID ::"), 0);
        EXPECT_FALSE(drops("wpdcmtkvrmenuactionst").empty());
        EXPECT_TRUE(drops("wpdcmatztempexecst").empty());
        for (const auto& name : drops("wpdcmtkvrmenuactionst")) {
            std::filesystem::remove(run.sandbox.hostPath("C:\\Agent\\HVRPostLogs\\" + name));
        }
    }
}

// Short names as a volume without them gives them: the long path itself.
class LongNamesOnly : public ForwardingPaths {
public:
    using ForwardingPaths::ForwardingPaths;
    std::string ShortPath(const std::string& path) override {
        return ForwardingPaths::ShortPath(path).empty() ? "" : path;
    }
};

// Jobs that get as far as running their script, with the stand-in runner of
// this build (the Windows one beside the test programs on the Win32 backend).
class JobDriverRunTest : public JobDriverTest {
protected:
    void SetUp() override {
        JobDriverTest::SetUp();
        run.platform.md5 = ctx.sys.md5 = run.real.md5;
        run.platform.processes = ctx.sys.processes = run.real.processes;
        run.platform.desktop = ctx.sys.desktop = run.real.desktop;
        placeRunner("C:\\Runner\\ATCMD.exe");
    }
    void placeRunner(const std::string& windowsPath) {
        const std::string runner = onPosixBackend() ? std::string(VORBEX_BINARY_DIR) + "/atcmd-standin"
                                                    : run.host.ExeFolder() + "\\atcmd-standin.exe";
        ASSERT_TRUE(std::filesystem::exists(runner)) << "build the atcmd-standin target first";
        run.sandbox.writeFile(windowsPath, "");
        std::filesystem::copy_file(runner, run.sandbox.hostPath(windowsPath),
                                   std::filesystem::copy_options::overwrite_existing);
        ctx.strATCMDLocation = windowsPath;
    }
    // A direct-launch job for a project of the test runner.
    std::string scriptJob(const std::string& project) {
        run.sandbox.writeFile(kProcessed + "\\Run.atz", project);
        return job({"T1", "1", "55", "2", "HTTP@#@Run.atz@#@" + systemMd5Hex(project), "", "1", "0", "0", ""});
    }
};

TEST_F(JobDriverRunTest, AScriptWithoutVariablesIsRunAndReported) {
    const std::uint32_t seed = ctx.rndSeed;
    fncExecuteKRNScript(ctx, scriptJob("console Project File: ${PROJECT}\nconsole Build Completed\n"));
    EXPECT_EQ(ctx.strFailureDesc, "");
    EXPECT_NE(ctx.rndSeed, seed);
    EXPECT_TRUE(run.logged("MSG : PreProcessing: Variables File "));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: No VTX_Variables file found"));
    EXPECT_FALSE(run.sandbox.exists(kProcessed + "\\old.log3"));
    EXPECT_TRUE(drops("VTXVariables_").empty());
    EXPECT_EQ(drops("wpdcmatztempexecst").size(), 1u);
}

TEST_F(JobDriverRunTest, AnEarlierJobsVariablesFileIsNotTakenForTheNext) {
    fncExecuteKRNScript(ctx, scriptJob("console Project File: ${PROJECT}\n"
                                       "vars <wpatcmdscrvardata><var name='Old'>1</var></wpatcmdscrvardata>\n"
                                       "console Build Completed\n"));
    ASSERT_EQ(ctx.strFailureDesc, "");
    ASSERT_TRUE(run.loggedPart("MSG : PreProcessing: Variables File C:\\Agent\\AutomiseLogs\\VTXVariables_"));
    run.lines.clear();
    fncExecuteKRNScript(ctx, scriptJob("console Project File: ${PROJECT}\nconsole Build Completed\n"));
    EXPECT_TRUE(run.logged("MSG : PreProcessing: Variables File "));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: No VTX_Variables file found"));
    EXPECT_FALSE(run.logged("MSG : Preprocessing: in functions fncPostVTXVariables"));
}

TEST_F(JobDriverRunTest, ARunnerInAFolderWithABlankIsStartedByItsWholePath) {
    LongNamesOnly longNames(run.paths);
    run.platform.paths = ctx.sys.paths = &longNames;
    placeRunner("C:\\Script Runner\\ATCMD.exe");
    // What the system tries first for the path unquoted: no program at all.
    run.sandbox.writeFile("C:\\Script.exe", "not a program");
    fncExecuteKRNScript(ctx, scriptJob("console Project File: ${PROJECT}\nconsole Build Completed\n"));
    EXPECT_EQ(ctx.strFailureDesc, "");
    EXPECT_TRUE(run.loggedPart("With parameter, Exe path :C:\\Script Runner\\ATCMD.exe,Parameter : /B /L\""));
    EXPECT_EQ(drops("wpdcmatztempexecfail").size(), 0u);
}

TEST_F(JobDriverRunTest, AFailedScriptLeavesTheGenericFailureForTheRun) {
    fncExecuteKRNScript(ctx, scriptJob("console [Copy]\nconsole Error : denied\nconsole Build Failed\n"
                                       "console Exit with return code: 1\nexit 1\n"));
    EXPECT_EQ(ctx.strFailureDesc, "Failed to execute the script / Build failed");
    EXPECT_EQ(drops("wpdcmatztempexecfail").size(), 1u);
    EXPECT_FALSE(run.sandbox.exists(kProcessed + "\\old.log3"));
}

// A wall clock that is stepped once the wait for the job lock has begun.
class SteppedClock : public FakeClock {
public:
    explicit SteppedClock(int years) : years_(years) {}
    void sleepMs(std::uint32_t ms) override {
        FakeClock::sleepMs(ms);
        if (!stepped_ && sleptMs >= 1000) {
            stepped_ = true;
            time.year += years_;
        }
    }

private:
    int years_;
    bool stepped_ = false;
};

// The machine's job lock: a job that gets it tells the waiters by when it
// will let go (its time limit and more, on the boot clock); a job that finds
// it taken waits, logging nothing, until then and no longer, whatever is done
// to the wall clock meanwhile: a step forward lets it in no earlier, a step
// back holds it no longer.
TEST_F(JobDriverRunTest, TheJobLockIsWaitedForUntilTheHoldersDeadlineWhateverTheWallClockDoes) {
    const std::string project = "console Project File: ${PROJECT}\nconsole Build Completed\n";
    const std::string lockFile = "C:\\Agent\\kScripts\\KOVAVariables.lock";
    fncExecuteKRNScript(ctx, scriptJob(project));  // the first job also writes the threshold defaults
    const std::size_t linesBefore = run.lines.size();
    const std::int64_t before = run.clock.bootMs();
    fncExecuteKRNScript(ctx, scriptJob(project));
    const std::string record = run.locks.MachineLockRecord(lockFile);
    EXPECT_GE(numericValue(splitText(record, " ").front()), before + 60000.0) << record;  // a limit of 1 minute
    const std::size_t linesAlone = run.lines.size() - linesBefore;

    for (const int years : {1, -1}) {
        SCOPED_TRACE(years);
        SteppedClock clock(years);
        clock.boot = run.clock.boot;
        run.platform.clock = ctx.sys.clock = &clock;
        // Another run holds the lock and will have let go within five minutes.
        // It is held from another thread: a Win32 mutex is its owning
        // thread's to take again, so only another thread (or process) is kept
        // out by it.
        const std::int64_t deadline = clock.bootMs() + 300000;
        const std::string holder = std::to_string(deadline) + " " + std::to_string(clock.bootMs()) + " " +
                                   clock.bootId();
        std::promise<bool> taken;
        std::promise<void> letGo;
        std::thread other([&] {
            auto held = run.locks.TryLockMachine(lockFile, holder);
            taken.set_value(held != nullptr);
            letGo.get_future().wait();
        });
        const bool otherHolds = taken.get_future().get();
        const std::size_t linesStart = run.lines.size();
        if (otherHolds) fncExecuteKRNScript(ctx, scriptJob(project));
        letGo.set_value();
        other.join();
        ASSERT_TRUE(otherHolds);
        EXPECT_GE(clock.bootMs(), deadline);
        EXPECT_LT(clock.sleptMs, 301000u);
        EXPECT_EQ(ctx.strFailureDesc, "");
        EXPECT_EQ(run.lines.size(), linesStart + linesAlone);
        run.clock.boot = clock.boot;
        run.platform.clock = ctx.sys.clock = &run.clock;
    }
    EXPECT_EQ(drops("wpdcmatztempexecst").size(), 4u);
}

}  // namespace
