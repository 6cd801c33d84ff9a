// The Win32 file-system object: the runtime's error numbers, text streams,
// copies, moves, deletion with the read-only attribute, and folder listings.
#include <gtest/gtest.h>

#include "platform/win32/windows.h"
#include <winioctl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/buffered_stream.h"
#include "base/errors.h"
#include "raised.h"
#include "platform/win32/filesystem.h"
#include "win32_test_support.h"

namespace {

bool isReadOnly(const std::string& path) {
    const DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0;
}

class Win32FileSystemTest : public ::testing::Test {
protected:
    TempFolder dir;
    Win32FileSystem fs;
};

TEST_F(Win32FileSystemTest, ExistenceTellsFilesFromFolders) {
    writeBytes(dir / "a.txt", "x");
    EXPECT_TRUE(fs.FileExists(dir / "a.txt"));
    EXPECT_FALSE(fs.FolderExists(dir / "a.txt"));
    EXPECT_TRUE(fs.FolderExists(dir.path()));
    EXPECT_FALSE(fs.FileExists(dir.path()));
    EXPECT_FALSE(fs.FileExists(dir / "missing.txt"));
    // The program joins paths that carry a doubled separator.
    EXPECT_TRUE(fs.FileExists(dir.path() + "\\\\a.txt"));
}

TEST_F(Win32FileSystemTest, CreateFolderRaisesForExistingAndOrphanedFolders) {
    fs.CreateFolder(dir / "new");
    EXPECT_TRUE(fs.FolderExists(dir / "new"));
    EXPECT_EQ(errorOf([&] { fs.CreateFolder(dir / "new"); }), err::FileExists);
    EXPECT_EQ(errorOf([&] { fs.CreateFolder(dir / "no\\such"); }), err::PathNotFound);
}

TEST_F(Win32FileSystemTest, WrittenLinesEndWithCrLfAndReadBackWithEitherLineEnd) {
    {
        auto out = fs.CreateTextFile(dir / "log.txt", true);
        out->WriteLine("first");
        out->Write("sec");
        out->WriteLine("ond");
        out->Close();
    }
    EXPECT_EQ(readBytes(dir / "log.txt"), "first\r\nsecond\r\n");

    writeBytes(dir / "mixed.txt", "a\nb\r\n\r\nlast");
    auto in = fs.OpenTextFile(dir / "mixed.txt", IOMode::ForReading, false);
    EXPECT_EQ(in->ReadLine(), "a");
    EXPECT_EQ(in->ReadLine(), "b");
    EXPECT_EQ(in->ReadLine(), "");
    EXPECT_FALSE(in->AtEndOfStream());
    EXPECT_EQ(in->ReadLine(), "last");
    EXPECT_TRUE(in->AtEndOfStream());
    EXPECT_EQ(errorOf([&] { in->ReadLine(); }), err::PastEnd);
}

TEST_F(Win32FileSystemTest, LinesLongerThanOneReadBlockStayWhole) {
    const std::string longLine(3 * kTextReadBlock + 17, 'x');
    writeBytes(dir / "long.txt", "head\r\n" + longLine + "\r\ntail");
    auto in = fs.OpenTextFile(dir / "long.txt", IOMode::ForReading, false);
    EXPECT_EQ(in->ReadLine(), "head");
    EXPECT_EQ(in->ReadLine(), longLine);
    EXPECT_EQ(in->ReadAll(), "tail");
    EXPECT_TRUE(in->AtEndOfStream());
}

TEST_F(Win32FileSystemTest, ACrLfSplitAcrossReadBlocksIsOneLineEnd) {
    // The text puts the CR at the end of the first block and the LF at the
    // start of the next.
    const std::string text(kTextReadBlock - 1, 'y');
    writeBytes(dir / "edge.txt", text + "\r\nz");
    auto in = fs.OpenTextFile(dir / "edge.txt", IOMode::ForReading, false);
    EXPECT_EQ(in->ReadLine(), text);
    EXPECT_EQ(in->ReadLine(), "z");
}

TEST_F(Win32FileSystemTest, CreateTextFileRefusesExistingFilesUnlessOverwriting) {
    writeBytes(dir / "a.txt", "old");
    EXPECT_EQ(errorOf([&] { fs.CreateTextFile(dir / "a.txt", false); }), err::FileExists);
    EXPECT_EQ(readBytes(dir / "a.txt"), "old");
    fs.CreateTextFile(dir / "a.txt", true)->WriteLine("new");
    EXPECT_EQ(readBytes(dir / "a.txt"), "new\r\n");
    EXPECT_EQ(errorOf([&] { fs.CreateTextFile(dir / "no\\such\\a.txt", true); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fs.CreateTextFile(dir.path(), true); }), err::PermissionDenied);
}

TEST_F(Win32FileSystemTest, ReadOnlyFilesRefuseEveryKindOfWriting) {
    writeBytes(dir / "ro.txt", "keep");
    fs.SetReadOnly(dir / "ro.txt", true);
    EXPECT_TRUE(isReadOnly(dir / "ro.txt"));
    EXPECT_EQ(errorOf([&] { fs.CreateTextFile(dir / "ro.txt", true); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fs.OpenTextFile(dir / "ro.txt", IOMode::ForAppending, false); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fs.OpenTextFile(dir / "ro.txt", IOMode::ForWriting, false); }), err::PermissionDenied);
    EXPECT_EQ(readBytes(dir / "ro.txt"), "keep");
    // Reading is fine.
    EXPECT_EQ(fs.OpenTextFile(dir / "ro.txt", IOMode::ForReading, false)->ReadAll(), "keep");
    fs.SetReadOnly(dir / "ro.txt", false);
    EXPECT_FALSE(isReadOnly(dir / "ro.txt"));
    EXPECT_EQ(errorOf([&] { fs.SetReadOnly(dir / "missing.txt", true); }), err::FileNotFound);
}

TEST_F(Win32FileSystemTest, OpenTextFileModes) {
    EXPECT_EQ(errorOf([&] { fs.OpenTextFile(dir / "missing.txt", IOMode::ForReading, false); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fs.OpenTextFile(dir / "no\\such.txt", IOMode::ForReading, false); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fs.OpenTextFile(dir / "missing.txt", IOMode::ForAppending, false); }),
              err::FileNotFound);
    EXPECT_FALSE(fs.FileExists(dir / "missing.txt"));

    fs.OpenTextFile(dir / "made.txt", IOMode::ForAppending, true)->WriteLine("one");
    fs.OpenTextFile(dir / "made.txt", IOMode::ForAppending, false)->WriteLine("two");
    EXPECT_EQ(readBytes(dir / "made.txt"), "one\r\ntwo\r\n");

    fs.OpenTextFile(dir / "made.txt", IOMode::ForWriting, false)->Write("x");
    EXPECT_EQ(readBytes(dir / "made.txt"), "x");
}

TEST_F(Win32FileSystemTest, AppendingGoesToTheEndEvenAfterAnotherWriter) {
    writeBytes(dir / "log.txt", "start\r\n");
    auto log = fs.OpenTextFile(dir / "log.txt", IOMode::ForAppending, false);
    log->WriteLine("mine");
    // Another handle writes in between; the next line still goes to the end.
    fs.OpenTextFile(dir / "log.txt", IOMode::ForAppending, false)->WriteLine("theirs");
    log->WriteLine("mine again");
    log->Close();
    EXPECT_EQ(readBytes(dir / "log.txt"), "start\r\nmine\r\ntheirs\r\nmine again\r\n");
}

// The run log's restart across processes: a log at its limit that another
// process is writing is continued whole, and the first start that finds it
// alone begins it afresh.
TEST_F(Win32FileSystemTest, ALogAtItsLimitIsCutOnlyWhenNoOtherProcessHasItOpen) {
    constexpr std::uint64_t kLimit = 1024 * 1024;
    const std::string log = dir / "run.txt";
    const std::string old = "OLD RUN\r\n" + std::string(kLimit, 'x') + "\r\n";
    writeBytes(log, old);

    // Another run, a process of its own, has the log open and has written to it.
    struct OtherRun {
        PROCESS_INFORMATION info{};
        bool end() {
            if (info.hProcess == nullptr) return true;
            ::TerminateProcess(info.hProcess, 1);
            const bool ended = ::WaitForSingleObject(info.hProcess, 30000) == WAIT_OBJECT_0;
            ::CloseHandle(info.hThread);
            ::CloseHandle(info.hProcess);
            info = {};
            return ended;
        }
        ~OtherRun() { end(); }
    } other;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string line = helperCommandLine("sharedlog", log);
    ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                 &startup, &other.info));
    const std::string theirs = old + "OTHER RUN\r\n";
    for (int i = 0; i < 1000 && fs.GetFileSize(log) < theirs.size(); ++i) ::Sleep(10);
    ASSERT_EQ(fs.GetFileSize(log), theirs.size()) << "the other run wrote nothing";

    fs.OpenSharedLog(log, kLimit)->WriteLine("THIS RUN");
    EXPECT_EQ(readBytes(log), theirs + "THIS RUN\r\n");

    // Once it has ended, a start is alone with the log.
    ASSERT_TRUE(other.end());
    auto alone = fs.OpenSharedLog(log, kLimit);
    alone->WriteLine("AFRESH");
    EXPECT_EQ(readBytes(log), "AFRESH\r\n");
    // Below the limit, the next start continues it.
    fs.OpenSharedLog(log, kLimit)->WriteLine("NEXT");
    alone->WriteLine("AGAIN");
    EXPECT_EQ(readBytes(log), "AFRESH\r\nNEXT\r\nAGAIN\r\n");
}

TEST_F(Win32FileSystemTest, StreamsRefuseTheWrongDirectionAndUseAfterClose) {
    writeBytes(dir / "a.txt", "x");
    auto in = fs.OpenTextFile(dir / "a.txt", IOMode::ForReading, false);
    EXPECT_EQ(errorOf([&] { in->WriteLine("no"); }), 54);
    in->Close();
    EXPECT_EQ(errorOf([&] { in->ReadLine(); }), 52);
    auto out = fs.CreateTextFile(dir / "b.txt", true);
    EXPECT_EQ(errorOf([&] { out->ReadAll(); }), 54);
}

TEST_F(Win32FileSystemTest, AnOpenFileCanBeReadAndDeletedByOthers) {
    auto log = fs.CreateTextFile(dir / "open.txt", true);
    log->WriteLine("line");
    EXPECT_EQ(readBytes(dir / "open.txt"), "line\r\n");
    fs.CopyFile(dir / "open.txt", dir / "copy.txt", true);
    EXPECT_EQ(readBytes(dir / "copy.txt"), "line\r\n");
    EXPECT_NO_THROW(fs.DeleteFile(dir / "open.txt", false));
}

TEST_F(Win32FileSystemTest, CopyFileHonoursOverwriteAndReadOnlyTargets) {
    writeBytes(dir / "src.txt", "source");
    writeBytes(dir / "dst.txt", "target");
    EXPECT_EQ(errorOf([&] { fs.CopyFile(dir / "src.txt", dir / "dst.txt", false); }), err::FileExists);
    EXPECT_EQ(readBytes(dir / "dst.txt"), "target");
    fs.CopyFile(dir / "src.txt", dir / "dst.txt", true);
    EXPECT_EQ(readBytes(dir / "dst.txt"), "source");

    EXPECT_EQ(errorOf([&] { fs.CopyFile(dir / "missing.txt", dir / "x.txt", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fs.CopyFile(dir / "src.txt", dir / "no\\such\\x.txt", true); }), err::PathNotFound);
    fs.SetReadOnly(dir / "dst.txt", true);
    EXPECT_EQ(errorOf([&] { fs.CopyFile(dir / "src.txt", dir / "dst.txt", true); }), err::PermissionDenied);
    // Copying a file onto itself must not destroy it.
    EXPECT_NE(errorOf([&] { fs.CopyFile(dir / "src.txt", dir / "src.txt", true); }), 0);
    EXPECT_EQ(readBytes(dir / "src.txt"), "source");
}

TEST_F(Win32FileSystemTest, MoveFileReplacesOnlyWhenAsked) {
    writeBytes(dir / "a.tmp", "new");
    writeBytes(dir / "a.ini", "old");
    EXPECT_EQ(errorOf([&] { fs.MoveFile(dir / "a.tmp", dir / "a.ini", false); }), err::FileExists);
    EXPECT_EQ(readBytes(dir / "a.ini"), "old");
    fs.MoveFile(dir / "a.tmp", dir / "a.ini", true);
    EXPECT_EQ(readBytes(dir / "a.ini"), "new");
    EXPECT_FALSE(fs.FileExists(dir / "a.tmp"));
    EXPECT_EQ(errorOf([&] { fs.MoveFile(dir / "a.tmp", dir / "b.ini", true); }), err::FileNotFound);

    writeBytes(dir / "b.tmp", "x");
    fs.SetReadOnly(dir / "a.ini", true);
    EXPECT_EQ(errorOf([&] { fs.MoveFile(dir / "b.tmp", dir / "a.ini", true); }), err::PermissionDenied);
}

TEST_F(Win32FileSystemTest, DeleteFileHonoursReadOnlyUnlessForced) {
    writeBytes(dir / "ro.txt", "x");
    fs.SetReadOnly(dir / "ro.txt", true);
    EXPECT_EQ(errorOf([&] { fs.DeleteFile(dir / "ro.txt", false); }), err::PermissionDenied);
    EXPECT_TRUE(fs.FileExists(dir / "ro.txt"));
    fs.DeleteFile(dir / "ro.txt", true);
    EXPECT_FALSE(fs.FileExists(dir / "ro.txt"));
    EXPECT_EQ(errorOf([&] { fs.DeleteFile(dir / "ro.txt", true); }), err::FileNotFound);
    fs.CreateFolder(dir / "sub");
    EXPECT_EQ(errorOf([&] { fs.DeleteFile(dir / "sub", true); }), err::FileNotFound);
    EXPECT_TRUE(fs.FolderExists(dir / "sub"));
}

TEST_F(Win32FileSystemTest, GetFileSizeOfFilesOnly) {
    writeBytes(dir / "five.txt", "12345");
    writeBytes(dir / "empty.txt", "");
    EXPECT_EQ(fs.GetFileSize(dir / "five.txt"), 5u);
    EXPECT_EQ(fs.GetFileSize(dir / "empty.txt"), 0u);
    EXPECT_EQ(errorOf([&] { fs.GetFileSize(dir / "missing.txt"); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fs.GetFileSize(dir.path()); }), err::FileNotFound);
}

TEST_F(Win32FileSystemTest, GetFilesListsFilesByNameWithoutRegardToCase) {
    for (const char* name : {"b.txt", "AAB.txt", "a_b.txt", "C.log"}) writeBytes(dir / name, name);
    fs.CreateFolder(dir / "A-folder");
    const auto files = fs.GetFiles(dir.path());
    ASSERT_EQ(files.size(), 4u);
    // Upper-case order: "AAB" < "A_B" ('A' 0x41 < '_' 0x5F) < "B" < "C".
    EXPECT_EQ(files[0].name, "AAB.txt");
    EXPECT_EQ(files[1].name, "a_b.txt");
    EXPECT_EQ(files[2].name, "b.txt");
    EXPECT_EQ(files[3].name, "C.log");
    EXPECT_EQ(files[1].path, dir / "a_b.txt");
    EXPECT_EQ(files[1].size, 7u);

    // Created just now, so the creation date is today's local date.
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const LocalTime today{now.wYear, now.wMonth, now.wDay, 0, 0, 0};
    EXPECT_LE(std::abs(files[0].dateCreated.dayNumber() - today.dayNumber()), 1);

    // A trailing separator on the folder gives the same paths.
    EXPECT_EQ(fs.GetFiles(dir.path() + "\\")[0].path, dir / "AAB.txt");
    EXPECT_TRUE(fs.GetFiles(dir / "A-folder").empty());
}

TEST_F(Win32FileSystemTest, GetFilesOfAMissingFolderIsPathNotFound) {
    EXPECT_EQ(errorOf([&] { fs.GetFiles(dir / "missing"); }), err::PathNotFound);
    writeBytes(dir / "file", "x");
    EXPECT_EQ(errorOf([&] { fs.GetFiles(dir / "file"); }), err::PathNotFound);
}

TEST_F(Win32FileSystemTest, GetFileVersionReadsTheVersionResource) {
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    const std::string version = fs.GetFileVersion(std::string(system) + "\\kernel32.dll");
    // Four numbers separated by dots.
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
    EXPECT_NE(version.find_first_of("0123456789"), std::string::npos);

    writeBytes(dir / "plain.txt", "no resource");
    EXPECT_EQ(fs.GetFileVersion(dir / "plain.txt"), "");
    EXPECT_EQ(errorOf([&] { fs.GetFileVersion(dir / "missing.exe"); }), err::FileNotFound);
}

}  // namespace

// The confined operations do their work on what lies below the folder, and
// refuse a path that climbs out, a device name, a stream name and a file with
// a second name; nothing outside changes.
TEST_F(Win32FileSystemTest, ConfinedOperationsActOnlyBelowTheFolder) {
    const std::string logs = dir / "Logs";
    ::CreateDirectoryA(logs.c_str(), nullptr);
    ::CreateDirectoryA((logs + "\\Sub").c_str(), nullptr);
    writeBytes(logs + "\\Sub\\in.txt", "inside\r\n");
    writeBytes(dir / "victim.txt", "victim");
    const bool hardLink = ::CreateHardLinkA((logs + "\\hard.txt").c_str(), (dir / "victim.txt").c_str(), nullptr);

    std::vector<std::string> refused = {logs + "\\..\\victim.txt", logs + "\\Sub\\..\\..\\victim.txt",
                                        logs + "\\NUL", logs + "\\Sub\\in.txt:stream", dir / "victim.txt"};
    if (hardLink) refused.push_back(logs + "\\hard.txt");
    for (const auto& path : refused) {
        EXPECT_EQ(errorOf([&] { fs.FileExistsInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fs.OpenInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fs.RewriteInside(logs, path, "x"); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fs.CopyOutOf(logs, path, dir / "copy.txt", true); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fs.DeleteInside(logs, path, true); }), err::PathAccess) << path;
    }
    EXPECT_EQ(readBytes(dir / "victim.txt"), "victim");
    EXPECT_FALSE(fs.FileExists(dir / "copy.txt"));

    EXPECT_TRUE(fs.FileExistsInside(logs, logs + "\\SUB\\In.TXT"));
    EXPECT_FALSE(fs.FileExistsInside(logs, logs + "\\Sub\\none.txt"));
    EXPECT_FALSE(fs.FileExistsInside(logs, logs + "\\None\\in.txt"));
    EXPECT_FALSE(fs.FileExistsInside(logs, logs + "\\Sub"));
    EXPECT_EQ(errorOf([&] { fs.OpenInside(logs, logs + "\\Sub\\none.txt"); }), err::FileNotFound);
    EXPECT_EQ(fs.OpenInside(logs, logs + "\\Sub\\.\\x\\..\\in.txt")->ReadLine(), "inside");
    fs.RewriteInside(logs, logs + "\\Sub\\in.txt", "new");
    EXPECT_EQ(readBytes(logs + "\\Sub\\in.txt"), "new");
    fs.CopyOutOf(logs, logs + "\\Sub\\in.txt", dir / "copy.txt", false);
    EXPECT_EQ(readBytes(dir / "copy.txt"), "new");
    EXPECT_EQ(errorOf([&] { fs.CopyOutOf(logs, logs + "\\Sub\\in.txt", dir / "copy.txt", false); }), err::FileExists);
    fs.SetReadOnly(logs + "\\Sub\\in.txt", true);
    EXPECT_EQ(errorOf([&] { fs.RewriteInside(logs, logs + "\\Sub\\in.txt", "x"); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fs.DeleteInside(logs, logs + "\\Sub\\in.txt", false); }), err::PermissionDenied);
    fs.DeleteInside(logs, logs + "\\Sub\\in.txt", true);
    EXPECT_FALSE(fs.FileExists(logs + "\\Sub\\in.txt"));
    if (hardLink) ::DeleteFileA((logs + "\\hard.txt").c_str());
}

// What the handle of an opened file says decides: a reparse point (a junction
// or symbolic link opened as itself), a folder, a second name, a device, or a
// real path elsewhere is refused. Wine 8 makes no reparse points (its
// CreateSymbolicLinkA makes nothing and FSCTL_SET_REPARSE_POINT is not
// supported), so the attribute rule is shown here on the values themselves.
TEST(Win32Confinement, AttributesAndFinalPathOfTheHandleDecide) {
    const std::string folder = "\\\\?\\C:\\Agent\\AutomiseLogs";
    const std::string file = folder + "\\run.xml";
    const DWORD plain = FILE_ATTRIBUTE_ARCHIVE;
    EXPECT_TRUE(win32::usableBeneath(plain, 1, FILE_TYPE_DISK, folder, file));
    EXPECT_TRUE(win32::usableBeneath(plain | FILE_ATTRIBUTE_READONLY, 1, FILE_TYPE_DISK, folder + "\\",
                                     "\\\\?\\c:\\agent\\automiselogs\\Sub\\RUN.XML"));
    EXPECT_FALSE(win32::usableBeneath(plain | FILE_ATTRIBUTE_REPARSE_POINT, 1, FILE_TYPE_DISK, folder, file));
    EXPECT_FALSE(win32::usableBeneath(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 1, FILE_TYPE_DISK,
                                      folder, file));
    EXPECT_FALSE(win32::usableBeneath(FILE_ATTRIBUTE_DIRECTORY, 1, FILE_TYPE_DISK, folder, file));
    EXPECT_FALSE(win32::usableBeneath(plain, 2, FILE_TYPE_DISK, folder, file));
    EXPECT_FALSE(win32::usableBeneath(plain, 1, FILE_TYPE_CHAR, folder, file));
    EXPECT_FALSE(win32::usableBeneath(plain, 1, FILE_TYPE_DISK, folder, "\\\\?\\C:\\Windows\\win.ini"));
    EXPECT_FALSE(win32::usableBeneath(plain, 1, FILE_TYPE_DISK, folder, folder + "2\\run.xml"));
    EXPECT_FALSE(win32::usableBeneath(plain, 1, FILE_TYPE_DISK, folder, folder));
    EXPECT_FALSE(win32::usableBeneath(plain, 1, FILE_TYPE_DISK, folder, ""));
    EXPECT_FALSE(win32::usableBeneath(plain, 1, FILE_TYPE_DISK, "", file));
}

// Where the system makes a junction (Windows itself), one below the folder
// that leads outside is refused and left in place. Skipped where it cannot
// make one, as under Wine 8.
TEST_F(Win32FileSystemTest, JunctionMadeByTheSystemIsRefused) {
    const std::string logs = dir / "Logs";
    const std::string outside = dir / "Outside";
    ::CreateDirectoryA(logs.c_str(), nullptr);
    ::CreateDirectoryA(outside.c_str(), nullptr);
    writeBytes(outside + "\\victim.xml", "victim");
    const std::string junction = logs + "\\d";
    ::CreateDirectoryA(junction.c_str(), nullptr);

    // A mount-point reparse buffer naming the outside folder.
    const std::wstring target = L"\\??\\" + std::wstring(outside.begin(), outside.end());
    std::vector<char> buffer(16 + (target.size() + 2) * sizeof(wchar_t) + 16, 0);
    auto put16 = [&](std::size_t at, std::size_t value) {
        buffer[at] = static_cast<char>(value & 0xff);
        buffer[at + 1] = static_cast<char>(value >> 8);
    };
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof tag);
    put16(4, 8 + nameBytes + 2 + 2);  // data length: offsets, name, its NUL, empty print name and its NUL
    put16(8, 0);                      // substitute name offset
    put16(10, nameBytes);             // substitute name length
    put16(12, nameBytes + 2);         // print name offset
    put16(14, 0);                     // print name length
    std::memcpy(buffer.data() + 16, target.c_str(), nameBytes);
    const DWORD size = static_cast<DWORD>(8 + 8 + nameBytes + 2 + 2);

    const HANDLE h = ::CreateFileA(junction.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    const BOOL made =
        ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), size, nullptr, 0, &returned, nullptr);
    const DWORD code = ::GetLastError();
    ::CloseHandle(h);
    if (!made || (::GetFileAttributesA(junction.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "this system makes no junction (FSCTL_SET_REPARSE_POINT: error " << code << ")";
    }
    EXPECT_EQ(errorOf([&] { fs.OpenInside(logs, junction + "\\victim.xml"); }), err::PathAccess);
    EXPECT_EQ(errorOf([&] { fs.DeleteInside(logs, junction + "\\victim.xml", true); }), err::PathAccess);
    EXPECT_EQ(errorOf([&] { fs.FileExistsInside(logs, junction + "\\victim.xml"); }), err::PathAccess);
    EXPECT_EQ(readBytes(outside + "\\victim.xml"), "victim");
    ::RemoveDirectoryA(junction.c_str());
}
