// Whole runs in-process, from the entry procedure to the end of the run: the
// start-up lines, every way a run stops early, the run-log file, and the job
// loop. Main opens its own run log, so the tests read that file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/errors.h"
#include "base/text.h"
#include "run/start.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kStars(85, '*');
const std::string kEnded = "MSG : Preprocessing: Application Ended";
const std::string kJobList = "C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\KRNScripts.xml";

// One machine with everything a run needs, and a run over it.
struct Machine {
    TestRun run;
    CommandLineHost host{run.host, "5,2,Action_27_KRN"};
    XmlLibrary& xml = *run.real.xml;
    RunContext& ctx = *run.ctx;
    // Values of the agent's key, as they stand in the registry file.
    std::map<std::string, std::string> agent = {{"InstallationPath", "\"C:\\\\Agent\""},
                                                {"RegID", "\"42\""},
                                                {"MEMBERID", "\"7\""},
                                                {"SITEID", "\"3\""},
                                                {"TYPE", "\"MSMA\""}};

    Machine() {
        run.platform.host = &host;
        ctx.sys.host = &host;
        run.platform.xml = &xml;
        ctx.sys.xml = &xml;
        for (const char* folder : {"C:\\Agent\\kScripts", "C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts"}) {
            run.sandbox.makeFolder(folder);
        }
        run.sandbox.makeFolder(programFilesFolder() + "\\KOVAExMonScripts");
        for (const char* file : {"C:\\Agent\\KGnMD5.dll", "C:\\Agent\\kWbPost.dll",
                                 "C:\\Agent\\configuration\\kScriptDNS.ini", "C:\\Tools\\ATCMD.exe"}) {
            run.sandbox.writeFile(file, "x");
        }
        run.sandbox.writeFile(kJobList, "<root/>");
    }

    void useHost(Host& other) {
        run.platform.host = &other;
        ctx.sys.host = &other;
    }

    void runMain() {
        std::string body = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n";
        for (const auto& [name, data] : agent) {
            if (!data.empty()) body += "\"" + name + "\"=" + data + "\r\n";
        }
        body += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0]\r\n"
                "\"ATCMDLocation\"=\"C:\\\\Tools\\\\ATCMD.exe\"\r\n";
        run.sandbox.writeRegistry(body);
        EXPECT_THROW(Main(ctx), EndOfRun);
    }

    std::string logPath() { return "C:\\Agent\\ApplicationLog\\kHVRLog\\" + host.ExeBaseName() + "_12072026101530.txt"; }

    // The messages of the run-log file; continuation lines as they stand.
    std::vector<std::string> log() {
        std::vector<std::string> out;
        for (auto line : splitText(run.sandbox.readFile(logPath()), "\r\n")) {
            const auto tab = line.find('\t');
            out.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        }
        if (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }
    bool logged(const std::string& message) {
        for (const auto& m : log()) {
            if (m == message) return true;
        }
        return false;
    }
    int drops(const std::string& record) {
        int n = 0;
        const std::string folder = run.sandbox.hostPath("C:\\Agent\\HVRPostLogs");
        if (!fs::exists(folder)) return 0;
        for (const auto& e : fs::directory_iterator(folder)) n += startsWith(e.path().filename().string(), record);
        return n;
    }
};

TEST(Main, StartUpWritesTheBannerIdentityAndEndsWithTheLastLine) {
    Machine m;
    m.runMain();
    const auto log = m.log();
    ASSERT_GE(log.size(), 16u);
    const std::string version = log[8].substr(std::string("MSG : Exe Version :: ").size());
    EXPECT_FALSE(version.empty());
    const std::vector<std::string> start(log.begin(), log.begin() + 16);
    const std::vector<std::string> expected = {
        kStars,
        "MSG : Preprocessing: Application started",
        kStars,
        "MSG : Preprocessing: KOVA installation path : C:\\Agent\\",
        "MSG : Preprocessing: Creating Folder C:\\Agent\\\\AutomiseLogs",
        "MSG : Preprocessing: Creating Folder C:\\Agent\\\\HVRPostLogs",
        "MSG : Preprocessing: Reading Regid ",
        "MSG : Preprocessing: RegId : 42",
        "MSG : Exe Version :: " + version,
        "MSG : Preprocessing : Exe Version :: " + version,
        "MSG : Command line arguments :: 5,2,Action_27_KRN",
        "MSG : Preprocessing: Opening Registry key SOFTWARE\\KOVAOD",
        "MSG : Preprocessing: MEMBERID :: 7",
        "MSG : Preprocessing: SITEID :: 3",
        "MSG : Preprocessing: REGTYPE :: MSMA",
        "MSG : Preprocessing: in procedure subPreChecks",
    };
    EXPECT_EQ(start, expected);
    EXPECT_EQ(log.back(), kEnded);
    EXPECT_TRUE(m.logged("MSG : In fncParseKRNXML"));

    // Nothing was written before the run log was open.
    EXPECT_TRUE(m.run.lines.empty());
    EXPECT_EQ(m.ctx.objLogFile, nullptr);
    EXPECT_EQ(m.ctx.strStartTime, "12/07/2026 10:15:30");
    EXPECT_EQ(m.ctx.strInstallPath, "C:\\Agent\\");
    EXPECT_EQ(m.ctx.strExeVersion, version);
    EXPECT_EQ(m.ctx.strCmdTemplateID, "5");
    EXPECT_EQ(m.ctx.strCmdTemplateVersion, "2");
    EXPECT_EQ(m.ctx.strActionName, "Action_27_KRN");
    EXPECT_EQ(m.ctx.strFailureDesc, "No Scripts found to execute");
    EXPECT_EQ(m.drops("wpdcmtkvrmenuactionst"), 1);
}

TEST(Main, AnInstallationPathWithItsSeparatorAndExistingFoldersIsUsedAsItStands) {
    Machine m;
    m.agent["InstallationPath"] = "\"C:\\\\Agent\\\\\"";
    m.run.sandbox.makeFolder("C:\\Agent\\AutomiseLogs");
    m.run.sandbox.makeFolder("C:\\Agent\\HVRPostLogs");
    m.runMain();
    EXPECT_TRUE(m.logged("MSG : Preprocessing: KOVA installation path : C:\\Agent\\"));
    for (const auto& line : m.log()) EXPECT_EQ(line.find("Creating Folder"), std::string::npos) << line;
}

TEST(Main, CommandLinePiecesMayBeMissing) {
    Machine m;
    CommandLineHost shortLine(m.run.host, " 5,2 ");
    m.useHost(shortLine);
    m.runMain();
    EXPECT_TRUE(m.logged("MSG : Command line arguments ::  5,2 "));
    EXPECT_EQ(m.ctx.strCmdTemplateID, "5");
    EXPECT_EQ(m.ctx.strCmdTemplateVersion, "2");
    EXPECT_EQ(m.ctx.strActionName, "");
}

TEST(Main, ABlankCommandLineIsRejectedByThePreChecks) {
    Machine m;
    CommandLineHost blank(m.run.host, "   ");
    m.useHost(blank);
    m.runMain();
    const auto log = m.log();
    const auto at = std::find(log.begin(), log.end(), "MSG : Preprocessing: in procedure subPreChecks");
    ASSERT_LE(at + 3, log.end());
    EXPECT_EQ(*(at + 1), "ERR : Invalid commandline parameter");
    EXPECT_EQ(*(at + 2), "ERR : Preprocessing: Invalid commandline parameter");
    EXPECT_EQ(m.ctx.strATCMDLocation, "");
    EXPECT_EQ(m.drops("wpdcmtkvrmenuactionst"), 1);
}

TEST(Main, RegistrationIdWithoutANumberStopsTheRun) {
    for (const char* regId : {"\"0\"", "\"\"", "\"abc\"", ""}) {
        SCOPED_TRACE(regId);
        Machine m;
        m.agent["RegID"] = regId;
        m.runMain();
        const auto log = m.log();
        const auto at = std::find(log.begin(), log.end(), "MSG : Preprocessing: Invalid RegId");
        ASSERT_NE(at, log.end());
        EXPECT_TRUE(startsWith(*(at - 1), "MSG : Preprocessing: RegId : "));
        EXPECT_EQ(*(at + 1), "MSG : Preprocessing: Application stopped");
        EXPECT_EQ(log.back(), kEnded);
        for (const auto& line : log) EXPECT_EQ(line.find("Exe Version"), std::string::npos);
        EXPECT_EQ(m.drops(""), 0);
    }
    Machine leadingDigits;
    leadingDigits.agent["RegID"] = "\"12ab\"";
    leadingDigits.runMain();
    EXPECT_TRUE(leadingDigits.logged("MSG : Preprocessing: RegId : 12ab"));
    EXPECT_FALSE(leadingDigits.logged("MSG : Preprocessing: Invalid RegId"));
    EXPECT_TRUE(leadingDigits.logged("MSG : Preprocessing: in procedure subPreChecks"));
}

TEST(Main, InvalidIdentityEndsTheRunBeforeThePreChecks) {
    struct Case {
        std::map<std::string, std::string> values;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {{{"MEMBERID", "\"0\""}}, "ERR : Preprocessing:Invalid MEMBERID"},
        {{{"MEMBERID", "\"abc\""}, {"SITEID", "\"0\""}}, "ERR : Preprocessing:Invalid MEMBERID"},
        {{{"MEMBERID", "dword:0000002a"}}, "ERR : Preprocessing:Invalid MEMBERID"},
        {{{"SITEID", "\"x1\""}}, "ERR : Preprocessing:Invalid SITEID"},
        {{{"TYPE", "\"MSMA2\""}}, "ERR : Preprocessing:Invalid REGTYPE"},
        {{{"TYPE", "\" dpma \""}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error + " " + c.values.begin()->second);
        Machine m;
        for (const auto& [name, data] : c.values) m.agent[name] = data;
        m.runMain();
        EXPECT_EQ(m.log().back(), kEnded);
        if (c.error.empty()) {
            EXPECT_TRUE(m.logged("MSG : Preprocessing: in procedure subPreChecks"));
            EXPECT_TRUE(m.logged("MSG : Preprocessing: REGTYPE ::  dpma "));
            continue;
        }
        EXPECT_TRUE(m.logged(c.error));
        EXPECT_FALSE(m.logged("MSG : Preprocessing: in procedure subPreChecks"));
        EXPECT_EQ(m.drops(""), 0);
    }
    Machine dword;
    dword.agent["MEMBERID"] = "dword:0000002a";
    dword.runMain();
    EXPECT_TRUE(dword.logged("MSG : Preprocessing: MEMBERID :: "));
}

TEST(Main, RegistryValuesOfEveryTypeAreReadAsTheirTypeAllows) {
    Machine m;
    // The installation path as an expandable string, wrapped as the registry
    // editor wraps a long one: UTF-16 "C:\Agent".
    m.agent["InstallationPath"] = "hex(2):43,00,3a,00,5c,00,41,00,67,00,\\\r\n  65,00,6e,00,74,00,00,00";
    // Identity values that are no plain string read as empty, with no line of their own.
    m.agent["MEMBERID"] = "hex(b):07,00,00,00,00,00,00,00";
    m.agent["SITEID"] = "hex:33,00";
    m.agent["TYPE"] = "hex(7):4d,00,53,00,4d,00,41,00,00,00,00,00";
    m.runMain();
    EXPECT_TRUE(m.logged("MSG : Preprocessing: KOVA installation path : C:\\Agent\\"));
    EXPECT_TRUE(m.logged("MSG : Preprocessing: MEMBERID :: "));
    EXPECT_TRUE(m.logged("MSG : Preprocessing: SITEID :: "));
    EXPECT_TRUE(m.logged("MSG : Preprocessing: REGTYPE :: "));
    for (const auto& line : m.log()) EXPECT_EQ(line.find("Failed to read Registry key"), std::string::npos) << line;
    EXPECT_TRUE(m.logged("ERR : Preprocessing:Invalid MEMBERID"));
    EXPECT_EQ(m.log().back(), kEnded);
}

TEST(Main, WithoutAnInstallationNothingIsWrittenAnywhere) {
    if (!onPosixBackend()) {
        GTEST_SKIP() << "compares the whole machine root before and after, and makes the registry file "
                        "unreadable: only the posix machine is a folder of its own";
    }
    const std::vector<std::string> paths = {"", "\"   \"", "\"C:\\\\Missing\""};
    for (int variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(variant);
        Machine m;
        if (variant < 3) m.agent["InstallationPath"] = paths[variant];
        std::vector<fs::path> before;
        for (const auto& e : fs::recursive_directory_iterator(m.run.sandbox.root())) before.push_back(e.path());
        if (variant == 3) {
            // A registry that cannot be read hides the installation path too.
            m.run.sandbox.writeRegistry("");
            fs::remove(m.run.sandbox.root() + "/system.reg");
            fs::create_directory(m.run.sandbox.root() + "/system.reg");
            EXPECT_THROW(Main(m.ctx), EndOfRun);
        } else {
            m.runMain();
        }
        std::vector<fs::path> after;
        for (const auto& e : fs::recursive_directory_iterator(m.run.sandbox.root())) after.push_back(e.path());
        after.erase(std::remove(after.begin(), after.end(), fs::path(m.run.sandbox.root() + "/system.reg")), after.end());
        before.erase(std::remove(before.begin(), before.end(), fs::path(m.run.sandbox.root() + "/system.reg")),
                     before.end());
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(before, after);
        EXPECT_TRUE(m.run.lines.empty());
    }
}

void runWithExistingLog(std::uintmax_t size, bool keptOld) {
    Machine m;
    const std::string old = "OLD RUN\r\n";
    m.run.sandbox.writeFile(m.logPath(), old + std::string(size - old.size(), 'x'));
    m.runMain();
    const std::string text = m.run.sandbox.readFile(m.logPath());
    EXPECT_EQ(startsWith(text, old), keptOld);
    EXPECT_EQ(text.size() > size, keptOld);
    EXPECT_NE(text.find("MSG : Preprocessing: Application started"), std::string::npos);
}

TEST(Main, ARunLogOfOneMebibyteOrMoreIsReplacedASmallerOneContinued) {
    runWithExistingLog(1048576, false);
    runWithExistingLog(1048577, false);
    runWithExistingLog(1048575, true);

    // A log over the limit that another run is still writing is continued:
    // cutting it would lose that run's lines.
    Machine m;
    m.run.sandbox.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
    auto other = m.run.fs.OpenSharedLog(m.logPath(), 1048576);
    other->WriteLine("OTHER RUN " + std::string(1048576, 'x'));
    m.runMain();
    other->WriteLine("OTHER RUN GOES ON");
    other.reset();
    const std::string text = m.run.sandbox.readFile(m.logPath());
    EXPECT_TRUE(startsWith(text, "OTHER RUN xxx"));
    EXPECT_NE(text.find("MSG : Preprocessing: Application started"), std::string::npos);
    EXPECT_TRUE(endsWith(text, "OTHER RUN GOES ON\r\n"));
}

TEST(Main, AWorkingFolderMadeByAnotherRunMeanwhileIsNoError) {
    Machine m;
    m.run.sandbox.makeFolder("C:\\Agent\\HVRPostLogs");
    // Another run creates the folder between the check and the create: it is
    // reported missing once and is there by the time it is created.
    ForwardingFileSystem racing{m.run.fs};
    racing.failCall("FolderExists", CallFault().onPath("\\HVRPostLogs"));
    m.ctx.objFSO = &racing;
    m.runMain();
    EXPECT_TRUE(m.logged("MSG : Preprocessing: Creating Folder C:\\Agent\\\\HVRPostLogs"));
    for (const auto& line : m.log()) EXPECT_FALSE(startsWith(line, "ERR : in Main.")) << line;
    EXPECT_EQ(m.log().back(), kEnded);
    EXPECT_EQ(m.drops("wpdcmtkvrmenuactionst_N_42_"), 1);
}

TEST(Main, FailureToCreateTheScriptFolderGoesToTheMainHandler) {
    Machine m;
    ForwardingFileSystem failing{m.run.fs};
    failing.failCall("CreateFolder", CallFault().always().onPath("KOVAExMonScripts"));
    m.ctx.objFSO = &failing;
    fs::remove_all(m.run.sandbox.hostPath(programFilesFolder() + "\\KOVAExMonScripts"));
    // The folder is named below the short form of Program Files ("C:\PROGRA~1" on Windows).
    const std::string exMon = m.run.paths.ShortPath(programFilesFolder()) + "\\KOVAExMonScripts";
    m.runMain();
    const auto log = m.log();
    const auto at = std::find(log.begin(), log.end(), "ERR : in Main. 70::Permission denied");
    ASSERT_NE(at, log.end());
    EXPECT_EQ(*(at - 1), "MSG : Preprocessing: Creating Folder" + exMon);
    EXPECT_EQ(log.back(), kEnded);
    EXPECT_EQ(m.drops(""), 0);
}

std::string missingScriptJob(const std::string& id) {
    return id + "%@%1%@%S%@%1%@%HTTP@#@" + id + ".atp@#@0123456789abcdef0123456789abcdef%@%%@%1%@%1%@%0%@%";
}

TEST(Main, JobsRunInListOrderWithAPauseAfterEach) {
    Machine m;
    m.run.sandbox.writeFile(kJobList, "<root><item>" + missingScriptJob("A") + "</item><item>" +
                                          missingScriptJob("B") + "</item><item>" + missingScriptJob("C") +
                                          "</item></root>");
    m.runMain();
    std::vector<std::string> jobs;
    for (const auto& line : m.log()) {
        if (startsWith(line, "MSG : In fncExecuteKRNScript, ")) jobs.push_back(line);
    }
    EXPECT_EQ(jobs, (std::vector<std::string>{"MSG : In fncExecuteKRNScript, " + missingScriptJob("A"),
                                              "MSG : In fncExecuteKRNScript, " + missingScriptJob("B"),
                                              "MSG : In fncExecuteKRNScript, " + missingScriptJob("C")}));
    EXPECT_EQ(m.run.clock.sleptMs, 6000u);
    EXPECT_EQ(m.ctx.strFailureDesc, "File Not found/Failed to calculate the checksum");
    EXPECT_EQ(m.drops("wpdcmtkvrmenuactionst"), 1);
    EXPECT_EQ(m.log().back(), kEnded);
}

TEST(Main, AMalformedJobEndsTheRunAfterTheJobsBeforeIt) {
    Machine m;
    m.run.sandbox.writeFile(kJobList, "<root><item>" + missingScriptJob("A") + "</item><item>" +
                                          missingScriptJob("B") + "%@%extra</item><item>" + missingScriptJob("C") +
                                          "</item></root>");
    m.runMain();
    EXPECT_TRUE(m.logged("MSG : In fncExecuteKRNScript, " + missingScriptJob("A")));
    EXPECT_TRUE(m.logged("ERR : Preprocessing:Invalid command line parameters"));
    EXPECT_FALSE(m.logged("MSG : In fncExecuteKRNScript, " + missingScriptJob("C")));
    EXPECT_EQ(m.run.clock.sleptMs, 2000u);
    EXPECT_EQ(m.ctx.strFailureDesc, "Preprocessing:Invalid command line parameters");
    EXPECT_EQ(m.drops("wpdcmtkvrmenuactionst"), 1);

    // A comment before the first item leaves job 0 empty, which is malformed too.
    Machine comment;
    comment.run.sandbox.writeFile(kJobList, "<root><!-- list --><item>" + missingScriptJob("A") + "</item></root>");
    comment.runMain();
    EXPECT_TRUE(comment.logged("MSG : In fncExecuteKRNScript, "));
    EXPECT_TRUE(comment.logged("ERR : Preprocessing:Invalid command line parameters"));
    EXPECT_EQ(comment.run.clock.sleptMs, 0u);
}

}  // namespace
