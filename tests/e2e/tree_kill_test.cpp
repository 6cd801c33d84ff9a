// Whole runs whose script starts a process that keeps changing its id (a new
// session, then fork and exit every few milliseconds) and overruns its time
// limit: nothing of it may outlive the run, with the runner's cgroup and with
// the walk that stands in where there is none, and the log must say so truly.
// VORBEX_TEST_HOP_MS sets the hop interval (default 2 ms), for longer series
// run by hand: --gtest_repeat=10 with 1, 2, 5 and 10.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "e2e_support.h"
#include "base/text.h"

namespace {

const char* kUncontained =
    "ERR : Preprocessing: The script process could not be placed in a job of its own; at the time limit its "
    "processes are ended one by one";

// A file of /proc whole; "" when the process has gone meanwhile.
std::string readProc(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// The live processes whose environment holds `entry`; a hop may slip past
// one pass over /proc, so a few passes are joined.
std::set<pid_t> carriers(const std::string& entry) {
    std::set<pid_t> found;
    for (int pass = 0; pass < 5; ++pass) {
        DIR* dir = ::opendir("/proc");
        while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
            const pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
            if (pid <= 0) continue;
            const std::string proc = "/proc/" + std::to_string(pid);
            if (readProc(proc + "/status").find("State:\tZ") != std::string::npos) continue;
            const std::string env = readProc(proc + "/environ");
            if (('\0' + env).find('\0' + entry + '\0') != std::string::npos) found.insert(pid);
        }
        if (dir) ::closedir(dir);
        ::usleep(20000);
    }
    return found;
}

// The job cgroups a run with pid `run` left below this process's cgroup
// (the run was started from here, so it made them there).
std::vector<std::string> groupsLeftBy(pid_t run) {
    std::vector<std::string> left;
    std::ifstream cgroup("/proc/self/cgroup");
    std::string own;
    for (std::string line; std::getline(cgroup, line);) {
        if (startsWith(line, "0::")) own = line.substr(3);
    }
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        if (line.find(" - cgroup2 ") == std::string::npos) continue;
        std::istringstream fields(line);
        std::string skip, point;
        fields >> skip >> skip >> skip >> skip >> point;
        DIR* dir = ::opendir((point + own).c_str());
        const std::string prefix = "vorbex-job." + std::to_string(run) + ".";
        while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
            if (startsWith(e->d_name, prefix)) left.push_back(e->d_name);
        }
        if (dir) ::closedir(dir);
    }
    return left;
}

void runHopperPastItsLimit(bool cgroups) {
    const char* asked = std::getenv("VORBEX_TEST_HOP_MS");
    const std::string interval = asked != nullptr ? asked : "2";
    E2EMachine m;
    const auto script = m.addScript("Hop.atz",
                                    "console Project File: ${PROJECT}\n"
                                    "hop " + interval + " 60000\n"
                                    "sleep 60000\n");
    // 0.05 minutes = 3 s.
    m.writeJobs({E2EMachine::job("801", script, "0.05")});
    if (cgroups) {
        ::unsetenv("VORBEX_NO_CGROUP");
    } else {
        ::setenv("VORBEX_NO_CGROUP", "1", 1);
    }
    const pid_t run = m.start("5,2,Action_27_KRN");
    ::unsetenv("VORBEX_NO_CGROUP");
    EXPECT_EQ(E2EMachine::finish(run), 0);

    const auto messages = m.logMessages();
    const bool contained = std::find(messages.begin(), messages.end(), kUncontained) == messages.end();
    const std::set<pid_t> alive = carriers("VORBEX_MACHINE=" + m.sandbox.root());
    for (pid_t pid : alive) ::kill(pid, SIGKILL);
    if (cgroups && !contained) GTEST_SKIP() << "no writable cgroup v2 hierarchy here";
    EXPECT_EQ(contained, cgroups) << m.runLog();

    EXPECT_TRUE(alive.empty()) << alive.size() << " process(es) hopping every " << interval
                               << " ms outlived the run";
    // The line after the termination says what became of the tree.
    const auto watch =
        std::find(messages.begin(), messages.end(), "MSG : Preprocessing: Executing fncTerminateProcess");
    ASSERT_NE(watch, messages.end()) << m.runLog();
    ASSERT_NE(watch + 1, messages.end());
    if (alive.empty()) {
        EXPECT_EQ(watch[1], "MSG : Postprocessing: Successfully Terminated Process ") << m.runLog();
    } else {
        EXPECT_TRUE(startsWith(watch[1], "ERR : Postprocessing: Failed to terminate the whole process tree, "))
            << m.runLog();
    }
    EXPECT_TRUE(groupsLeftBy(run).empty());
}

}  // namespace

TEST(TreeKill, HoppingProcessDoesNotOutliveTheLimitInTheRunnersCgroup) { runHopperPastItsLimit(true); }

TEST(TreeKill, HoppingProcessDoesNotOutliveTheLimitWithoutCgroups) { runHopperPastItsLimit(false); }
