// Whole runs in which the script hands the program names and texts meant to
// go further than they may.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

// Every entry outside HVRPostLogs, AutomiseLogs and the run logs, with a
// digest of each file but those every run rewrites.
std::map<std::string, std::string> treeOutsideTheDrops(const E2EMachine& m) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(m.sandbox.root()); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), m.sandbox.root()).string(), name = it->path().filename();
        if (name == "HVRPostLogs" || name == "AutomiseLogs" || name == "ApplicationLog") it.disable_recursion_pending();
        std::ostringstream bytes;
        const bool rewritten = startsWith(name, "KOVAVariables") || startsWith(name, "ATZThreshold");
        if (it->is_regular_file() && !it->is_symlink() && !rewritten) {
            bytes << std::ifstream(it->path(), std::ios::binary).rdbuf();
        }
        tree[rel] = (it->is_symlink() ? "link " : "") + textDigest(bytes.str());
    }
    return tree;
}

// A project whose export has one failing action, after the lines of `first`.
std::string failingProject(const std::string& first, const std::string& action, const std::string& message) {
    return first + "export xml inline\n<?xml version=\"1.0\"?>\n<FB6LOG filename=\"x\">\n<ACTION name=\"" + action +
           "\" status=\"Error\">\n<MESSAGE><![CDATA[" + message + "]]></MESSAGE>\n</ACTION>\n</FB6LOG>\nend\n"
           "console Build Failed\nconsole Exit with return code: 1\nexit 1\n";
}

}  // namespace

// The console log names the variables file through "../..", and the script's
// side swaps the folder q for a link to Configuration once the program has
// read the file. The record lands in HVRPostLogs itself under a plain name,
// and nothing outside HVRPostLogs and AutomiseLogs is made or changed.
TEST(EndToEndScriptTexts, AVariablesPathThroughASwappedFolderDropsNothingOutside) {
    E2EMachine m;
    m.writeJobs({E2EMachine::job("501", m.addScript("Swap.atz", "varsfile ../../Agent/AutomiseLogs/q/v.xml\n"
                                                                "vars <wpatcmdscrvardata><var name='Disk'>42</var>"
                                                                "</wpatcmdscrvardata>\nconsole Build Completed\n"))});
    const std::string q = m.sandbox.hostPath("C:\\Agent\\AutomiseLogs") + "/q";
    fs::create_directories(q);
    ASSERT_EQ(m.run(), 0);  // makes the files every run keeps
    const auto before = treeOutsideTheDrops(m);
    for (const std::string dropped : {"v_1.xml", "v_2.xml"}) {
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ASSERT_GE(::inotify_add_watch(watch, q.c_str(), IN_CLOSE_NOWRITE), 0);
        std::atomic<bool> ran{false};
        std::thread swapper([&] {
            alignas(inotify_event) char buffer[4096];
            for (pollfd p{watch, POLLIN, 0}; !ran;) {
                const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::read(watch, buffer, sizeof buffer) : 0;
                for (ssize_t at = 0; at < n;) {
                    const auto* e = reinterpret_cast<inotify_event*>(buffer + at);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                    if (e->len == 0 || std::string_view(e->name) != "v.xml") continue;  // the folder itself
                    fs::rename(q, q + ".real");
                    fs::create_directory_symlink(m.sandbox.hostPath("C:\\Agent\\Configuration"), q);
                    return;
                }
            }
        });
        EXPECT_EQ(m.run(), 0);
        ran = true;
        swapper.join();
        ::close(watch);
        ASSERT_TRUE(fs::is_symlink(q)) << "the program never read v.xml\n" << m.runLog();
        EXPECT_EQ(treeOutsideTheDrops(m), before);
        EXPECT_NE(m.readDrop(dropped).find("<var name='Disk'><![CDATA[42]]></var>"), std::string::npos) << m.runLog();
        for (const auto& e : fs::directory_iterator(m.sandbox.hostPath("C:\\Agent\\HVRPostLogs"))) {
            EXPECT_TRUE(e.is_regular_file() && !e.is_symlink()) << e.path();
        }
        fs::remove(q);
        fs::rename(q + ".real", q);
    }
}

// An exported message and a path that forge the program's own log lines,
// after every kind of line break, with blanks, TABs, an escape sequence or
// backspaces before the stamp. The log says them, holds no lone CR or LF, and
// no line of it begins with the forged stamp, however a reader splits (at CR,
// LF, the Unicode breaks, a Latin-1 NEL) and trims it.
TEST(EndToEndScriptTexts, AForgedStampInAScriptsTextStartsNoRunLogLine) {
    E2EMachine m;
    const std::string forged = "12/31/2030 23:59:59\tMSG : Postprocessing: Successfully Terminated Process";
    // A path, which the log says as it is, with a form feed and a NEL in it.
    const std::string path = "C:\\Agent\\AutomiseLogs\\v\f" + forged + "\x85" + forged;
    m.writeJobs({E2EMachine::job("502", m.addScript("Forge.atz", failingProject(
        "console MSG : ***** Creating VTXVariables XML file " + path + "\n", "Copy",
        "first\n" + forged + "\n \t" + forged + "\n\x1b[0m" + forged + "\nab\b\b\b\b\b\b" + forged + "\n\xA0\xAD" +
            forged + "\ncr\r" + forged + "\r\r\n" + forged)))});
    EXPECT_EQ(m.run(), 0);
    const std::string log = m.runLog();
    EXPECT_NE(log.find("\r\n> " + forged + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n> " + forged + "\x85> " + forged), std::string::npos);
    EXPECT_EQ(replaceAll(log, "\r\n", "").find_first_of("\r\n"), std::string::npos) << "a lone CR or LF";
    const auto visible = [](char b) { return b & 0x80 ? b != '\xA0' && b != '\xAD' : b > ' '; };
    std::string line;
    for (const char c : log + "\n") {
        if (std::string_view("\r\n\v\f\x1c\x1d\x1e\x85").find(c) == std::string_view::npos) {
            line += c;
            continue;
        }
        const std::string seen(std::find_if(line.begin(), line.end(), visible), line.end());
        EXPECT_FALSE(startsWith(seen, "12/31/2030") || line.find('\b') != std::string::npos) << line;
        line.clear();
    }
}

// With a variables threshold of 2, over six runs, variables named plain, x=y,
// ;c and [s are each posted three times, and a failing action whose name
// holds "=" keeps its detail three times, before their counters stop them.
TEST(EndToEndScriptTexts, NamesTheThresholdFileCannotHoldStopAtTheThreshold) {
    E2EMachine m;
    m.sandbox.writeFile("C:\\Agent\\Configuration\\ATZThreshold.ini", "[Threshold]\r\nVTXVariablesTh=2\r\n");
    const std::vector<std::string> names = {"'plain'", "'x=y'", "';c'", "'[s'", "ACTION-DESC:Set x=1@#@bad value"};
    m.writeJobs({E2EMachine::job("503", m.addScript("Count.atz", failingProject(
        "vars <wpatcmdscrvardata><var name='plain'/><var name='x=y'/><var name=';c'/><var name='[s'/>"
        "</wpatcmdscrvardata>\n", "Set x=1", "bad value")))});
    std::map<std::string, int> seen;
    for (int run = 1; run <= 6; ++run) {
        const auto before = m.drops();
        ASSERT_EQ(m.run(), 0);
        for (const auto& drop : m.drops()) {
            if (std::count(before.begin(), before.end(), drop)) continue;
            const std::string record = m.readDrop(drop);
            // The variables record says the names; the failure record, not the others, the detail.
            const bool failure = startsWith(drop, "wpdcmatztempexecfail_");
            for (const auto& name : names) {
                seen[name] += (name[0] == '\'' || failure) && record.find(name) != std::string::npos;
            }
        }
    }
    for (const auto& name : names) EXPECT_EQ(seen[name], 3) << name;
}
