// Whole runs in which the script's output reaches for what is not its own:
// links out of the logs folder, and a failing action that prints without end.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "e2e_support.h"
#include "base/text.h"
#include "context/counters.h"

namespace fs = std::filesystem;

namespace {

bool has(const std::vector<std::string>& messages, const std::string& message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::string allDrops(const E2EMachine& m) {
    std::string all;
    for (const auto& name : m.drops()) all += m.readDrop(name);
    return all;
}

const char* kOutsideExport =
    "<?xml version=\"1.0\"?>\r\n<FB6LOG filename=\"o\">\r\n<ACTION name=\"Outside\" status=\"Error\">\r\n"
    "<MESSAGE><![CDATA[OUTSIDE TEXT]]></MESSAGE>\r\n</ACTION>\r\n</FB6LOG>\r\n";

// A record parsed strictly: no recovery, nothing from the network. Null when
// the record is not well-formed.
using XmlDoc = std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>;
XmlDoc strictParse(const std::string& record) {
    return XmlDoc(xmlReadMemory(record.data(), static_cast<int>(record.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
                  xmlFreeDoc);
}

std::vector<std::string> varNames(const XmlDoc& doc) {
    std::vector<std::string> names;
    for (xmlNodePtr n = xmlDocGetRootElement(doc.get())->children; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE || std::string("var") != reinterpret_cast<const char*>(n->name)) continue;
        xmlChar* name = xmlGetProp(n, reinterpret_cast<const xmlChar*>("name"));
        names.emplace_back(reinterpret_cast<const char*>(name));
        xmlFree(name);
    }
    return names;
}

}  // namespace

// Links planted in the logs folder before the run: to a folder outside, to the
// drop folder with a record waiting there, and to single files outside. The
// scripts name their export and variables file through them. Nothing outside
// is read, changed or deleted, no outside text reaches a record, and the log
// says for each export why it was not read.
TEST(EndToEndScriptOutput, LinksOutOfTheLogsFolderReachNothing) {
    E2EMachine m;
    const std::string logs = "C:\\Agent\\AutomiseLogs\\";
    m.sandbox.makeFolder(logs);
    m.sandbox.writeFile("C:\\Outside\\victim.xml", kOutsideExport);
    m.sandbox.writeFile("C:\\Outside\\passwd", "root:x:0:0\n");
    m.sandbox.writeFile("C:\\Agent\\HVRPostLogs\\waiting.xml", "<waiting/>\r\n");
    const std::string host = m.sandbox.hostPath(logs);
    fs::create_symlink(m.sandbox.hostPath("C:\\Outside"), host + "/d");
    fs::create_symlink(m.sandbox.hostPath("C:\\Agent\\HVRPostLogs"), host + "/post");
    fs::create_symlink(m.sandbox.hostPath("C:\\Outside\\victim.xml"), host + "/page.xml");
    fs::create_symlink(m.sandbox.hostPath("C:\\Outside\\passwd"), host + "/vars.xml");

    auto project = [&](const std::string& exportPath, const std::string& varsPath) {
        return "console Project File: ${PROJECT}\n"
               "console [Export log as XML to file: " + exportPath + "]\n"
               "console MSG : ***** Creating VTXVariables XML file " + varsPath + "\n"
               "console [Copy]\n"
               "console Error : inside text\n"
               "console Build Failed\n"
               "console Exit with return code: 1\n"
               "exit 1\n";
    };
    // One job per run: a failed job stops the jobs after it.
    const std::vector<std::pair<std::string, std::string>> named = {
        {logs + "d\\victim.xml", logs + "post\\waiting.xml"}, {logs + "page.xml", logs + "vars.xml"}};
    for (const auto& [exportPath, varsPath] : named) {
        m.writeJobs({E2EMachine::job("501", m.addScript("A.atz", project(exportPath, varsPath)))});
        EXPECT_EQ(m.run(), 0);
        const auto messages = m.logMessages();
        const std::string outside = " lies outside C:\\Agent\\AutomiseLogs (through '..' or a link) and is not read";
        EXPECT_TRUE(has(messages, "MSG : Preprocessing: Exported Log :: " + exportPath)) << m.runLog();
        EXPECT_TRUE(has(messages, "ERR : Preprocessing:Exported Log :: " + exportPath + outside));
        EXPECT_TRUE(has(messages, "ERR : Preprocessing: VTX variables file " + varsPath + outside));
        EXPECT_FALSE(has(messages, "MSG : Preprocessing:Export Action not used!!!!"));
    }

    EXPECT_EQ(m.sandbox.readFile("C:\\Outside\\victim.xml"), kOutsideExport);
    EXPECT_EQ(m.sandbox.readFile("C:\\Outside\\passwd"), "root:x:0:0\n");
    EXPECT_EQ(m.readDrop("waiting.xml"), "<waiting/>\r\n");
    for (const char* link : {"/d", "/post", "/page.xml", "/vars.xml"}) EXPECT_TRUE(fs::is_symlink(host + link)) << link;

    // The failures are reported from the console log, and from nothing else.
    const std::string drops = allDrops(m);
    EXPECT_EQ(drops.find("OUTSIDE"), std::string::npos);
    EXPECT_EQ(drops.find("root:"), std::string::npos);
    std::size_t reported = 0;
    for (std::size_t at = 0; (at = drops.find("<faildesc><![CDATA[Postprocessing:Exit with return code: 1]]>", at)) !=
                             std::string::npos;
         ++at) {
        ++reported;
    }
    EXPECT_EQ(reported, 2u) << drops;
}

// A failing action that prints 40 MB of error lines to the console log, and
// one whose exported message is 40 MB, each in a run of its own: the failure
// record keeps at most 64 KiB of the text, cut with the marker; every record
// stays within the bound and its envelope, and the run log stays small with
// no line longer than the bound.
TEST(EndToEndScriptOutput, FortyMegabytesOfFailureGiveBoundedRecordsAndLog) {
    E2EMachine m;
    const std::string line = "Error : disk full while writing block " + std::string(60, '#');
    const long lines = 40L * 1000 * 1000 / static_cast<long>(line.size() + 2);
    const auto console = m.addScript("Loud.atz", "console Project File: ${PROJECT}\n"
                                                 "console [Copy]\n"
                                                 "repeat " + std::to_string(lines) + " " + line + "\n"
                                                 "console [Report]\n"
                                                 "console Build Failed\n"
                                                 "console Exit with return code: 1\n"
                                                 "exit 1\n");
    std::string message;
    message.reserve(41u * 1000 * 1000);
    while (message.size() < 40u * 1000 * 1000) message += line + "\r\n";
    m.sandbox.writeFile("C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts\\big.xml",
                        "<?xml version=\"1.0\"?>\r\n<FB6LOG filename=\"b\">\r\n"
                        "<ACTION name=\"Big\" status=\"Error\">\r\n<MESSAGE><![CDATA[" + message +
                            "]]></MESSAGE>\r\n</ACTION>\r\n</FB6LOG>\r\n");
    message = std::string();
    const auto exported = m.addScript("Export.atz", "console Project File: ${PROJECT}\n"
                                                    "export xml big.xml\n"
                                                    "console Build Failed\n"
                                                    "console Exit with return code: 1\n"
                                                    "exit 1\n");

    const std::size_t envelope = 1024;
    std::vector<std::string> seen;
    for (const auto& [job, action] : {std::pair{console, "Copy"}, std::pair{exported, "Big"}}) {
        m.writeJobs({E2EMachine::job("601", job, "5")});
        EXPECT_EQ(m.run(), 0);

        const std::string log = m.runLog();
        EXPECT_LT(log.size(), 4u * 1024 * 1024) << action;
        std::istringstream in(log);
        std::string logLine;
        std::size_t longest = 0;
        while (std::getline(in, logLine)) longest = std::max(longest, logLine.size());
        EXPECT_LE(longest, kTextBound + 1) << action;  // + the CR before LF

        int failureRecords = 0;
        for (const auto& name : m.drops()) {
            if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
            seen.push_back(name);
            const std::string record = m.readDrop(name);
            EXPECT_LE(record.size(), kTextBound + envelope) << name;
            if (!startsWith(name, "wpdcmatztempexecfail_")) continue;
            ++failureRecords;
            EXPECT_TRUE(startsWith(record.substr(record.find("<faildesc>")),
                                   std::string("<faildesc><![CDATA[Postprocessing:ACTION-DESC:") + action +
                                       "@#@Error : disk full"))
                << record.substr(0, 400);
            EXPECT_NE(record.find(std::string(kCutMarker) + "]]></faildesc>"), std::string::npos) << name;
        }
        EXPECT_EQ(failureRecords, 1) << action;
    }
}

// A script whose exit line ends in a colour reset (ESC) and whose variables
// file names a variable with a TAB (as a character reference), one of 3 MiB
// and one of 300 bytes that begins as the long one does. Every record the
// run drops parses with a strict parser, the receiver reads each name as it
// was counted, the long names are counted under distinct bounded keys, and
// the threshold file stays small. A second run, with the file grown to just
// under its bound and the TAB name's counter gone from it, adds no new key
// (said once) and still raises the counters the file holds.
TEST(EndToEndScriptOutput, RecordsStayXmlAndCounterKeysAndFileStayBounded) {
    E2EMachine m;
    const std::string tabName = "a\tb";
    const std::string longName = "L" + std::string(3 * 1024 * 1024, 'x');
    const std::string midName = longName.substr(0, 300);
    m.writeJobs({E2EMachine::job("701", m.addScript("Tint.atz",
        "console Project File: ${PROJECT}\n"
        "vars <wpatcmdscrvardata><var name='a&#9;b'>1</var><var name='" + longName + "'>2</var><var name='" +
            midName + "'>3</var><scriptname>Tint</scriptname></wpatcmdscrvardata>\n"
        "console Build Failed\n"
        "console Exit with return code: 1\x1b[0m\n"
        "exit 1\n"))});
    const std::string ini = "C:\\Agent\\Configuration\\ATZThreshold.ini";
    const std::string bound = "ERR : Preprocessing: " + ini + " has reached 8 MiB: new counters are not added to it, "
                              "those it holds still count";

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const auto before = m.drops();
        EXPECT_EQ(m.run(), 0);
        int failures = 0, variables = 0;
        for (const auto& name : m.drops()) {
            if (std::find(before.begin(), before.end(), name) != before.end()) continue;
            const std::string record = m.readDrop(name);
            const XmlDoc doc = strictParse(record);
            ASSERT_TRUE(doc) << name << ": " << record.substr(0, 300);
            if (startsWith(name, "wpdcmatztempexecfail_")) {
                ++failures;
                EXPECT_NE(record.find("<faildesc><![CDATA[Postprocessing:Exit with return code: 1?[0m]]>"),
                          std::string::npos);
            } else if (startsWith(record, "<wpatcmdscrvardata>")) {
                ++variables;
                const auto names = varNames(doc);
                // Compared whole, but only the short one is printed.
                EXPECT_TRUE(names == (std::vector<std::string>{tabName, longName, midName}))
                    << names.size() << " names, the first '" << (names.empty() ? "" : names[0]) << "'";
            }
        }
        EXPECT_EQ(failures, 1);
        EXPECT_EQ(variables, 1);

        const std::string counters = m.sandbox.readFile(ini);
        const auto messages = m.logMessages();
        const std::string value = run == 1 ? "=1\r\n" : "=2\r\n";
        EXPECT_NE(counters.find("\r\n" + counterKey(longName) + value), std::string::npos);
        EXPECT_NE(counters.find("\r\n" + counterKey(midName) + value), std::string::npos);
        EXPECT_NE(counterKey(longName).substr(0, 200), counterKey(midName));
        EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                                [](const std::string& l) { return startsWith(l, "MSG : Preprocessing: A name of more than 255"); }),
                  1);
        if (run == 1) {
            EXPECT_NE(counters.find("\r\n" + tabName + "=1\r\n"), std::string::npos);
            EXPECT_LT(counters.size(), 4096u);
            EXPECT_FALSE(has(messages, bound));
            // The TAB name's counter goes, and the file grows to 16 bytes short of its bound.
            std::string grown = replaceAll(counters, "\r\n" + tabName + "=1", "");
            grown += "[Filler]\r\n";
            for (int i = 0; grown.size() + 32 < kCounterFileBound - 16; ++i) grown += "f" + std::to_string(i) + "=1\r\n";
            grown += "pad=" + std::string(kCounterFileBound - 16 - grown.size() - 6, 'p') + "\r\n";
            ASSERT_EQ(grown.size(), kCounterFileBound - 16);
            m.sandbox.writeFile(ini, grown);
        } else {
            EXPECT_EQ(counters.find(tabName + "="), std::string::npos);
            EXPECT_EQ(counters.size(), kCounterFileBound - 16);
            EXPECT_EQ(std::count(messages.begin(), messages.end(), bound), 1);
        }
    }
}

// A job whose script id climbs out of the logs folder: the job fails with a
// text that says why before the runner starts, and nothing is written where
// the id leads.
TEST(EndToEndScriptOutput, AScriptIdThatLeavesTheLogsFolderFailsTheJob) {
    E2EMachine m;
    const std::string id = "x\\..\\..\\..\\Outside\\f";
    m.writeJobs({E2EMachine::job(id, m.addScript("Climb.atz", "console Project File: ${PROJECT}\nexit 0\n"))});
    EXPECT_EQ(m.run(), 0);
    const std::string failure =
        "Preprocessing:The script id " + id + " cannot name a console log inside C:\\Agent\\AutomiseLogs";
    EXPECT_TRUE(has(m.logMessages(), "ERR : " + failure)) << m.runLog();
    EXPECT_FALSE(fs::exists(m.sandbox.hostPath("C:\\Outside")));
    EXPECT_FALSE(m.sandbox.exists("C:\\Agent\\AutomiseLogs") &&
                 !fs::is_empty(m.sandbox.hostPath("C:\\Agent\\AutomiseLogs")));
    const std::string drops = allDrops(m);
    EXPECT_NE(drops.find("<faildesc><![CDATA[" + failure + "]]></faildesc>"), std::string::npos) << drops;
}
