// Whole runs in which the script's side reaches for the records after they
// leave the script: a process that rewrites and truncates the variables file
// for the whole run, and names planted in the logs folder under every name a
// drop could be foreseen to use there.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "base/text.h"
#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

const char* kRecords[] = {"wpdcmatztempexecst", "wpdcmatztempexecfail", "wpdcmtkvrmenuactionst"};

// One failing job whose variables file is AutomiseLogs\vars.xml.
std::string failingJobWithVariables(E2EMachine& m, const std::string& first = "") {
    return m.addScript("Vars.atz", "console Project File: ${PROJECT}\n" + first +
                                       "varsfile vars.xml\n"
                                       "vars <wpatcmdscrvardata><var name='Disk'>42</var></wpatcmdscrvardata>\n"
                                       "console Build Failed\n"
                                       "console Exit with return code: 1\n"
                                       "exit 1\n");
}

std::vector<std::string> dropsStartingWith(const E2EMachine& m, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& name : m.drops()) {
        if (startsWith(name, prefix)) names.push_back(name);
    }
    return names;
}

// True when a parser that recovers nothing takes `bytes` as XML.
bool strictlyWellFormed(const std::string& bytes) {
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(doc);
    return doc != nullptr;
}

// The drop-name stamp of the local time `t`: MMDDYYYYHHNNSS and the second
// once more without a leading zero.
std::string stampOf(time_t t) {
    struct tm tm {};
    ::localtime_r(&t, &tm);
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d%04d%02d%02d%02d%d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_sec);
    return text;
}

}  // namespace

// A process of the script's side rewrites the variables file with a forged
// record (another machine's regid and script id, a variable of its own) and
// empties it, over and over, for the whole run. Whatever it caught, the
// dropped record is the program's own: whole, well-formed for a strict
// parser, this run's identity once, and only variables the script's side
// wrote. Had the program missed its read, it says so and drops none.
TEST(EndToEndRecords, VariablesFileRewrittenForTheWholeRunNeverReachesTheDrop) {
    E2EMachine m;
    m.sandbox.makeFolder("C:\\Agent\\AutomiseLogs");
    m.writeJobs({E2EMachine::job("501", failingJobWithVariables(m))});
    const std::string vars = m.sandbox.hostPath("C:\\Agent\\AutomiseLogs\\vars.xml");
    const std::string forged =
        "<wpatcmdscrvardata><regid>9999</regid><scandatetime>01/01/2026 00:00:00</scandatetime>"
        "<scriptid>666</scriptid><var name='Forged'><![CDATA[1]]></var></wpatcmdscrvardata>";
    std::atomic<bool> stop{false};
    std::atomic<long> rounds{0};
    // Mostly a whole forged file put in place at once, every eighth round the
    // file emptied where it stands.
    std::thread watcher([&] {
        const std::string spare = vars + ".w";
        for (long i = 0; !stop; ++i, ++rounds) {
            if (i % 8 == 7) {
                ::close(::open(vars.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
                continue;
            }
            const int fd = ::open(spare.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) continue;
            (void)!::write(fd, forged.data(), forged.size());
            ::close(fd);
            ::rename(spare.c_str(), vars.c_str());
        }
    });
    const int status = m.run();
    stop = true;
    watcher.join();
    EXPECT_EQ(status, 0);
    EXPECT_GT(rounds.load(), 100);

    const auto dropped = dropsStartingWith(m, "vars");
    ASSERT_LE(dropped.size(), 1u);
    std::string outcome = "none";
    if (dropped.empty()) {
        const auto messages = m.logMessages();
        EXPECT_NE(std::find(messages.begin(), messages.end(), "ERR: Failed to load C:\\Agent\\AutomiseLogs\\vars.xml"),
                  messages.end())
            << m.runLog();
    } else {
        EXPECT_EQ(dropped[0], "vars.xml");
        // This run's identity once, then the one variable of whichever
        // version of the file was read.
        const std::string record = m.readDrop(dropped[0]);
        EXPECT_TRUE(strictlyWellFormed(record)) << record;
        std::smatch variable;
        EXPECT_TRUE(std::regex_match(
            record, variable,
            std::regex("<wpatcmdscrvardata><regid>42</regid><scandatetime>[0-9/: ]+</scandatetime>"
                       "<scriptid>501</scriptid>(<var name='Disk'><!\\[CDATA\\[42\\]\\]></var>|"
                       "<var name='Forged'><!\\[CDATA\\[1\\]\\]></var>)</wpatcmdscrvardata>")))
            << record;
        if (!variable.empty()) outcome = variable[1].str().find("Disk") != std::string::npos ? "Disk" : "Forged";
    }
    std::printf("variables record dropped: %s (%ld rewrites)\n", outcome.c_str(), rounds.load());
    for (const char* record : kRecords) EXPECT_EQ(dropsStartingWith(m, record).size(), 1u) << record;
}

// Before the drops, the logs folder is filled with folders and read-only
// files under every name a drop of this run could be foreseen to use there
// (record, registration id, each second of the next minute and a half, the
// program's process id; the variables file's name and its numbered forms),
// and folders under the final names. Every record is placed all the same,
// and nothing is made in the logs folder for a record.
TEST(EndToEndRecords, NamesPlantedInTheLogsFolderKeepNoRecordOut) {
    E2EMachine m;
    m.sandbox.makeFolder("C:\\Agent\\AutomiseLogs");
    m.writeJobs({E2EMachine::job("501", failingJobWithVariables(m, "sleep 1500\n"))});
    const std::string logs = m.sandbox.hostPath("C:\\Agent\\AutomiseLogs") + "/";

    const pid_t pid = m.start("5,2,Action_27_KRN");
    ASSERT_GT(pid, 0);
    const std::string ours = ".vx" + std::to_string(pid) + ".tmp";
    std::set<std::string> planted;
    int n = 0;
    const auto plant = [&](const std::string& name, bool folder) {
        const std::string path = logs + name;
        if (folder) {
            fs::create_directory(path);
        } else {
            ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0444));
        }
        planted.insert(name);
    };
    const time_t now = ::time(nullptr);
    for (time_t t = now - 2; t < now + 90; ++t) {
        for (const char* record : kRecords) {
            const std::string name = std::string(record) + "_N_42_" + stampOf(t) + ".xml";
            plant(name + ours, ++n % 2 == 0);
            plant(name, true);
        }
    }
    for (const char* name : {"vars.xml", "vars_1.xml", "vars_2.xml"}) plant(name + ours, ++n % 2 == 0);
    EXPECT_TRUE(m.drops().empty()) << "planted only after the first drop";
    EXPECT_EQ(E2EMachine::finish(pid), 0);

    const auto messages = m.logMessages();
    for (const auto& message : messages) {
        EXPECT_FALSE(startsWith(message, "ERR : Preprocessing: ") && message.find("could not be dropped") != std::string::npos)
            << message;
        EXPECT_FALSE(startsWith(message, "ERR : function fncPostKRNExecStatus")) << message;
    }
    for (const char* record : kRecords) {
        const auto dropped = dropsStartingWith(m, std::string(record) + "_N_42_");
        ASSERT_EQ(dropped.size(), 1u) << record << "\n" << m.runLog();
        EXPECT_TRUE(endsWith(m.readDrop(dropped[0]), "</" + std::string(record) + ">\r\n")) << dropped[0];
    }
    ASSERT_EQ(dropsStartingWith(m, "vars").size(), 1u) << m.runLog();
    EXPECT_NE(m.readDrop("vars.xml").find("<scriptid>501</scriptid><var name='Disk'><![CDATA[42]]></var>"),
              std::string::npos);
    for (const auto& name : m.drops()) EXPECT_TRUE(endsWith(name, ".xml")) << name;

    for (const auto& entry : fs::directory_iterator(logs)) {
        const std::string name = entry.path().filename().string();
        const bool recordLike = startsWith(name, "wpdc") || startsWith(name, "vars");
        EXPECT_TRUE(!recordLike || planted.count(name) == 1) << "made in the logs folder: " << name;
    }
    // The planted files are as they were: nothing was written into them.
    for (const auto& name : planted) {
        if (fs::is_regular_file(logs + name)) {
            EXPECT_EQ(fs::file_size(logs + name), 0u) << name;
        }
    }
}
