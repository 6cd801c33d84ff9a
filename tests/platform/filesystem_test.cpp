// The posix file system's own side: symbolic and hard links, pipes, the
// program's version beside its executable, and the helper threads of a large
// listing. What every backend promises is in tests/contract/filesystem_contract.cpp.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "base/errors.h"
#include "platform/posix/folder_looks.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// 2025-03-04 05:06:07 local time.
const time_t kOld = [] {
    struct tm when {};
    when.tm_year = 2025 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_sec = 7;
    when.tm_isdst = -1;
    return ::mktime(&when);
}();

class FileSystemTest : public ::testing::Test {
protected:
    Sandbox box;
    PosixFileSystem fsys;
};

}  // namespace

TEST_F(FileSystemTest, DeletingALinkLeavesItsTarget) {
    box.writeFile("C:\\target.txt", "precious");
    fsys.SetReadOnly("C:\\target.txt", true);
    fs::create_symlink(box.hostPath("C:\\target.txt"), box.root() + "/drive_c/link.txt");
    fsys.DeleteFile("C:\\link.txt", false);
    EXPECT_FALSE(fs::is_symlink(box.root() + "/drive_c/link.txt"));
    EXPECT_EQ(box.readFile("C:\\target.txt"), "precious");

    // Forced too, a link to a folder goes and the folder stays.
    fs::create_symlink(box.root() + "/drive_c/folder", box.root() + "/drive_c/dirlink");
    box.makeFolder("C:\\folder");
    fsys.DeleteFile("C:\\DirLink", true);
    EXPECT_FALSE(fs::is_symlink(box.root() + "/drive_c/dirlink"));
    EXPECT_TRUE(fs::is_directory(box.root() + "/drive_c/folder"));

    // A dangling link is still a link that can go.
    fs::create_symlink(box.root() + "/nowhere", box.root() + "/drive_c/dangling");
    fsys.DeleteFile("C:\\dangling", false);
    EXPECT_FALSE(fs::is_symlink(box.root() + "/drive_c/dangling"));
}

// The program asks for its own version as folder + base name + ".exe"; the
// posix build keeps it beside the executable, not in it.
TEST_F(FileSystemTest, TheProgramsOwnVersion) {
    static char name[] = "x";
    static char* argv[] = {name, nullptr};
    PosixHost host(1, argv);
    EXPECT_EQ(fsys.GetFileVersion(host.ExeFolder() + "\\" + host.ExeBaseName() + ".exe"), "1.0.0.1");
    // A copy of the executable is another file without a version.
    fsys.CopyFile(host.ExeFolder() + "\\" + host.ExeBaseName(), "C:\\copy.exe", true);
    EXPECT_EQ(fsys.GetFileVersion("C:\\copy.exe"), "");
}

TEST_F(FileSystemTest, GetFilesListsNoLinkAndNoPipe) {
    box.writeFile("C:\\L\\b.txt", "bb");
    const std::string dir = box.root() + "/drive_c/L";
    fs::create_symlink(dir + "/b.txt", dir + "/link.txt");
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
    const auto files = fsys.GetFiles("C:\\l");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "b.txt");
}

// A folder large enough for helper threads to look at its files gives what a
// small one gives: only the regular files still there when looked at, each
// shown once to the entry filter in the calling thread, in the order of names
// without regard to case. A filter that throws stops the listing cleanly, and
// where no thread can be started the calling thread does all the looking.
TEST_F(FileSystemTest, GetFilesOfALargeFolderIsTheSameWithHelperThreads) {
    const std::string dir = box.root() + "/drive_c/Big";
    fs::create_directories(dir);
    const timespec old[2] = {{kOld, 0}, {kOld, 0}};
    const auto age = [&](const std::string& name) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir + "/" + name).c_str(), old, AT_SYMLINK_NOFOLLOW), 0) << name;
    };
    // More names than start the helpers, the last batch not full; every 211th
    // file old, of five bytes, its name in alternating case.
    const std::size_t count = FolderLooks::kHelpFrom + FolderLooks::kBatch + 7;
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < count; ++i) {
        const bool isOld = i % 211 == 0;
        const std::string name =
            (isOld ? (i % 2 ? "OLD_" : "old_") : "new_") + std::to_string(10000 + i) + (isOld ? ".Log" : ".log");
        std::ofstream(dir + "/" + name) << (isOld ? "12345" : "");
        if (isOld) {
            age(name);
            expected.push_back(name);
        }
    }
    // Old too, and never files: a link, a folder, a pipe; and two files that
    // the name filter makes vanish, and become a pipe, before they are looked at.
    fs::create_symlink(dir + "/" + expected[0], dir + "/old_link.log");
    fs::create_directory(dir + "/old_sub");
    ASSERT_EQ(::mkfifo((dir + "/old_pipe").c_str(), 0600), 0);
    std::ofstream(dir + "/old_gone.log") << "x";
    std::ofstream(dir + "/old_swapped.log") << "x";
    for (const char* name : {"old_link.log", "old_sub", "old_pipe", "old_gone.log", "old_swapped.log"}) age(name);

    const std::thread::id caller = std::this_thread::get_id();
    std::size_t named = 0, shown = 0, elsewhere = 0, badPaths = 0;
    FileQuery query;
    query.name = [&](std::string_view name) {
        ++named;
        if (std::this_thread::get_id() != caller) ++elsewhere;
        if (name == "old_gone.log") ::unlink((dir + "/old_gone.log").c_str());
        if (name == "old_swapped.log") {
            ::unlink((dir + "/old_swapped.log").c_str());
            ::mkfifo((dir + "/old_swapped.log").c_str(), 0600);
            age("old_swapped.log");
        }
        return true;
    };
    query.entry = [&](const FileEntry& file) {
        ++shown;
        if (std::this_thread::get_id() != caller) ++elsewhere;
        if (file.path != "C:\\Big\\" + file.name) ++badPaths;
        return file.dateCreated.year == 2025;
    };
    const auto namesOf = [](const std::vector<FileEntry>& files) {
        std::vector<std::string> names;
        for (const FileEntry& f : files) names.push_back(f.name);
        return names;
    };

    const auto files = fsys.GetFiles("C:\\Big", query);
    EXPECT_EQ(namesOf(files), expected);
    for (const FileEntry& f : files) {
        EXPECT_EQ(f.path, "C:\\Big\\" + f.name);
        EXPECT_EQ(f.size, 5u) << f.name;
        EXPECT_EQ(f.dateCreated, (LocalTime{2025, 3, 4, 5, 6, 7})) << f.name;
    }
    EXPECT_EQ(named, count + 2);
    EXPECT_EQ(shown, count);  // the files, without the two that were gone when looked at
    EXPECT_EQ(elsewhere, 0u);
    EXPECT_EQ(badPaths, 0u);

    query.limit = 3;
    EXPECT_EQ(namesOf(fsys.GetFiles("C:\\Big", query)),
              std::vector<std::string>(expected.begin(), expected.begin() + 3));

    // A filter that throws while the helpers have work, or wait for it.
    query.name = nullptr;
    FileQuery throwing = query;
    throwing.entry = [n = 0](const FileEntry&) mutable -> bool {
        if (++n == 100) throw std::runtime_error("entry");
        return true;
    };
    EXPECT_THROW(fsys.GetFiles("C:\\Big", throwing), std::runtime_error);
    throwing = query;
    throwing.name = [n = std::size_t{0}](std::string_view) mutable -> bool {
        if (++n == FolderLooks::kHelpFrom + 10) throw std::runtime_error("name");
        return true;
    };
    EXPECT_THROW(fsys.GetFiles("C:\\Big", throwing), std::runtime_error);

    // No room for a thread's stack: the listing is still whole.
    query.limit = std::numeric_limits<std::size_t>::max();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Room for what the listing keeps, none for a thread's stack (made
        // larger than the stacks earlier threads left to be used again).
        std::ifstream status("/proc/self/status");
        std::string line;
        std::uint64_t kb = 0;
        while (std::getline(status, line)) {
            if (line.rfind("VmSize:", 0) == 0) kb = std::stoull(line.substr(7));
        }
        pthread_attr_t large;
        const rlimit room{(kb + 4096) * 1024, (kb + 4096) * 1024};
        if (kb == 0 || ::pthread_attr_init(&large) != 0 || ::pthread_attr_setstacksize(&large, 64 << 20) != 0 ||
            ::pthread_setattr_default_np(&large) != 0 || ::setrlimit(RLIMIT_AS, &room) != 0) {
            ::_exit(2);
        }
        try {
            std::thread([] {}).join();
            ::_exit(3);  // a thread could start: this would show nothing
        } catch (const std::system_error&) {
        }
        try {
            ::_exit(namesOf(fsys.GetFiles("C:\\Big", query)) == expected ? 0 : 1);
        } catch (...) {
            ::_exit(4);  // the listing failed
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

// The confined operations act on what lies below the folder: through a link
// anywhere on the way, a second name or a FIFO they do nothing at all, and
// what is really inside they rewrite and copy like the others.
TEST_F(FileSystemTest, ConfinedOperationsNeverLeaveTheFolder) {
    const std::string logs = "C:\\Agent\\AutomiseLogs";
    const std::string host = box.hostPath(logs);
    box.writeFile(logs + "\\Sub\\in.txt", "inside\r\n");
    box.writeFile("C:\\Outside\\victim.txt", "victim\r\n");
    fs::create_symlink(box.hostPath("C:\\Outside"), host + "/dir");
    fs::create_symlink(box.hostPath("C:\\Outside\\victim.txt"), host + "/file.txt");
    // A link to a file with no second name: only the link itself can be refused.
    box.writeFile("C:\\Outside\\single.txt", "single\r\n");
    fs::create_symlink(box.hostPath("C:\\Outside\\single.txt"), host + "/single.txt");
    fs::create_symlink(box.hostPath("C:\\Outside"), host + "/Sub/deeper");
    ASSERT_EQ(::link(box.hostPath("C:\\Outside\\victim.txt").c_str(), (host + "/hard.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo((host + "/pipe.xml").c_str(), 0600), 0);

    const std::vector<std::string> refused = {
        logs + "\\dir\\victim.txt", logs + "\\DIR\\victim.txt", logs + "\\file.txt", logs + "\\Sub\\deeper\\victim.txt",
        logs + "\\hard.txt",        logs + "\\pipe.xml",        logs + "\\..\\..\\Outside\\victim.txt",
        logs + "\\in.txt:stream",   "C:\\Outside\\victim.txt",   logs + "\\single.txt",
    };
    for (const auto& path : refused) {
        EXPECT_EQ(errorOf([&] { fsys.FileExistsInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.DeleteInside(logs, path, true); }), err::PathAccess) << path;
    }
    EXPECT_EQ(box.readFile("C:\\Outside\\victim.txt"), "victim\r\n");
    EXPECT_TRUE(fs::is_symlink(host + "/dir") && fs::is_symlink(host + "/file.txt"));
    EXPECT_TRUE(fs::exists(host + "/hard.txt"));

    // What is really inside is still reached.
    EXPECT_TRUE(fsys.FileExistsInside(logs, logs + "\\Sub\\in.txt"));
}

