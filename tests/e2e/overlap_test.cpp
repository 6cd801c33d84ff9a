// Runs of the program that overlap on one machine: what each run reports,
// logs and counts survives the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "base/text.h"
#include "platform/temp_names.h"
#include "report/receiver.h"

namespace {

constexpr int kRuns = 6;

// The text between the first `open` and the `close` after it ("" when absent).
std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const auto start = text.find(open);
    if (start == std::string::npos) return "";
    const auto end = text.find(close, start + open.size());
    return end == std::string::npos ? "" : text.substr(start + open.size(), end - start - open.size());
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// One record, whole: one opening and one closing root, one line, CR LF at the
// end only where the record's Part writes one.
void expectWhole(const std::string& name, const std::string& record, const std::string& root, bool lineEnd) {
    const std::string close = "</" + root + ">" + (lineEnd ? "\r\n" : "");
    EXPECT_TRUE(startsWith(record, "<" + root + ">")) << name << ": " << record;
    EXPECT_TRUE(endsWith(record, close)) << name << ": " << record;
    EXPECT_EQ(count(record, "<" + root + ">"), 1u) << name << ": " << record;
    EXPECT_EQ(count(record, "\n"), lineEnd ? 1u : 0u) << name << ": " << record;
}

const char* kFailingProject =
    "console Project File: ${PROJECT}\n"
    "varsfile vars.xml\n"
    "export xml inline\n"
    "<?xml version=\"1.0\"?>\n"
    "<FB6LOG filename=\"Fail.atz\">\n"
    "<ACTION actionname=\"Copy\" name=\"Copy patch\" starttime=\"20261207101530\" endtime=\"20261207101531\" "
    "runtime=\"00000000000001\" status=\"Error\">\n"
    "<MESSAGE><![CDATA[Access denied\n"
    "]]></MESSAGE>\n"
    "</ACTION>\n"
    "</FB6LOG>\n"
    "end\n"
    "vars <wpatcmdscrvardata><var name='Disk'>42</var></wpatcmdscrvardata>\n"
    "console Build Failed\n"
    "console Exit with return code: 1\n"
    "exit 1\n";

}  // namespace

// Six runs started at once, each for its own action and template, all failing
// the same action of the same script, with a receiver that refuses every
// post: every record reaches the drop folder once and whole, every run's log
// lines are kept, and the shared counters count every run.
TEST(Overlap, SixRunsAtOnceLoseNothing) {
    Receiver receiver({"--status", "500"});
    ASSERT_TRUE(receiver.started());
    E2EMachine m(receiver.base() + "/");

    std::vector<std::string> scriptIds, templateIds;
    for (int i = 1; i <= kRuns; ++i) {
        const std::string action = "Action_" + std::to_string(30 + i) + "_KRN";
        const std::string entry = m.addScript("Fail.atz", kFailingProject, action);
        scriptIds.push_back(std::to_string(1000 + i));
        m.writeJobs({"7" + std::to_string(i) + "%@%3%@%" + scriptIds.back() + "%@%1%@%" + entry + "%@%%@%1%@%1%@%0%@%"},
                    action);
        templateIds.push_back(std::to_string(50 + i));
    }

    std::vector<pid_t> runs;
    for (int i = 1; i <= kRuns; ++i) {
        runs.push_back(m.start(templateIds[i - 1] + ",2,Action_" + std::to_string(30 + i) + "_KRN"));
    }
    for (pid_t pid : runs) EXPECT_EQ(E2EMachine::finish(pid), 0);

    // Every record once and whole; nothing else in the drop folder.
    std::vector<std::string> status, failure, action, variables;
    for (const auto& name : m.drops()) {
        const std::string record = m.readDrop(name);
        if (startsWith(name, "wpdcmatztempexecst_N_42_")) {
            expectWhole(name, record, "wpdcmatztempexecst", true);
            status.push_back(between(record, "<scrid>", "</scrid>"));
        } else if (startsWith(name, "wpdcmatztempexecfail_N_42_")) {
            expectWhole(name, record, "wpdcmatztempexecfail", true);
            failure.push_back(between(record, "<scrid>", "</scrid>"));
            EXPECT_NE(record.find("ACTION-DESC:Copy patch@#@Access denied"), std::string::npos) << record;
        } else if (startsWith(name, "wpdcmtkvrmenuactionst_N_42_")) {
            expectWhole(name, record, "wpdcmtkvrmenuactionst", true);
            action.push_back(between(record, "<tempid>", "</tempid>"));
        } else if (startsWith(name, "vars") && endsWith(name, ".xml")) {
            expectWhole(name, record, "wpatcmdscrvardata", false);
            variables.push_back(between(record, "<scriptid>", "</scriptid>"));
            EXPECT_NE(record.find("<var name='Disk'><![CDATA[42]]></var>"), std::string::npos) << record;
        } else {
            ADD_FAILURE() << "unexpected file in the drop folder: " << name;
        }
    }
    for (auto* ids : {&status, &failure, &action, &variables}) std::sort(ids->begin(), ids->end());
    EXPECT_EQ(status, scriptIds);
    EXPECT_EQ(failure, scriptIds);
    EXPECT_EQ(variables, scriptIds);
    EXPECT_EQ(action, templateIds);
    EXPECT_EQ(receiver.posts().size(), 2u * kRuns);  // each status and failure record was offered first

    // No staging or temporary file is left where the drops were made.
    for (const char* folder : {"AutomiseLogs", "HVRPostLogs", "Configuration", "kScripts"}) {
        for (const auto& entry :
             std::filesystem::directory_iterator(m.sandbox.hostPath(std::string("C:\\Agent\\") + folder))) {
            EXPECT_FALSE(isTemporaryName(entry.path().filename().string())) << entry.path();
        }
    }

    // Every run's banner and end line, whether the runs shared a log or not.
    const auto messages = m.allLogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string(85, '*')), 2 * kRuns);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "MSG : Preprocessing: Application started"), kRuns);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "MSG : Preprocessing: Application Ended"), kRuns);

    // The shared counters were raised once by every run.
    const std::string ini = m.sandbox.readFile("C:\\Agent\\Configuration\\ATZThreshold.ini");
    EXPECT_NE(ini.find("[FailureDesc_Fail.atz]\r\nCopy patch=" + std::to_string(kRuns) + "\r\n"), std::string::npos)
        << ini;
    EXPECT_NE(ini.find("\r\nDisk=" + std::to_string(kRuns) + "\r\n"), std::string::npos) << ini;
}
