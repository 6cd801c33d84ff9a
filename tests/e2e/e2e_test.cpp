// End-to-end runs of the built program against sandbox machines, with the
// stand-in runner. Each job pauses 2000 ms, so the scenarios are few and full.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e_support.h"
#include "base/text.h"
#include "report/receiver.h"

namespace {

bool has(const std::vector<std::string>& messages, const std::string& message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::size_t indexOf(const std::vector<std::string>& messages, const std::string& prefix) {
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (startsWith(messages[i], prefix)) return i;
    }
    return messages.size();
}

std::vector<std::string> dropsStartingWith(const E2EMachine& m, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& name : m.drops()) {
        if (startsWith(name, prefix)) out.push_back(name);
    }
    return out;
}

// The run's one action status record (empty, with a failure, when there is not exactly one).
std::string actionRecord(const E2EMachine& m) {
    const auto names = dropsStartingWith(m, "wpdcmtkvrmenuactionst_N_42_");
    EXPECT_EQ(names.size(), 1u);
    return names.size() == 1 ? m.readDrop(names[0]) : std::string();
}

// Seconds of the day of a log line's stamp "MM/DD/YYYY HH:MM:SS".
int stampSeconds(const std::string& line) {
    return std::stoi(line.substr(11, 2)) * 3600 + std::stoi(line.substr(14, 2)) * 60 + std::stoi(line.substr(17, 2));
}

const char* kCleanProject =
    "console Project File: ${PROJECT}\n"
    "console [Read registry]\n"
    "console Success\n"
    "console Build Completed\n";

}  // namespace

TEST(EndToEnd, ThreeJobsRunInOrderWithPausesAndOneActionRecord) {
    E2EMachine m;
    const auto a = m.addScript("A.atz", kCleanProject);
    const auto b = m.addScript("B.atz", kCleanProject);
    const auto c = m.addScript("C.atz", kCleanProject);
    m.writeJobs({E2EMachine::job("201", a), E2EMachine::job("202", b), E2EMachine::job("203", c)});
    EXPECT_EQ(m.run(), 0);

    const std::string log = m.runLog();
    const auto messages = m.logMessages();
    ASSERT_TRUE(has(messages, "MSG : Preprocessing: Application Ended")) << log;
    EXPECT_TRUE(has(messages, "MSG : Preprocessing: KOVA installation path : C:\\Agent\\"));

    // Jobs in list order, each followed by its 2000 ms pause.
    std::vector<std::string> jobLines;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("\tMSG : In fncExecuteKRNScript, ") != std::string::npos) jobLines.push_back(line);
    }
    ASSERT_EQ(jobLines.size(), 3u) << log;
    EXPECT_NE(jobLines[0].find("%@%201%@%"), std::string::npos);
    EXPECT_NE(jobLines[1].find("%@%202%@%"), std::string::npos);
    EXPECT_NE(jobLines[2].find("%@%203%@%"), std::string::npos);
    EXPECT_GE(stampSeconds(jobLines[1]) - stampSeconds(jobLines[0]), 2);
    EXPECT_GE(stampSeconds(jobLines[2]) - stampSeconds(jobLines[1]), 2);

    // The webpost URL points at a closed port: every status record is dropped.
    EXPECT_EQ(dropsStartingWith(m, "wpdcmatztempexecst_N_42_").size(), 3u);
    EXPECT_TRUE(dropsStartingWith(m, "wpdcmatztempexecfail").empty());
    const std::string record = actionRecord(m);
    EXPECT_NE(record.find("<mmid>7</mmid><siteid>9</siteid><regid>42</regid><tempid>5</tempid><tempver>2</tempver>"
                          "<menuid>27</menuid>"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("<status>1</status><faildesc></faildesc>"), std::string::npos) << record;
    EXPECT_TRUE(endsWith(record, "</wpdcmtkvrmenuactionst>\r\n"));
    // Nothing is left half-written in the drop folder.
    for (const auto& name : m.drops()) EXPECT_TRUE(endsWith(name, ".xml")) << name;
}

TEST(EndToEnd, FailingScriptWithExportAndVariables) {
    E2EMachine m;
    const auto patch = m.addScript("Patch.atz",
                                   "console Project File: ${PROJECT}\n"
                                   "export xml inline\n"
                                   "<?xml version=\"1.0\"?>\n"
                                   "<FB6LOG filename=\"Patch.atz\">\n"
                                   "<ACTION actionname=\"Copy\" name=\"Copy patch\" starttime=\"20261207101530\" "
                                   "endtime=\"20261207101531\" runtime=\"00000000000001\" status=\"Error\">\n"
                                   "<MESSAGE><![CDATA[Access denied\n"
                                   "]]></MESSAGE>\n"
                                   "</ACTION>\n"
                                   "</FB6LOG>\n"
                                   "end\n"
                                   "vars <wpatcmdscrvardata><var name='Disk'>42</var></wpatcmdscrvardata>\n"
                                   "console Build Failed\n"
                                   "console Exit with return code: 1\n"
                                   "exit 1\n");
    const auto later = m.addScript("Later.atz", kCleanProject);
    m.writeJobs({E2EMachine::job("301", patch), E2EMachine::job("302", later)});
    EXPECT_EQ(m.run(), 0);
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "MSG : Preprocessing: Proceeding with XML Parsing")) << m.runLog();

    // The export was parsed and deleted; nothing of it is left in AutomiseLogs.
    for (const auto& entry : std::filesystem::directory_iterator(m.sandbox.hostPath("C:\\Agent\\AutomiseLogs"))) {
        EXPECT_EQ(entry.path().filename().string().find("KOVAExportLog_"), std::string::npos);
    }

    const auto fail = dropsStartingWith(m, "wpdcmatztempexecfail_N_42_");
    ASSERT_EQ(fail.size(), 2u);  // the failing job and the skipped one after it
    const std::string first = m.readDrop(fail[0]);
    EXPECT_NE(first.find("<scrid>301</scrid>"), std::string::npos) << first;
    EXPECT_NE(first.find("<faildesc><![CDATA[Postprocessing:ACTION-DESC:Copy patch@#@Access denied]]></faildesc>"),
              std::string::npos)
        << first;
    const std::string second = m.readDrop(fail[1]);
    EXPECT_NE(second.find("<scrid>302</scrid>"), std::string::npos) << second;
    EXPECT_NE(second.find("Failed to execute the script / Build failed"), std::string::npos) << second;

    // The variables record is dropped under the variables file's own name.
    bool sawVariables = false;
    for (const auto& name : m.drops()) {
        if (startsWith(name, "VTXVariables_")) {
            sawVariables = true;
            const std::string record = m.readDrop(name);
            EXPECT_NE(record.find("<regid>42</regid>"), std::string::npos) << record;
            EXPECT_NE(record.find("<scriptid>301</scriptid><var name='Disk'><![CDATA[42]]></var>"), std::string::npos)
                << record;
        }
    }
    EXPECT_TRUE(sawVariables);

    EXPECT_NE(actionRecord(m).find("<status>0</status><faildesc>Failed to execute the script / Build failed"),
              std::string::npos);
}

TEST(EndToEnd, ChecksumMismatchSkipsTheScript) {
    E2EMachine m;
    auto entry = m.addScript("Bad.atz", "console never runs\n");
    entry = entry.substr(0, entry.rfind("@#@") + 3) + std::string(32, '0');
    m.writeJobs({E2EMachine::job("401", entry)});
    EXPECT_EQ(m.run(), 0);
    const auto messages = m.logMessages();
    EXPECT_EQ(indexOf(messages, "MSG : Preprocessing: Executing "), messages.size()) << m.runLog();
    const auto fail = dropsStartingWith(m, "wpdcmatztempexecfail_N_42_");
    ASSERT_EQ(fail.size(), 1u);
    EXPECT_NE(m.readDrop(fail[0]).find("does not tally with the template information. Template MD5:" +
                                       std::string(32, '0')),
              std::string::npos);
    EXPECT_NE(actionRecord(m).find("<faildesc>File Not found/Failed to calculate the checksum</faildesc>"),
              std::string::npos);
}

TEST(EndToEnd, OverrunningDirectScriptIsEndedWithEveryProcessItStarted) {
    E2EMachine m;
    // A child in the runner's group, one that ignores SIGTERM, and a daemon
    // that left the runner's session.
    const auto slow = m.addScript("Slow.atz",
                                  "console Project File: ${PROJECT}\n"
                                  "child 60000\n"
                                  "stubborn 60000\n"
                                  "detached 60000\n"
                                  "sleep 60000\n"
                                  "console Build Completed\n");
    // 0.01 minutes = 600 ms.
    m.writeJobs({E2EMachine::job("501", slow, "0.01")});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(m.run(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "MSG : Postprocessing: Successfully Terminated Process ")) << m.runLog();
    // The console log names every process the runner started.
    std::vector<std::string> pids;
    for (const auto& entry : std::filesystem::directory_iterator(m.sandbox.hostPath("C:\\Agent\\AutomiseLogs"))) {
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            for (const std::string label : {"Child process id: ", "Detached process id: "}) {
                if (startsWith(line, label)) pids.push_back(trimBlanks(replaceAll(line.substr(label.size()), "\r", "")));
            }
        }
    }
    ASSERT_EQ(pids.size(), 3u);
    for (const auto& pid : pids) {
        struct stat st {};
        // Give the kernel a moment to tear the tree down, then the process is gone or a zombie no more.
        bool gone = false;
        for (int i = 0; i < 50 && !gone; ++i) {
            gone = ::stat(("/proc/" + pid).c_str(), &st) != 0;
            if (!gone) {
                std::ifstream status("/proc/" + pid + "/status");
                std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
                gone = text.find("State:\tZ") != std::string::npos;
            }
            if (!gone) {
                timespec ts{0, 100 * 1000 * 1000};
                ::nanosleep(&ts, nullptr);
            }
        }
        EXPECT_TRUE(gone) << "process " << pid << " outlived the time limit";
    }
}

TEST(EndToEnd, PreCheckFailureRunsNoJob) {
    E2EMachine m;
    std::filesystem::remove(m.sandbox.hostPath("C:\\Agent\\KGnMD5.dll"));
    m.writeJobs({E2EMachine::job("601", m.addScript("A.atz", kCleanProject))});
    EXPECT_EQ(m.run(), 0);
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "ERR : Preprocessing:C:\\Agent\\KGnMD5.dll file not found")) << m.runLog();
    EXPECT_EQ(indexOf(messages, "MSG : In fncExecuteKRNScript"), messages.size());
    EXPECT_NE(actionRecord(m).find("<status>0</status><faildesc>Preprocessing:C:\\Agent\\KGnMD5.dll file not "
                                         "found</faildesc>"),
              std::string::npos);
}

TEST(EndToEnd, MalformedJobEndsTheRunAfterEarlierJobs) {
    E2EMachine m;
    const auto a = m.addScript("A.atz", kCleanProject);
    m.writeJobs({E2EMachine::job("701", a), E2EMachine::job("702", a) + "%@%extra",
                 E2EMachine::job("703", a)});
    EXPECT_EQ(m.run(), 0);
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "ERR : Preprocessing:Invalid command line parameters")) << m.runLog();
    EXPECT_EQ(dropsStartingWith(m, "wpdcmatztempexecst_N_42_").size(), 1u);  // only the first job reported
    EXPECT_NE(actionRecord(m).find("<faildesc>Preprocessing:Invalid command line parameters</faildesc>"),
              std::string::npos);
    EXPECT_TRUE(has(messages, "MSG : Preprocessing: Application Ended"));
}

TEST(EndToEnd, NoInstallationPathWritesNothing) {
    E2EMachine m;
    m.sandbox.writeRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n\"RegID\"=\"42\"\r\n");
    EXPECT_EQ(m.run(), 0);
    EXPECT_FALSE(m.sandbox.exists("C:\\Agent\\ApplicationLog"));
    EXPECT_FALSE(m.sandbox.exists("C:\\Agent\\HVRPostLogs"));
}

TEST(EndToEnd, OldWorkingFilesAreCleanedAtTheEnd) {
    E2EMachine m;
    m.writeJobs({});
    m.sandbox.writeFile("C:\\Agent\\AutomiseLogs\\old.txt", "old");
    m.sandbox.writeFile("C:\\Agent\\AutomiseLogs\\new.txt", "new");
    const std::string old = m.sandbox.hostPath("C:\\Agent\\AutomiseLogs\\old.txt");
    const auto fourDaysAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(96);
    std::filesystem::last_write_time(old, fourDaysAgo);
    EXPECT_EQ(m.run(), 0);
    EXPECT_FALSE(m.sandbox.exists("C:\\Agent\\AutomiseLogs\\old.txt"));
    EXPECT_TRUE(m.sandbox.exists("C:\\Agent\\AutomiseLogs\\new.txt"));
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "MSG : Preprocessing : in subdeletepreviousfiles"));
    // An empty job list is reported as such in the action record.
    EXPECT_NE(actionRecord(m).find("<faildesc>No Scripts found to execute</faildesc>"), std::string::npos);
}

TEST(EndToEnd, TextAndHtmlExportsAreParsedAndDeleted) {
    E2EMachine m;
    const std::string rule = "---------------|--------------------------|" + std::string(81, '-') +
                             "|------------|----------|----------|";
    const auto text = m.addScript("Zip.atz",
                                  "console Project File: ${PROJECT}\n"
                                  "export text inline\n"
                                  "************************************************************************\n"
                                  "Automise LogFile : C:\\p.atl\n"
                                  "Log Title    : Zip\n" +
                                      rule + "\n" +
                                      "Completed      |10:00:00                  |Zip folder|00:00:01    |          |"
                                      "          |\n" +
                                      rule + "\nall fine\n" + rule +
                                      "\nCopyright (c) 2026\n"
                                      "end\n"
                                      "console Build Completed\n");
    const auto html = m.addScript(
        "Install.atz",
        "console Project File: ${PROJECT}\n"
        "export html inline\n"
        "<html><body>\n"
        "<table><tr><td>Header</td></tr></table>\n"
        "<table><tr class=\"ErrorRow\">\n"
        "<td>Error</td><td>10:00:00</td><td>Install \"agent\"</td><td>00:01</td><td>x</td><td>y</td>\n"
        "</tr><tr class=\"ActionOutput\"><td><div><span><pre>setup &lt;exit 2&gt;</pre></span></div></td></tr></table>\n"
        "</body></html>\n"
        "end\n"
        "console Build Failed\n"
        "console Exit with return code: 2\n"
        "exit 2\n");
    m.writeJobs({E2EMachine::job("801", text), E2EMachine::job("802", html)});
    EXPECT_EQ(m.run(), 0);
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "MSG : Preprocessing: Proceeding with TEXT Parsing")) << m.runLog();
    EXPECT_TRUE(has(messages, "MSG : Preprocessing: Proceeding with HTML Parsing"));
    for (const auto& entry : std::filesystem::directory_iterator(m.sandbox.hostPath("C:\\Agent\\AutomiseLogs"))) {
        EXPECT_EQ(entry.path().filename().string().find("KOVAExportLog_"), std::string::npos)
            << entry.path() << " was left behind";
    }
    const auto fail = dropsStartingWith(m, "wpdcmatztempexecfail_N_42_");
    ASSERT_EQ(fail.size(), 1u);
    const std::string record = m.readDrop(fail[0]);
    EXPECT_NE(record.find("<scrid>802</scrid>"), std::string::npos) << record;
    EXPECT_NE(record.find("<![CDATA[Postprocessing:ACTION-DESC:Install 'agent'@#@setup <exit 2>]]>"), std::string::npos)
        << record;
    // The counter of the failing action's output is kept per script.
    EXPECT_NE(m.sandbox.readFile("C:\\Agent\\Configuration\\ATZThreshold.ini")
                  .find("[FailureDesc_Install.atz]\r\nInstall 'agent'=1"),
              std::string::npos);
}

TEST(EndToEnd, StatusRecordsArePostedToTheConfiguredReceiver) {
    Receiver receiver;
    ASSERT_TRUE(receiver.started());
    E2EMachine m(receiver.base() + "/");
    const auto ok = m.addScript("Ok.atz", kCleanProject);
    const auto bad = m.addScript("Bad.atz",
                                 "console Project File: ${PROJECT}\n"
                                 "console Build Failed\n"
                                 "console Exit with return code: 4\n"
                                 "exit 4\n");
    m.writeJobs({E2EMachine::job("901", ok), E2EMachine::job("902", bad)});
    EXPECT_EQ(m.run(), 0);
    const auto posts = receiver.posts();
    ASSERT_EQ(posts.size(), 3u) << m.runLog();
    const std::string query = ".asp?mmid=7&sid=9&rid=42&rty=DPMA\t";
    EXPECT_EQ(posts[0].rfind("/tfr_wpdcmatztempexecst" + query, 0), 0u) << posts[0];
    EXPECT_NE(posts[0].find("<scrid>901</scrid><scrver>1</scrver>"), std::string::npos);
    EXPECT_NE(posts[0].find("<status>1</status>"), std::string::npos);
    EXPECT_EQ(posts[1].rfind("/tfr_wpdcmatztempexecst" + query, 0), 0u) << posts[1];
    EXPECT_NE(posts[1].find("<status>0</status>"), std::string::npos);
    EXPECT_EQ(posts[2].rfind("/tfr_wpdcmatztempexecfail" + query, 0), 0u) << posts[2];
    EXPECT_NE(posts[2].find("<![CDATA[Postprocessing:Exit with return code: 4]]>"), std::string::npos) << posts[2];
    // Posted records are not dropped; only the action record is, always.
    EXPECT_TRUE(dropsStartingWith(m, "wpdcmatztempexec").empty());
    EXPECT_EQ(dropsStartingWith(m, "wpdcmtkvrmenuactionst_N_42_").size(), 1u);
}

// A script that rewrites another file of its own job once it was verified:
// posix cannot forbid that, so the job fails, saying which file changed; the
// primary script, which nobody touched, is not named.
TEST(EndToEnd, AScriptFileRewrittenWhileTheScriptRunsFailsTheJob) {
    E2EMachine m;
    const std::string extra = m.addScript("Extra.atz", "console verified\n");
    const std::string main =
        m.addScript("Main.atz", "console Project File: ${PROJECT}\nwrite Extra.atz console swapped\n"
                                "console Build Completed\n");
    m.writeJobs({"11%@%3%@%301%@%1%@%" + main + "%@%" + extra + "%@%1%@%1%@%0%@%"});
    EXPECT_EQ(m.run(), 0);
    ASSERT_EQ(m.sandbox.readFile("C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts\\Extra.atz"),
              "console swapped\r\n");

    const std::string text = "Postprocessing:Script file C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts\\"
                             "Extra.atz was changed while the script ran; the script may have run something else";
    const auto messages = m.logMessages();
    EXPECT_TRUE(has(messages, "ERR : " + text));
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string& s) {
                                return startsWith(s, "ERR : ") && s.find("was changed while") != std::string::npos;
                            }),
              1);
    const auto failures = dropsStartingWith(m, "wpdcmatztempexecfail_N_42_");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(m.readDrop(failures[0]).find(text), std::string::npos) << m.readDrop(failures[0]);
    EXPECT_NE(actionRecord(m).find("<faildesc>Failed to execute the script / Build failed</faildesc>"),
              std::string::npos);
}

// A job list in UTF-8 names a script whose file is named in UTF-8 on disk: the
// program holds the name in its code page, and every path it hands to Linux or
// to the runner must come out as the same UTF-8 name again.
TEST(EndToEnd, AScriptNamedOutsideAsciiRunsFromAUtf8JobList) {
    E2EMachine m;
    const std::string name = "caf\xC3\xA9.atz";  // UTF-8, as the job list and the disk spell it
    const std::string project = "console Project File: ${PROJECT}\n"
                                "console Success\n"
                                "console Build Completed\n";
    {
        std::ofstream file(m.sandbox.hostPath("C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts") + "/" + name,
                           std::ios::binary);
        file << project;
    }
    m.writeJobs({E2EMachine::job("401", "HTTP@#@" + name + "@#@" + md5Hex(project))});
    EXPECT_EQ(m.run(), 0);

    // The run log is written in the code page, where the name is one byte longer than ASCII.
    const std::string log = m.runLog();
    EXPECT_NE(log.find("caf\xE9.atz"), std::string::npos) << log;
    EXPECT_EQ(log.find(name), std::string::npos) << log;
    EXPECT_TRUE(dropsStartingWith(m, "wpdcmatztempexecfail").empty()) << log;
    ASSERT_EQ(dropsStartingWith(m, "wpdcmatztempexecst_N_42_").size(), 1u) << log;
    EXPECT_NE(actionRecord(m).find("<status>1</status><faildesc></faildesc>"), std::string::npos) << log;
}
