// The checks before any job: the order of the checks, which failure wins, and
// what is only logged or created on the way; and finding the script runner:
// its registry value, a value that is missing or blank, and a path that names
// a folder or no file.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/errors.h"
#include "base/text.h"
#include "run/prechecks.h"
#include "support/test_support.h"

namespace {

const std::string kRunnerKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0]\r\n";
const std::string kRunnerRead = "MSG : Preprocessing: Reading Registry key :: HKLM\\SOFTWARE\\VSoft\\Automise\\3.0[ATCMDLocation]";
const std::string kRunnerMissing =
    "ERR : ATCMDLocation Value not found in registry : HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0";

class PreChecksTest : public ::testing::Test {
protected:
    TestRun run;
    CommandLineHost host{run.host, "5,2,Action_12_KRN"};
    RunContext& ctx = *run.ctx;
    // The runner's script folder as the checks name it: below the short form
    // of Program Files (on Windows "C:\PROGRA~1"; on the posix machine the
    // path itself).
    std::string exMon;

    void SetUp() override {
        run.platform.host = &host;
        ctx.sys.host = &host;
        run.useInstallPath();
        ctx.strActionName = "Action_12_KRN";
        setRunner("\"C:\\\\Tools\\\\ATCMD.exe\"");
        run.sandbox.writeFile("C:\\Tools\\ATCMD.exe", "");
        for (const char* folder : {"C:\\Agent\\kScripts", "C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\ProcessedScripts"}) {
            run.sandbox.makeFolder(folder);
        }
        run.sandbox.makeFolder(programFilesFolder() + "\\KOVAExMonScripts");
        for (const char* file : {"C:\\Agent\\KGnMD5.dll", "C:\\Agent\\kWbPost.dll",
                                 "C:\\Agent\\configuration\\kScriptDNS.ini",
                                 "C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\KRNScripts.xml"}) {
            run.sandbox.writeFile(file, "x");
        }
        exMon = run.paths.ShortPath(programFilesFolder()) + "\\KOVAExMonScripts";
    }
    void setRunner(const std::string& data) { run.sandbox.writeRegistry(kRunnerKey + "\"ATCMDLocation\"=" + data + "\r\n"); }
    void remove(const std::string& path) { std::filesystem::remove_all(run.sandbox.hostPath(path)); }
};

TEST_F(PreChecksTest, EverythingPresentLogsTheChecksOnly) {
    subPreChecks(ctx);
    EXPECT_EQ(ctx.strFailureDesc, "");
    EXPECT_EQ(ctx.strATCMDLocation, "C:\\Tools\\ATCMD.exe");
    const std::vector<std::string> expected = {
        "MSG : Preprocessing: in procedure subPreChecks",
        kRunnerRead,
        "MSG : Preprocessing: HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0\\ATCMDLocation : C:\\Tools\\ATCMD.exe",
        "MSG : Preprocessing: Checking for folder C:\\Agent\\kScripts",
        "MSG : Preprocessing: Checking for folder C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\ProcessedScripts",
        "MSG : Preprocessing: Checking for folder " + exMon,
        "MSG : Preprocessing: Checking for file C:\\Agent\\KGnMD5.dll",
        "MSG : Preprocessing: Checking for file C:\\Agent\\kWbPost.dll",
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST_F(PreChecksTest, BlankCommandLineStopsBeforeTheRunnerIsLookedFor) {
    for (const char* line : {"", "   "}) {
        CommandLineHost blank(run.host, line);
        ctx.sys.host = &blank;
        run.lines.clear();
        subPreChecks(ctx);
        EXPECT_EQ(ctx.strFailureDesc, "Preprocessing: Invalid commandline parameter");
        EXPECT_EQ(run.messages(), (std::vector<std::string>{"MSG : Preprocessing: in procedure subPreChecks",
                                                            "ERR : Invalid commandline parameter"}));
        EXPECT_EQ(ctx.strATCMDLocation, "");
    }
}

TEST_F(PreChecksTest, TheFirstMissingPathEndsTheChecks) {
    struct Case {
        std::vector<std::string> missing;
        std::string error;
        std::string failure;
    };
    const std::string jobList = "C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\KRNScripts.xml";
    const Case cases[] = {
        {{"C:\\Agent\\kScripts", "C:\\Agent\\KGnMD5.dll"},
         "ERR : C:\\Agent\\kScripts folder not found",
         "Preprocessing:C:\\Agent\\kScripts folder not found"},
        {{"C:\\Agent\\KGnMD5.dll", "C:\\Agent\\kWbPost.dll"},
         "ERR : Preprocessing: C:\\Agent\\KGnMD5.dll file not found",
         "Preprocessing:C:\\Agent\\KGnMD5.dll file not found"},
        {{"C:\\Agent\\kWbPost.dll", jobList},
         "ERR : Preprocessing: C:\\Agent\\kWbPost.dll file not found",
         "Preprocessing:C:\\Agent\\kWbPost.dll file not found"},
        {{"C:\\Agent\\configuration\\kScriptDNS.ini", jobList},
         "ERR : Preprocessing: C:\\Agent\\configuration\\kScriptDNS.ini file not found",
         "Preprocessing:C:\\Agent\\configuration\\kScriptDNS.ini file not found"},
        {{jobList}, "ERR : Preprocessing: " + jobList + " file not found", "Preprocessing:" + jobList + " file not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        SetUp();
        for (const auto& path : c.missing) remove(path);
        run.lines.clear();
        ctx.strFailureDesc.clear();
        subPreChecks(ctx);
        EXPECT_EQ(ctx.strFailureDesc, c.failure);
        ASSERT_FALSE(run.messages().empty());
        EXPECT_EQ(run.messages().back(), c.error);
        int errors = 0;
        for (const auto& m : run.messages()) errors += startsWith(m, "ERR") ? 1 : 0;
        EXPECT_EQ(errors, 1);
    }
}

TEST_F(PreChecksTest, MissingProcessedScriptsIsReportedAndTheChecksGoOn) {
    remove("C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\ProcessedScripts");
    subPreChecks(ctx);
    EXPECT_TRUE(run.logged("ERR : C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\ProcessedScripts folder not found"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Checking for file C:\\Agent\\kWbPost.dll"));
    EXPECT_EQ(ctx.strFailureDesc, "");
}

TEST_F(PreChecksTest, RunnerFailureStaysUnlessALaterCheckFails) {
    setRunner("\"   \"");
    subPreChecks(ctx);
    EXPECT_EQ(ctx.strFailureDesc, "Preprocessing:Automise Binaries are not installed");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Checking for file C:\\Agent\\kWbPost.dll"));

    remove("C:\\Agent\\kWbPost.dll");
    subPreChecks(ctx);
    EXPECT_EQ(ctx.strFailureDesc, "Preprocessing:C:\\Agent\\kWbPost.dll file not found");
}

TEST_F(PreChecksTest, ScriptFolderUnderProgramFilesIsCreatedOnceThenOnlyChecked) {
    const std::string creating = "MSG : Preprocessing: Creating Folder" + exMon;
    remove(programFilesFolder() + "\\KOVAExMonScripts");
    subPreChecks(ctx);
    EXPECT_TRUE(run.logged(creating));
    EXPECT_TRUE(run.sandbox.exists(programFilesFolder() + "\\KOVAExMonScripts"));

    run.lines.clear();
    subPreChecks(ctx);
    EXPECT_FALSE(run.logged(creating));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Checking for folder " + exMon));
}

TEST_F(PreChecksTest, FailureToCreateTheScriptFolderReachesTheCaller) {
    // The runner's script folder cannot be created.
    ForwardingFileSystem failing{run.fs};
    failing.failCall("CreateFolder", CallFault().always().onPath("KOVAExMonScripts"));
    ctx.objFSO = &failing;
    remove(programFilesFolder() + "\\KOVAExMonScripts");
    try {
        subPreChecks(ctx);
        ADD_FAILURE() << "no error raised";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, err::PermissionDenied);
    }
    EXPECT_EQ(run.messages().back(), "MSG : Preprocessing: Creating Folder" + exMon);
}

TEST(CheckATCMD, RunnerDiscovery) {
    TestRun run;
    RunContext& ctx = *run.ctx;
    run.sandbox.writeFile("C:\\Tools\\ATCMD.exe", "");
    struct Case {
        std::string registry;  // the whole value line, or nothing
        bool found;
        std::string error;
        std::string failure;
    };
    const Case cases[] = {
        {"\"ATCMDLocation\"=\"C:\\\\Tools\\\\ATCMD.exe\"", true, "", "earlier"},
        {"", false, kRunnerMissing, "Preprocessing:Automise Binaries are not installed"},
        {"\"ATCMDLocation\"=\"  \"", false, kRunnerMissing, "Preprocessing:Automise Binaries are not installed"},
        {"\"ATCMDLocation\"=\"C:\\\\Tools\"", false, "ERR : File not found : C:\\Tools",
         "Preprocessing:File not found C:\\Tools"},
        {"\"ATCMDLocation\"=\"C:\\\\Tools\\\\none.exe\"", false, "ERR : File not found : C:\\Tools\\none.exe",
         "Preprocessing:File not found C:\\Tools\\none.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registry);
        run.sandbox.writeRegistry(kRunnerKey + c.registry + "\r\n");
        run.lines.clear();
        ctx.strFailureDesc = "earlier";
        EXPECT_EQ(fncCheckATCMD(ctx), c.found);
        EXPECT_EQ(ctx.strFailureDesc, c.failure);
        ASSERT_FALSE(run.messages().empty());
        EXPECT_EQ(run.messages().front(), kRunnerRead);
        if (!c.error.empty()) {
            EXPECT_EQ(run.messages().back(), c.error);
        } else {
            EXPECT_FALSE(run.loggedPart("ERR"));
        }
    }
}

}  // namespace
