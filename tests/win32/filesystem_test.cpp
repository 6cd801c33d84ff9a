// The Win32 file system's own side: the run log shared with another process,
// the version resource, device names, second names, junctions and what a
// handle says of the file. What every backend promises is in
// tests/contract/filesystem_contract.cpp.
#include <gtest/gtest.h>

#include "platform/win32/windows.h"
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "raised.h"
#include "platform/win32/filesystem.h"
#include "win32_test_support.h"

namespace {

class Win32FileSystemTest : public ::testing::Test {
protected:
    TempFolder dir;
    Win32FileSystem fs;
};

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

// Runs appending to the log at the same moment: not one line is lost or
// torn, also where the file system's append is a seek and a write.
TEST_F(Win32FileSystemTest, RunsWritingTheLogAtOnceLoseNoLine) {
    const std::string log = dir / "run.txt";
    std::vector<PROCESS_INFORMATION> runs(4);
    for (auto& run : runs) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string line = helperCommandLine("sharedlogmany", log);
        ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                     nullptr, &startup, &run));
    }
    ::Sleep(500);  // each has opened the log
    writeBytes(log + ".go", "");
    for (auto& run : runs) {
        EXPECT_EQ(::WaitForSingleObject(run.hProcess, 120000), WAIT_OBJECT_0);
        DWORD code = 1;
        ::GetExitCodeProcess(run.hProcess, &code);
        EXPECT_EQ(code, 0u);
        ::CloseHandle(run.hThread);
        ::CloseHandle(run.hProcess);
    }
    const std::string text = readBytes(log);
    std::size_t lines = 0, whole = 0;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        ++lines;
        const std::string line = text.substr(at, end - at);
        const std::size_t blank = line.find(" line ");
        if (blank != std::string::npos && blank > 0 && line.find_first_not_of("0123456789") == blank) ++whole;
    }
    EXPECT_EQ(lines, 20000u);
    EXPECT_EQ(whole, 20000u);
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

// The confined operations refuse a device name and a file with a second name
// as they refuse a path that climbs out; nothing outside changes.
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
        EXPECT_EQ(errorOf([&] { fs.DeleteInside(logs, path, true); }), err::PathAccess) << path;
    }
    EXPECT_EQ(readBytes(dir / "victim.txt"), "victim");

    // What is really inside is still reached.
    EXPECT_TRUE(fs.FileExistsInside(logs, logs + "\\Sub\\in.txt"));
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
