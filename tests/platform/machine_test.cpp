// Windows paths mapped onto the machine root and back, and the other small
// services of the posix backend: the running process and its paths.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/filesystem.h"
#include "platform/posix/folder_index.h"
#include "platform/posix/host.h"
#include "platform/posix/machine.h"
#include "platform/posix/paths.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

TEST(MachinePaths, ComponentsResolveWithoutRegardToCase) {
    Sandbox box;
    fs::create_directories(box.root() + "/drive_c/Agent/KOVAExMonScripts");
    EXPECT_EQ(mapPath("C:\\Agent\\KOVAExmonScripts"), box.root() + "/drive_c/Agent/KOVAExMonScripts");
    EXPECT_EQ(mapPath("c:\\AGENT\\kovaexmonscripts\\New.txt"),
              box.root() + "/drive_c/Agent/KOVAExMonScripts/New.txt");
}

TEST(MachinePaths, ExactSpellingWinsOverAnotherCase) {
    Sandbox box;
    fs::create_directories(box.root() + "/drive_c/logs");
    fs::create_directories(box.root() + "/drive_c/Logs");
    EXPECT_EQ(mapPath("C:\\Logs"), box.root() + "/drive_c/Logs");
    EXPECT_EQ(mapPath("C:\\logs"), box.root() + "/drive_c/logs");
}

namespace {

// Runs `change` in a child process: a writer other than this process's backend.
template <class Change>
void byAnotherProcess(Change change) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        change();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

// A folder is read once, for the first name missing in it; after that its
// kept names answer, and they follow every change, whoever makes it: a name
// another process creates in another case is found, one it renames or
// removes is never given, and a folder put in place of the old one is read
// afresh.
TEST(MachinePaths, NamesOfAFolderAreReadOnceAndFollowEveryChange) {
    Sandbox box;
    PosixFileSystem fsys;
    const std::string drop = box.root() + "/drive_c/Drop";
    const std::uint64_t before = folderReadings();
    // The drive, where "Drop" is missing at first, then Drop, where each name is.
    for (int i = 0; i < 300; ++i) box.writeFile("C:\\Drop\\waiting_" + std::to_string(i) + ".xml", "x");
    EXPECT_EQ(folderReadings(), before + 2);
    EXPECT_EQ(mapPath("C:\\DROP\\New0.xml"), drop + "/New0.xml");
    for (int i = 0; i < 50; ++i) {
        const std::string name = "C:\\Drop\\New" + std::to_string(i) + ".xml";
        fsys.CreateTextFile(name + ".vx1.tmp", true)->WriteLine("<r/>");
        fsys.MoveFile(name + ".vx1.tmp", name, false);
    }
    EXPECT_EQ(mapPath("C:\\Drop\\WAITING_7.XML"), drop + "/waiting_7.xml");
    EXPECT_EQ(mapPath("C:\\drop\\new49.XML"), drop + "/New49.xml");
    EXPECT_EQ(folderReadings(), before + 2);

    byAnotherProcess([&] { std::ofstream(drop + "/OTHER.TXT") << "theirs"; });
    EXPECT_EQ(mapPath("C:\\Drop\\other.txt"), drop + "/OTHER.TXT");
    EXPECT_TRUE(fsys.FileExists("C:\\Drop\\Other.Txt"));
    byAnotherProcess([&] { fs::rename(drop + "/OTHER.TXT", drop + "/Moved.txt"); });
    EXPECT_EQ(mapPath("C:\\Drop\\other.txt"), drop + "/other.txt");
    EXPECT_EQ(mapPath("C:\\Drop\\MOVED.TXT"), drop + "/Moved.txt");
    byAnotherProcess([&] { fs::remove(drop + "/Moved.txt"); });
    EXPECT_EQ(mapPath("C:\\Drop\\moved.txt"), drop + "/moved.txt");
    EXPECT_FALSE(fsys.FileExists("C:\\Drop\\MOVED.TXT"));
    EXPECT_EQ(folderReadings(), before + 2);

    // Two names that differ in case only: the one spelled wins, the other stays reachable.
    byAnotherProcess([&] { std::ofstream(drop + "/twin.txt") << "lower"; });
    byAnotherProcess([&] { std::ofstream(drop + "/TWIN.TXT") << "upper"; });
    EXPECT_EQ(mapPath("C:\\Drop\\TWIN.TXT"), drop + "/TWIN.TXT");
    byAnotherProcess([&] { fs::remove(drop + "/TWIN.TXT"); });
    EXPECT_EQ(mapPath("C:\\Drop\\TWIN.TXT"), drop + "/twin.txt");

    // The folder itself swapped for another of the same name.
    byAnotherProcess([&] {
        fs::rename(drop, box.root() + "/drive_c/Drop.old");
        fs::create_directory(drop);
        std::ofstream(drop + "/Fresh.txt") << "new";
    });
    EXPECT_EQ(mapPath("C:\\Drop\\fresh.txt"), drop + "/Fresh.txt");
    EXPECT_EQ(mapPath("C:\\Drop\\waiting_7.XML"), drop + "/waiting_7.XML");
    EXPECT_EQ(folderReadings(), before + 3);
}

TEST(MachinePaths, SeparatorsDotsAndDrives) {
    Sandbox box;
    const std::string c = box.root() + "/drive_c";
    EXPECT_EQ(mapPath("C:\\Agent\\\\AutomiseLogs"), c + "/Agent/AutomiseLogs");
    EXPECT_EQ(mapPath("C:\\Agent\\\\\\x\\"), c + "/Agent/x");
    EXPECT_EQ(mapPath("C:/Agent/./x"), c + "/Agent/x");
    EXPECT_EQ(mapPath("C:\\a\\..\\b"), c + "/b");
    // ".." stops at the drive: nothing outside the machine is reachable.
    EXPECT_EQ(mapPath("C:\\..\\..\\..\\etc\\passwd"), c + "/etc/passwd");
    EXPECT_EQ(mapPath("D:\\Data"), box.root() + "/drive_d/Data");
    EXPECT_EQ(mapPath("d:"), box.root() + "/drive_d");
    EXPECT_EQ(mapPath("\\Windows"), c + "/Windows");
}

TEST(MachinePaths, DriveZIsTheSystemRootUnlessMapped) {
    Sandbox box;
    EXPECT_EQ(mapPath("Z:\\"), "/");
    ASSERT_FALSE(fs::exists("/Tmp"));
    EXPECT_EQ(mapPath("Z:\\Tmp"), "/tmp");
    fs::create_directories(box.root() + "/drive_z");
    EXPECT_EQ(mapPath("Z:\\tmp"), box.root() + "/drive_z/tmp");
}

TEST(MachinePaths, ReverseMapping) {
    Sandbox box;
    EXPECT_EQ(windowsPathOf(box.root() + "/drive_c/Agent/bin"), "C:\\Agent\\bin");
    EXPECT_EQ(windowsPathOf(box.root() + "/drive_d"), "D:\\");
    EXPECT_EQ(windowsPathOf("/usr/lib"), "Z:\\usr\\lib");
    // A folder that only starts like a drive folder is no drive.
    EXPECT_EQ(windowsPathOf(box.root() + "/drive_cx").substr(0, 3), "Z:\\");
    // Round trip through both mappings.
    fs::create_directories(box.root() + "/drive_c/Program Files/VSoft");
    EXPECT_EQ(mapPath(windowsPathOf(box.root() + "/drive_c/Program Files/VSoft")),
              box.root() + "/drive_c/Program Files/VSoft");
}

TEST(MachinePaths, RootComesFromTheEnvironment) {
    Sandbox box;
    EXPECT_EQ(machineRoot(), box.root());
    EXPECT_EQ(registryFilePath(), box.root() + "/system.reg");
    ::setenv("VORBEX_MACHINE", "", 1);
    EXPECT_EQ(machineRoot(), "/var/lib/vorbex");
    ::setenv("VORBEX_MACHINE", (box.root() + "//").c_str(), 1);
    EXPECT_EQ(machineRoot(), box.root());
    ::setenv("VORBEX_MACHINE", box.root().c_str(), 1);
}

TEST(MachinePaths, SystemMessagesEndWithCrLf) {
    const std::string text = systemMessageText(2);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(systemMessageText(0), "");
    EXPECT_EQ(systemMessageText(99999), "");
}

// ---- The running process, paths and clock of the posix backend.

TEST(PosixHostTest, CommandLineAndExecutable) {
    char a[] = "vorbex", b[] = "5,2,Action_27_KRN", c[] = "extra";
    char* argv[] = {a, b, c, nullptr};
    PosixHost host(3, argv);
    EXPECT_EQ(host.CommandLine(), "5,2,Action_27_KRN extra");
    EXPECT_EQ(PosixHost(1, argv).CommandLine(), "");

    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string exe = self;
    EXPECT_EQ(host.ExeBaseName(), exe.substr(exe.find_last_of('/') + 1));
    EXPECT_EQ(mapPath(host.ExeFolder()), exe.substr(0, exe.find_last_of('/')));
    EXPECT_NE(host.ExeFolder().back(), '\\');
    EXPECT_EQ(host.SystemMessage(2), systemMessageText(2));
}

TEST(PosixPathsTest, ShortPathIsTheExistingPathItself) {
    Sandbox box;
    box.makeFolder("C:\\Program Files\\KOVA");
    PosixPaths paths;
    EXPECT_EQ(paths.ProgramFilesFolder(), "C:\\Program Files");
    EXPECT_EQ(paths.ShortPath("c:\\program files\\KOVA"), "c:\\program files\\KOVA");
    EXPECT_EQ(paths.ShortPath("C:\\Program Files\\Missing"), "");
}
