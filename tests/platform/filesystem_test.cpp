// objFSO over a sandbox machine: error numbers, text streams, copies, moves,
// deletion of read-only files and links, folder listings.
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
#include "platform/buffered_stream.h"
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

std::vector<std::string> readLines(TextStream& stream) {
    std::vector<std::string> lines;
    while (!stream.AtEndOfStream()) lines.push_back(stream.ReadLine());
    return lines;
}

class FileSystemTest : public ::testing::Test {
protected:
    Sandbox box;
    PosixFileSystem fsys;
};

}  // namespace

TEST_F(FileSystemTest, ExistenceFollowsKindAndIgnoresCase) {
    box.writeFile("C:\\Agent\\Config.ini", "x");
    EXPECT_TRUE(fsys.FolderExists("c:\\agent"));
    EXPECT_TRUE(fsys.FolderExists("C:\\Agent\\"));
    EXPECT_FALSE(fsys.FolderExists("C:\\Agent\\Config.ini"));
    EXPECT_TRUE(fsys.FileExists("C:\\AGENT\\config.INI"));
    EXPECT_FALSE(fsys.FileExists("C:\\Agent"));
    EXPECT_FALSE(fsys.FileExists("C:\\Agent\\Missing.ini"));
}

TEST_F(FileSystemTest, CreateFolderErrors) {
    fsys.CreateFolder("C:\\Agent");
    EXPECT_TRUE(fs::is_directory(box.root() + "/drive_c/Agent"));
    fsys.CreateFolder("C:\\Agent\\\\AutomiseLogs");
    EXPECT_TRUE(fs::is_directory(box.root() + "/drive_c/Agent/AutomiseLogs"));
    EXPECT_EQ(errorOf([&] { fsys.CreateFolder("C:\\AGENT"); }), err::FileExists);
    EXPECT_EQ(errorOf([&] { fsys.CreateFolder("C:\\Missing\\Child"); }), err::PathNotFound);
}

TEST_F(FileSystemTest, ReadLineSplitsAtEveryLineEnd) {
    box.writeFile("C:\\t.txt", "one\r\ntwo\nthree\r\n\r\nin\rside\nlast");
    auto in = fsys.OpenTextFile("C:\\t.txt", IOMode::ForReading, false);
    EXPECT_EQ(readLines(*in), (std::vector<std::string>{"one", "two", "three", "", "in\rside", "last"}));
    EXPECT_TRUE(in->AtEndOfStream());
    EXPECT_EQ(errorOf([&] { in->ReadLine(); }), err::PastEnd);

    box.writeFile("C:\\one.txt", "only\r\n");
    auto one = fsys.OpenTextFile("C:\\one.txt", IOMode::ForReading, false);
    EXPECT_EQ(readLines(*one), std::vector<std::string>{"only"});

    box.writeFile("C:\\empty.txt", "");
    auto empty = fsys.OpenTextFile("C:\\empty.txt", IOMode::ForReading, false);
    EXPECT_TRUE(empty->AtEndOfStream());
    EXPECT_EQ(errorOf([&] { empty->ReadLine(); }), err::PastEnd);
    EXPECT_EQ(empty->ReadAll(), "");
}

TEST_F(FileSystemTest, LinesAcrossReadBlocks) {
    // The CR of the first line is the last byte of the first block and its
    // LF the first byte of the next; the second line spans several blocks.
    const std::string first(kTextReadBlock - 1, 'a');
    const std::string second(3 * kTextReadBlock + 17, 'b');
    box.writeFile("C:\\big.txt", first + "\r\n" + second + "\nend");
    auto in = fsys.OpenTextFile("C:\\big.txt", IOMode::ForReading, false);
    EXPECT_EQ(in->ReadLine(), first);
    EXPECT_EQ(in->ReadLine(), second);
    EXPECT_EQ(in->ReadAll(), "end");
    EXPECT_TRUE(in->AtEndOfStream());
}

// Lines taken in batches are the lines ReadLine gives, in order, and each
// batch lies in one buffer with its line ends between its lines, however the
// read blocks and an endless line cut the file.
TEST_F(FileSystemTest, BatchesOfLinesAreTheLinesInOrder) {
    std::string text;
    std::vector<std::string> expected;
    auto add = [&](const std::string& line, const std::string& end) {
        text += line + end;
        expected.push_back(line.substr(0, kMaxLineBytes));
    };
    for (int i = 0; text.size() < kTextReadBlock - 40; ++i) add("line " + std::to_string(i), i % 3 ? "\r\n" : "\n");
    add(std::string(kTextReadBlock - 1 - text.size(), 'c'), "\r\n");  // CR ends the block, LF begins the next
    add("", "\r\n");
    add(std::string(2 * kTextReadBlock, 'w'), "\n");
    add(std::string(kMaxLineBytes + kTextReadBlock + 5, 'e'), "\r\n");
    add("after the endless line", "\n");
    add("in\rside", "\r\n");
    add("last without end", "");
    box.writeFile("C:\\lines.txt", text);

    auto in = fsys.OpenTextFile("C:\\lines.txt", IOMode::ForReading, false);
    std::vector<std::string> got;
    std::string_view batch[7];
    while (const std::size_t count = in->ReadLines(batch, 7)) {
        ASSERT_LE(count, 7u);
        const std::string_view span = spanOfLines(batch, count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_GE(batch[i].data(), span.data());
            EXPECT_LE(batch[i].data() + batch[i].size(), span.data() + span.size());
            if (i > 0) {
                EXPECT_GT(batch[i].data(), batch[i - 1].data() + batch[i - 1].size());
            }
        }
        // Every view of the batch still holds its line.
        for (std::size_t i = 0; i < count; ++i) got.emplace_back(batch[i]);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(in->ReadLines(batch, 7), 0u);
    EXPECT_TRUE(in->AtEndOfStream());
}

TEST_F(FileSystemTest, WrittenLinesReachTheFileBeforeClose) {
    auto out = fsys.CreateTextFile("C:\\log.txt", true);
    out->WriteLine("first");
    out->Write("part");
    out->WriteLine("");
    // Nothing is held back in the process: a kill now would lose nothing.
    EXPECT_EQ(box.readFile("C:\\log.txt"), "first\r\npart\r\n");
    out->Close();
    EXPECT_NE(errorOf([&] { out->WriteLine("late"); }), 0);
}

TEST_F(FileSystemTest, StreamModesAreEnforced) {
    auto out = fsys.CreateTextFile("C:\\w.txt", true);
    EXPECT_NE(errorOf([&] { out->ReadLine(); }), 0);
    box.writeFile("C:\\r.txt", "x");
    auto in = fsys.OpenTextFile("C:\\r.txt", IOMode::ForReading, false);
    EXPECT_NE(errorOf([&] { in->Write("y"); }), 0);
    EXPECT_EQ(box.readFile("C:\\r.txt"), "x");
}

TEST_F(FileSystemTest, OpenTextFileModes) {
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\none.txt", IOMode::ForReading, false); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\none.txt", IOMode::ForAppending, false); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\NoDir\\x.txt", IOMode::ForReading, false); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\NoDir\\x.txt", IOMode::ForWriting, true); }), err::PathNotFound);
    EXPECT_FALSE(box.exists("C:\\none.txt"));

    box.writeFile("C:\\f.txt", "old\r\n");
    fsys.OpenTextFile("C:\\F.TXT", IOMode::ForAppending, false)->WriteLine("more");
    EXPECT_EQ(box.readFile("C:\\f.txt"), "old\r\nmore\r\n");
    fsys.OpenTextFile("C:\\f.txt", IOMode::ForWriting, false)->Write("new");
    EXPECT_EQ(box.readFile("C:\\f.txt"), "new");

    fsys.OpenTextFile("C:\\made.txt", IOMode::ForAppending, true)->WriteLine("a");
    EXPECT_EQ(box.readFile("C:\\made.txt"), "a\r\n");
}

TEST_F(FileSystemTest, CreateTextFileOverwriteRules) {
    box.writeFile("C:\\c.txt", "keep");
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\C.txt", false); }), err::FileExists);
    EXPECT_EQ(box.readFile("C:\\c.txt"), "keep");
    fsys.CreateTextFile("C:\\c.txt", true)->Write("new");
    EXPECT_EQ(box.readFile("C:\\c.txt"), "new");

    fsys.SetReadOnly("C:\\c.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\c.txt", true); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\c.txt", IOMode::ForAppending, false); }), err::PermissionDenied);
    EXPECT_EQ(box.readFile("C:\\c.txt"), "new");
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\NoDir\\x.txt", true); }), err::PathNotFound);
}

TEST_F(FileSystemTest, CopyFileErrorsAndContent) {
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    box.writeFile("C:\\src\\a.bin", bytes);
    box.makeFolder("C:\\dst");

    fsys.CopyFile("C:\\SRC\\a.bin", "C:\\dst\\b.bin", false);
    EXPECT_EQ(box.readFile("C:\\dst\\b.bin"), bytes);

    box.writeFile("C:\\dst\\c.bin", "small");
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\a.bin", "C:\\dst\\c.bin", false); }), err::FileExists);
    EXPECT_EQ(box.readFile("C:\\dst\\c.bin"), "small");
    box.writeFile("C:\\src\\short.txt", "xy");
    fsys.CopyFile("C:\\src\\short.txt", "C:\\dst\\b.bin", true);
    EXPECT_EQ(box.readFile("C:\\dst\\b.bin"), "xy");

    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\none", "C:\\dst\\n", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\nodir\\none", "C:\\dst\\n", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\short.txt", "C:\\nodir\\n", true); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\short.txt", "C:\\src\\short.txt", true); }),
              err::PermissionDenied);
    EXPECT_EQ(box.readFile("C:\\src\\short.txt"), "xy");

    fsys.SetReadOnly("C:\\dst\\c.bin", true);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\short.txt", "C:\\dst\\c.bin", true); }), err::PermissionDenied);
    EXPECT_EQ(box.readFile("C:\\dst\\c.bin"), "small");
}

TEST_F(FileSystemTest, MoveFileReplacesOnlyWhenAsked) {
    box.writeFile("C:\\m\\a.txt", "A");
    box.writeFile("C:\\m\\b.txt", "B");
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\a.txt", "C:\\m\\B.TXT", false); }), err::FileExists);
    EXPECT_EQ(box.readFile("C:\\m\\a.txt"), "A");
    EXPECT_EQ(box.readFile("C:\\m\\b.txt"), "B");

    fsys.MoveFile("C:\\m\\a.txt", "C:\\m\\b.txt", true);
    EXPECT_FALSE(box.exists("C:\\m\\a.txt"));
    EXPECT_EQ(box.readFile("C:\\m\\b.txt"), "A");

    fsys.MoveFile("C:\\m\\b.txt", "C:\\m\\c.txt", false);
    EXPECT_EQ(box.readFile("C:\\m\\c.txt"), "A");
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\b.txt", "C:\\m\\d.txt", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\c.txt", "C:\\nodir\\d.txt", false); }), err::PathNotFound);
}

TEST_F(FileSystemTest, DeleteReadOnlyNeedsForce) {
    EXPECT_EQ(errorOf([&] { fsys.DeleteFile("C:\\none.txt", true); }), err::FileNotFound);
    box.makeFolder("C:\\folder");
    EXPECT_EQ(errorOf([&] { fsys.DeleteFile("C:\\folder", true); }), err::FileNotFound);

    box.writeFile("C:\\ro.txt", "x");
    fsys.SetReadOnly("C:\\ro.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.DeleteFile("C:\\RO.txt", false); }), err::PermissionDenied);
    EXPECT_TRUE(box.exists("C:\\ro.txt"));
    // Forced, the name is tried as spelled first and then matched without regard to case.
    fsys.DeleteFile("C:\\Ro.TXT", true);
    EXPECT_FALSE(box.exists("C:\\ro.txt"));

    box.writeFile("C:\\rw.txt", "x");
    fsys.SetReadOnly("C:\\rw.txt", true);
    fsys.SetReadOnly("C:\\rw.txt", false);
    fsys.DeleteFile("C:\\rw.txt", false);
    EXPECT_FALSE(box.exists("C:\\rw.txt"));
}

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

TEST_F(FileSystemTest, SizeAndVersion) {
    box.writeFile("C:\\s.bin", std::string(1234, 'x'));
    EXPECT_EQ(fsys.GetFileSize("C:\\S.BIN"), 1234u);
    EXPECT_EQ(errorOf([&] { fsys.GetFileSize("C:\\none"); }), err::FileNotFound);

    EXPECT_EQ(fsys.GetFileVersion("C:\\s.bin"), "");
    EXPECT_EQ(errorOf([&] { fsys.GetFileVersion("C:\\none.exe"); }), err::FileNotFound);

    // The program asks for its own version as folder + base name + ".exe".
    static char name[] = "x";
    static char* argv[] = {name, nullptr};
    PosixHost host(1, argv);
    EXPECT_EQ(fsys.GetFileVersion(host.ExeFolder() + "\\" + host.ExeBaseName() + ".exe"), "1.0.0.1");
    // A copy of the executable is another file without a version.
    fsys.CopyFile(host.ExeFolder() + "\\" + host.ExeBaseName(), "C:\\copy.exe", true);
    EXPECT_EQ(fsys.GetFileVersion("C:\\copy.exe"), "");
}

TEST_F(FileSystemTest, GetFilesListsRegularFilesByNameWithoutCase) {
    EXPECT_EQ(errorOf([&] { fsys.GetFiles("C:\\none"); }), err::PathNotFound);
    box.writeFile("C:\\L\\b.txt", "bb");
    box.writeFile("C:\\L\\A.txt", "a");
    box.writeFile("C:\\L\\c.TXT", "");
    box.writeFile("C:\\L\\a_b", "");
    box.writeFile("C:\\L\\aab", "");
    box.writeFile("C:\\L\\sub\\inner.txt", "");
    const std::string dir = box.root() + "/drive_c/L";
    fs::create_symlink(dir + "/b.txt", dir + "/link.txt");
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);

    const auto files = fsys.GetFiles("C:\\l");
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.name);
    // Upper-case folding puts "_" after the letters, as NTFS orders names.
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "aab", "a_b", "b.txt", "c.TXT"}));
    EXPECT_EQ(files[3].path, "C:\\l\\b.txt");
    EXPECT_EQ(files[3].size, 2u);
    EXPECT_EQ(fsys.GetFiles("C:\\L\\")[0].path, "C:\\L\\A.txt");
}

TEST_F(FileSystemTest, GetFilesDatesAreLocalModificationTimes) {
    box.writeFile("C:\\D\\old.log", "x");
    const timeval times[2] = {{kOld, 0}, {kOld, 0}};
    ASSERT_EQ(::utimes(box.hostPath("C:\\D\\old.log").c_str(), times), 0);
    const auto files = fsys.GetFiles("C:\\D");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].dateCreated, (LocalTime{2025, 3, 4, 5, 6, 7}));
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
// what is really inside they read, rewrite, copy and delete like the others.
TEST_F(FileSystemTest, ConfinedOperationsNeverLeaveTheFolder) {
    const std::string logs = "C:\\Agent\\AutomiseLogs";
    const std::string host = box.hostPath(logs);
    box.writeFile(logs + "\\Sub\\in.txt", "inside\r\n");
    box.writeFile("C:\\Outside\\victim.txt", "victim\r\n");
    fs::create_symlink(box.hostPath("C:\\Outside"), host + "/dir");
    fs::create_symlink(box.hostPath("C:\\Outside\\victim.txt"), host + "/file.txt");
    fs::create_symlink(box.hostPath("C:\\Outside"), host + "/Sub/deeper");
    ASSERT_EQ(::link(box.hostPath("C:\\Outside\\victim.txt").c_str(), (host + "/hard.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo((host + "/pipe.xml").c_str(), 0600), 0);

    const std::vector<std::string> refused = {
        logs + "\\dir\\victim.txt", logs + "\\DIR\\victim.txt", logs + "\\file.txt", logs + "\\Sub\\deeper\\victim.txt",
        logs + "\\hard.txt",        logs + "\\pipe.xml",        logs + "\\..\\..\\Outside\\victim.txt",
        logs + "\\in.txt:stream",   "C:\\Outside\\victim.txt",
    };
    for (const auto& path : refused) {
        EXPECT_EQ(errorOf([&] { fsys.FileExistsInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.RewriteInside(logs, path, "x"); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.CopyOutOf(logs, path, "C:\\copy.txt", true); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.DeleteInside(logs, path, true); }), err::PathAccess) << path;
    }
    EXPECT_EQ(box.readFile("C:\\Outside\\victim.txt"), "victim\r\n");
    EXPECT_TRUE(fs::is_symlink(host + "/dir") && fs::is_symlink(host + "/file.txt"));
    EXPECT_TRUE(fs::exists(host + "/hard.txt"));
    EXPECT_FALSE(box.exists("C:\\copy.txt"));

    // Inside, names match without regard to case, as elsewhere.
    EXPECT_TRUE(fsys.FileExistsInside(logs, logs + "\\sub\\IN.txt"));
    EXPECT_FALSE(fsys.FileExistsInside(logs, logs + "\\Sub\\none.txt"));
    EXPECT_FALSE(fsys.FileExistsInside(logs, logs + "\\None\\in.txt"));
    EXPECT_FALSE(fsys.FileExistsInside(logs, logs + "\\Sub"));
    EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, logs + "\\Sub\\none.txt"); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, logs + "\\None\\in.txt"); }), err::PathNotFound);
    EXPECT_EQ(fsys.OpenInside(logs, logs + "\\Sub\\.\\x\\..\\in.txt")->ReadLine(), "inside");
    fsys.RewriteInside(logs, logs + "\\Sub\\in.txt", "new");
    EXPECT_EQ(box.readFile(logs + "\\Sub\\in.txt"), "new");
    fsys.CopyOutOf(logs, logs + "\\Sub\\in.txt", "C:\\copy.txt", false);
    EXPECT_EQ(box.readFile("C:\\copy.txt"), "new");
    EXPECT_EQ(errorOf([&] { fsys.CopyOutOf(logs, logs + "\\Sub\\in.txt", "C:\\copy.txt", false); }), err::FileExists);
    fsys.SetReadOnly(logs + "\\Sub\\in.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.RewriteInside(logs, logs + "\\Sub\\in.txt", "x"); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fsys.DeleteInside(logs, logs + "\\Sub\\in.txt", false); }), err::PermissionDenied);
    fsys.DeleteInside(logs, logs + "\\Sub\\in.txt", true);
    EXPECT_FALSE(box.exists(logs + "\\Sub\\in.txt"));
}

// A line without end is kept to its first kMaxLineBytes; the next line is
// read as usual after it.
TEST_F(FileSystemTest, EndlessLineIsCutAndReadPast) {
    const std::string endless(3 * kMaxLineBytes + 12345, 'e');
    box.writeFile("C:\\long.txt", "first\r\n" + endless + "\r\nnext\r\n" + endless);
    auto in = fsys.OpenTextFile("C:\\long.txt", IOMode::ForReading, false);
    EXPECT_EQ(in->ReadLine(), "first");
    EXPECT_EQ(in->ReadLine(), endless.substr(0, kMaxLineBytes));
    EXPECT_EQ(in->ReadLine(), "next");
    EXPECT_EQ(in->ReadLine(), endless.substr(0, kMaxLineBytes));
    EXPECT_TRUE(in->AtEndOfStream());
}
