// Whole runs in which the script hands the program names and texts meant to
// go further than they may: a variables file's path that climbs through a
// folder swapped for a link, an exported message that forges run-log lines,
// and variable and action names the threshold file cannot hold as keys.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <poll.h>
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

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// What the machine holds outside the two folders a run may add to
// (HVRPostLogs, AutomiseLogs) and its run logs: every entry with its kind,
// and a digest of the bytes of each file but those every run rewrites.
std::map<std::string, std::string> treeOutsideTheDrops(const E2EMachine& m) {
    const fs::path root = m.sandbox.root();
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        for (const char* own : {"drive_c/Agent/HVRPostLogs", "drive_c/Agent/AutomiseLogs", "drive_c/Agent/ApplicationLog"}) {
            if (rel == own) it.disable_recursion_pending();
        }
        const auto status = it->symlink_status();
        const std::string name = it->path().filename().string();
        if (fs::is_symlink(status)) {
            tree[rel] = "link";
        } else if (fs::is_directory(status)) {
            tree[rel] = "folder";
        } else {
            const bool rewritten = name == "ATZThreshold.ini" || name == "KOVAVariables.ini" || name == "KOVAVariables.lock";
            tree[rel] = rewritten ? "file" : "file #" + textDigest(contentOf(it->path()));
        }
    }
    return tree;
}

// The run log's lines as the most eager reader splits them: at CR, at LF, at
// the other breaks of Unicode's line splitting, and at NEL (a Latin-1 reader).
std::vector<std::string> eagerLines(const std::string& log) {
    std::vector<std::string> lines(1);
    for (const char c : log) {
        if (std::string_view("\r\n\v\f\x1c\x1d\x1e\x85").find(c) != std::string_view::npos) {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

}  // namespace

// The console log names the variables file as
// C:\Agent\AutomiseLogs\../../Agent/AutomiseLogs/q/v.xml. Once the program has
// read it, the script's side swaps q for a link to Configuration. The record
// lands in HVRPostLogs itself under a plain name, and nothing outside
// HVRPostLogs and AutomiseLogs is made or changed.
TEST(EndToEndScriptTexts, AVariablesPathThroughASwappedFolderDropsNothingOutside) {
    E2EMachine m;
    const std::string varsPath = "C:\\Agent\\AutomiseLogs\\../../Agent/AutomiseLogs/q/v.xml";
    m.writeJobs({E2EMachine::job("501", m.addScript("Swap.atz",
        "console Project File: ${PROJECT}\n"
        "varsfile ../../Agent/AutomiseLogs/q/v.xml\n"
        "vars <wpatcmdscrvardata><var name='Disk'>42</var></wpatcmdscrvardata>\n"
        "console Build Completed\n"))});
    const std::string q = m.sandbox.hostPath("C:\\Agent\\AutomiseLogs") + "/q";
    fs::create_directories(q);
    // A first run makes the files every run keeps (the counters, the lock files).
    ASSERT_EQ(m.run(), 0);
    const auto before = treeOutsideTheDrops(m);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const auto dropsBefore = m.drops();
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, q.c_str(), IN_CLOSE_NOWRITE), 0);
        std::atomic<bool> swapped{false}, stop{false};
        std::thread swapper([&] {
            alignas(inotify_event) char buffer[4096];
            while (!stop && !swapped) {
                pollfd p{watch, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = ::read(watch, buffer, sizeof buffer);
                for (ssize_t at = 0; at < n && !swapped;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                    if (e->len > 0 && std::string(e->name) == "v.xml") {
                        fs::rename(q, q + ".real");
                        fs::create_directory_symlink(m.sandbox.hostPath("C:\\Agent\\Configuration"), q);
                        swapped = true;
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
        });
        const int status = m.run();
        stop = true;
        swapper.join();
        ::close(watch);
        EXPECT_EQ(status, 0);
        ASSERT_TRUE(swapped) << "the program never read " << varsPath << "\n" << m.runLog();

        const auto after = treeOutsideTheDrops(m);
        for (const auto& [path, what] : after) {
            const auto was = before.find(path);
            EXPECT_TRUE(was != before.end() && was->second == what) << "made or changed: " << path;
        }
        EXPECT_EQ(after.size(), before.size());
        std::vector<std::string> added;
        for (const auto& name : m.drops()) {
            if (std::find(dropsBefore.begin(), dropsBefore.end(), name) == dropsBefore.end()) added.push_back(name);
        }
        const std::string expected = attempt == 1 ? "v_1.xml" : "v_2.xml";
        EXPECT_TRUE(std::find(added.begin(), added.end(), expected) != added.end()) << m.runLog();
        EXPECT_NE(m.readDrop(expected).find("<var name='Disk'><![CDATA[42]]></var>"), std::string::npos);
        for (const auto& entry : fs::directory_iterator(m.sandbox.hostPath("C:\\Agent\\HVRPostLogs"))) {
            EXPECT_TRUE(entry.is_regular_file() && !entry.is_symlink()) << entry.path();
        }
        fs::remove(q);
        fs::rename(q + ".real", q);
    }
}

// An exported message whose lines forge the program's own log lines, after
// every kind of line break and with blanks, TABs and a terminal's escape or
// backspaces before the stamp, and a path with a form feed and a NEL before
// one. The run log says them, and no line of it begins with the forged stamp,
// however a reader splits and trims it; it holds no lone CR or LF.
TEST(EndToEndScriptTexts, AForgedStampInAScriptsTextStartsNoRunLogLine) {
    E2EMachine m;
    const std::string forged = "12/31/2030 23:59:59\tMSG : Postprocessing: Successfully Terminated Process";
    m.writeJobs({E2EMachine::job("502", m.addScript("Forge.atz",
        "console Project File: ${PROJECT}\n"
        "export xml inline\n"
        "<?xml version=\"1.0\"?>\n"
        "<FB6LOG filename=\"f\">\n"
        "<ACTION name=\"Copy\" status=\"Error\">\n"
        "<MESSAGE><![CDATA[first\n" +
        forged + "\n"
        " \t" + forged + "\n"
        "\x1b[0m" + forged + "\n"
        "ab\b\b\b\b\b\b\b\b\b\b\b\b\b\b" + forged + "\n"
        "\xA0\xAD" + forged + "\n"
        "cr\r" + forged + "\r\r\n" + forged + "]]></MESSAGE>\n"
        "</ACTION>\n"
        "</FB6LOG>\n"
        "end\n"
        // A path, which the log says as it is, with a form feed and a NEL.
        "console MSG : ***** Creating VTXVariables XML file C:\\Agent\\AutomiseLogs\\v\f" + forged + "\x85" + forged + "\n"
        "console Build Failed\n"
        "console Exit with return code: 1\n"
        "exit 1\n"))});
    EXPECT_EQ(m.run(), 0);
    const std::string log = m.runLog();
    EXPECT_NE(log.find("\r\n> " + forged + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n> " + forged + "\x85> " + forged), std::string::npos);
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i] == '\r') {
            EXPECT_TRUE(i + 1 < log.size() && log[i + 1] == '\n') << "a lone CR at " << i;
        } else if (log[i] == '\n') {
            EXPECT_TRUE(i > 0 && log[i - 1] == '\r') << "a lone LF at " << i;
        }
    }
    for (const auto& line : eagerLines(log)) {
        std::size_t at = 0;
        while (at < line.size() && (static_cast<unsigned char>(line[at]) <= 0x20 ||
                                    static_cast<unsigned char>(line[at]) == 0xA0 ||
                                    static_cast<unsigned char>(line[at]) == 0xAD)) {
            ++at;
        }
        EXPECT_FALSE(startsWith(std::string_view(line).substr(at), "12/31/2030")) << line;
        EXPECT_EQ(line.find('\b'), std::string::npos) << line;
    }
}

// With a variables threshold of 2, over six runs, variables named plain, x=y,
// ;c and [s are each posted as many times (three), and a failing action
// whose name holds "=" keeps its detail as many times (three) before its
// counter stops it.
TEST(EndToEndScriptTexts, NamesTheThresholdFileCannotHoldStopAtTheThreshold) {
    E2EMachine m;
    m.sandbox.writeFile("C:\\Agent\\Configuration\\ATZThreshold.ini", "[Threshold]\r\nVTXVariablesTh=2\r\n");
    const std::vector<std::string> names = {"plain", "x=y", ";c", "[s"};
    std::string vars;
    for (const auto& name : names) vars += "<var name='" + name + "'>1</var>";
    m.writeJobs({E2EMachine::job("503", m.addScript("Count.atz",
        "console Project File: ${PROJECT}\n"
        "varsfile counted.xml\n"
        "vars <wpatcmdscrvardata>" + vars + "</wpatcmdscrvardata>\n"
        "export xml inline\n"
        "<?xml version=\"1.0\"?>\n"
        "<FB6LOG filename=\"c\">\n"
        "<ACTION name=\"Set x=1\" status=\"Error\">\n"
        "<MESSAGE><![CDATA[bad value]]></MESSAGE>\n"
        "</ACTION>\n"
        "</FB6LOG>\n"
        "end\n"
        "console Build Failed\n"
        "console Exit with return code: 1\n"
        "exit 1\n"))});

    std::map<std::string, int> posted;
    int detailed = 0;
    for (int run = 1; run <= 6; ++run) {
        const auto before = m.drops();
        ASSERT_EQ(m.run(), 0);
        for (const auto& drop : m.drops()) {
            if (std::find(before.begin(), before.end(), drop) != before.end()) continue;
            const std::string record = m.readDrop(drop);
            for (const auto& name : names) posted[name] += record.find("<var name='" + name + "'>") != std::string::npos;
            if (startsWith(drop, "wpdcmatztempexecfail_")) {
                detailed += record.find("ACTION-DESC:Set x=1@#@bad value") != std::string::npos;
            }
        }
    }
    for (const auto& name : names) EXPECT_EQ(posted[name], 3) << name;
    EXPECT_EQ(detailed, 3) << m.sandbox.readFile("C:\\Agent\\Configuration\\ATZThreshold.ini");
}
