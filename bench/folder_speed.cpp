// Folders of many files: the end-of-run clean-up and the drop of a record,
// each with 100,000 files in the folder beside the same work in an empty or
// small one, or beside the Linux tool that does the same listing. Every case
// runs in a child process of its own (this program again, with --case), so
// each starts with no folder known, as a run does. The run log is a real
// file. Not a test: run it by hand.
//   bench_folder_speed [number of files, default 100000] [repeats, default 3]
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "context/run_context.h"
#include "platform/posix/clock.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/folder_index.h"
#include "platform/posix/host.h"
#include "platform/posix/machine.h"
#include "platform/posix/paths.h"
#include "platform/posix/profile.h"
#include "report/drop_folder.h"
#include "run/cleanup.h"
#include "support/test_support.h"

extern char** environ;

namespace {

const char* kInstall = "C:\\Agent\\";
const char* kAutomiseLogs = "C:\\Agent\\AutomiseLogs";
const char* kPostLogs = "C:\\Agent\\HVRPostLogs";
const char* kProcessed = "C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts";
const char* kRunLog = "C:\\Agent\\ApplicationLog\\kHVRLog\\bench.txt";

using Steady = std::chrono::steady_clock;

double msSince(Steady::time_point since) {
    return std::chrono::duration<double, std::milli>(Steady::now() - since).count();
}

// Fills a folder with `count` empty files named like drops, dated `daysAgo` days back.
void fill(const std::string& hostFolder, std::size_t count, int daysAgo) {
    ::mkdir(hostFolder.c_str(), 0777);
    const timespec when[2] = {{std::time(nullptr) - daysAgo * 86400L, 0}, {std::time(nullptr) - daysAgo * 86400L, 0}};
    for (std::size_t i = 0; i < count; ++i) {
        const std::string path = hostFolder + "/wpdcmatztempexecst_N_33_" + std::to_string(10000000 + i) + ".xml";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::perror(path.c_str());
            std::exit(1);
        }
        ::futimens(fd, when);
        ::close(fd);
    }
}

double runChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Steady::now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawnp");
        std::exit(1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "%s failed\n", args[0].c_str());
    return msSince(start);
}

// The child side: one case over the machine named by VORBEX_MACHINE. Prints
// the milliseconds of the work itself (and of the first drop apart).
int runCase(char** argv, const std::string& which, int drops) {
    PosixFileSystem fs;
    PosixPaths paths;
    PosixProfileFiles profile;
    PosixHost host(1, argv);
    FakeClock fakeClock;
    PosixClock realClock;
    Platform platform;
    platform.fs = &fs;
    platform.paths = &paths;
    platform.profile = &profile;
    platform.host = &host;
    platform.clock = which == "dropwait" ? static_cast<Clock*>(&realClock) : &fakeClock;
    // The clean-up's dates are those of the files, made from the real time.
    fakeClock.time = realClock.now();
    RunContext ctx(platform);
    ctx.strInstallPath = kInstall;
    ctx.strActionName = "Action_27_KRN";
    ctx.strRegID = "33";
    ctx.objLogFile = fs.OpenSharedLog(kRunLog, 1u << 30);
    const std::uint64_t readingsBefore = folderReadings();
    if (which == "previous") {
        const auto start = Steady::now();
        subdeletepreviousfiles(ctx);
        std::printf("%.2f\n", msSince(start));
    } else if (which == "floor") {
        // What any clean-up by age must do at the least: read the folder and
        // learn each file's date.
        const auto start = Steady::now();
        DIR* dir = ::opendir(mapPath(kAutomiseLogs).c_str());
        std::size_t count = 0;
        while (const dirent* entry = ::readdir(dir)) {
            struct stat st {};
            count += ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? 1 : 0;
        }
        ::closedir(dir);
        std::printf("%.2f %zu\n", msSince(start), count);
    } else if (which == "downloaded") {
        const auto start = Steady::now();
        subDeleteDownloadedFiles(ctx);
        std::printf("%.2f\n", msSince(start));
    } else if (which == "drop") {
        // Every record a name of its own, as the stamps of a real run differ.
        auto start = Steady::now();
        subDropRecord(ctx, "wpdcmatztempexecst", "<record/>", "[Template_Execution_Status]");
        const double first = msSince(start);
        start = Steady::now();
        for (int i = 1; i < drops; ++i) {
            subDropRecord(ctx, "wpdcmatztempexecst" + std::to_string(i), "<record/>",
                          "[Template_Execution_Status]");
        }
        std::printf("%.3f %.3f %llu\n", first, msSince(start) / (drops - 1),
                    static_cast<unsigned long long>(folderReadings() - readingsBefore));
    } else if (which == "dropwait") {
        // The same record twice: the second finds its name taken and waits
        // for the next second, which is this far off.
        subDropRecord(ctx, "wpdcmatztempexecst", "<first/>", "[Template_Execution_Status]");
        const auto start = Steady::now();
        const double left = 1000.0 - realClock.now().millisecond;
        subDropRecord(ctx, "wpdcmatztempexecst", "<second/>", "[Template_Execution_Status]");
        std::printf("%.1f %.1f\n", msSince(start), left);
    } else {
        return 2;
    }
    return 0;
}

// Runs a case in a child and reads what it printed.
std::vector<double> measure(const std::string& which, int drops = 0) {
    const std::string out = "/tmp/bench_folder_speed." + std::to_string(::getpid());
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return {-1};
    runChild({"sh", "-c", "\"$0\" --case \"$1\" \"$2\" > \"$3\"", self, which, std::to_string(drops), out});
    std::vector<double> values;
    if (FILE* in = std::fopen(out.c_str(), "r")) {
        double v = 0;
        while (std::fscanf(in, "%lf", &v) == 1) values.push_back(v);
        std::fclose(in);
    }
    ::unlink(out.c_str());
    if (values.empty()) values.push_back(-1);
    return values;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--case") == 0) return runCase(argv, argv[2], std::atoi(argv[3]));
    const std::size_t files = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    const int drops = 50;
    std::printf("%zu files, median of %d runs\n", files, repeats);

    std::vector<double> none, none_find, none_floor, side, side_find, old, old_find;
    std::vector<double> dropEmpty, dropFull, firstEmpty, firstFull;
    double readings = 0;
    for (int r = 0; r < repeats; ++r) {
        {
            // Nothing to delete: every file is recent.
            Sandbox box;
            box.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
            const std::string logs = box.hostPath(kAutomiseLogs);
            fill(logs, files, 0);
            ::sync();
            none_find.push_back(runChild({"find", logs, "-type", "f", "-mtime", "+2"}));
            none.push_back(measure("previous")[0]);
            none_floor.push_back(measure("floor")[0]);
        }
        {
            // Side files: the first 21 of the folder are examined, none is one.
            Sandbox box;
            box.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
            box.makeFolder(std::string(kProcessed) + "\\..");
            const std::string processed = box.hostPath(kProcessed);
            fill(processed, files, 0);
            ::sync();
            side_find.push_back(runChild({"find", processed, "-name", "*.log3"}));
            side.push_back(measure("downloaded")[0]);
        }
        {
            // Every file old: the clean-up beside find -delete on a twin folder.
            Sandbox box;
            box.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
            const std::string logs = box.hostPath(kAutomiseLogs);
            fill(logs, files, 5);
            fill(box.hostPath("C:\\Twin"), files, 5);
            // Deleting leaves the journal work to do: each starts after a sync,
            // and the two take turns to go first.
            auto viaFind = [&] {
                ::sync();
                old_find.push_back(
                    runChild({"find", box.hostPath("C:\\Twin"), "-type", "f", "-mtime", "+2", "-delete"}));
            };
            auto viaCleanup = [&] {
                ::sync();
                old.push_back(measure("previous")[0]);
            };
            if (r % 2 == 0) {
                viaFind();
                viaCleanup();
            } else {
                viaCleanup();
                viaFind();
            }
        }
        // The two take turns to go first, as the clean-ups before them leave work behind.
        for (const bool full : {r % 2 == 1, r % 2 == 0}) {
            Sandbox box;
            box.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
            box.makeFolder(kAutomiseLogs);
            fill(box.hostPath(kPostLogs), full ? files : 0, 0);
            ::sync();
            const auto figures = measure("drop", drops);
            (full ? firstFull : firstEmpty).push_back(figures[0]);
            (full ? dropFull : dropEmpty).push_back(figures.size() > 1 ? figures[1] : -1);
            if (full && figures.size() > 2) readings = figures[2];
        }
    }
    std::printf("%-44s %10s %10s %8s\n", "case", "ms", "yardstick", "ratio");
    auto row = [](const char* what, double ms, const char* yard, double yardMs) {
        std::printf("%-44s %10.1f %10.1f %8.2f  (%s)\n", what, ms, yardMs, ms / yardMs, yard);
    };
    row("clean-up at run end, nothing to delete", median(none), "find -mtime +2, same folder", median(none_find));
    row("  the same beside reading and one stat each", median(none), "readdir + fstatat loop", median(none_floor));
    row("side-file clean-up, 21 of the files examined", median(side), "find -name *.log3", median(side_find));
    row("clean-up at run end, every file old", median(old), "find -mtime +2 -delete, twin", median(old_find));
    std::printf("%-44s %10.3f %10.3f %8.2f  (difference %.3f ms; folder readings in the full run: %.0f)\n",
                "drop, per record after the first", median(dropFull), median(dropEmpty),
                median(dropFull) / median(dropEmpty), median(dropFull) - median(dropEmpty), readings);
    std::printf("%-44s %10.3f %10.3f %8.2f  (difference %.3f ms)\n", "drop, the first of the run", median(firstFull),
                median(firstEmpty), median(firstFull) / median(firstEmpty), median(firstFull) - median(firstEmpty));
    {
        Sandbox box;
        box.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
        box.makeFolder(kAutomiseLogs);
        box.makeFolder(kPostLogs);
        const auto wait = measure("dropwait");
        if (wait.size() > 1) {
            std::printf("%-44s %10.1f %10.1f %8.2f  (the wait, and the rest of the second when it began)\n",
                        "drop whose name is taken", wait[0], wait[1], wait[0] / wait[1]);
        }
    }
    return 0;
}
