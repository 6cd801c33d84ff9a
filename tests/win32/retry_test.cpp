// Passing refusals: a file that another process holds open without
// FILE_SHARE_DELETE, as a virus scanner does for a moment, is claimed,
// replaced or deleted once it is let go; one held for longer than the bound
// fails as it always did, leaving everything as it was. Also the helpers
// that play such a process: "hold" (one file) and "scan" (every new file of
// a folder, for tests/win32/e2e_wine.sh).
#include <gtest/gtest.h>

#include "platform/win32/windows.h"
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/win32/filesystem.h"
#include "platform/win32/retry.h"
#include "raised.h"
#include "win32_test_support.h"

namespace {

// How a scanner opens a file it has just seen: reading, sharing reading and
// writing but not deletion.
HANDLE openAsScanner(const std::string& path) {
    return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A helper process that holds one file as a scanner would.
class Holder {
public:
    Holder(const std::string& path, unsigned long ms) {
        static int counter = 0;
        const std::string event =
            "vx-hold-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
        ready_ = ::CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        std::string line = helperCommandLine("hold", path) + " " + std::to_string(ms) + " " + event;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &process_)) {
            return;
        }
        ::CloseHandle(process_.hThread);
        const HANDLE both[] = {ready_, process_.hProcess};
        holding_ = ::WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
    }
    ~Holder() {
        if (process_.hProcess != nullptr) {
            ::TerminateProcess(process_.hProcess, 0);
            ::WaitForSingleObject(process_.hProcess, 10000);
            ::CloseHandle(process_.hProcess);
        }
        if (ready_ != nullptr) ::CloseHandle(ready_);
    }
    bool holding() const { return holding_; }

private:
    HANDLE ready_ = nullptr;
    PROCESS_INFORMATION process_{};
    bool holding_ = false;
};

unsigned long long now() { return ::GetTickCount64(); }

class Win32Retry : public ::testing::Test {
protected:
    TempFolder dir;
    Win32FileSystem fs;

    // The three operations a scanner's handle gets in the way of, each on a
    // fresh pair of files, with the file that is held. `done` says what the
    // folder holds when the operation happened; `untouched` when it did not.
    struct Case {
        const char* name;
        std::string held;
        std::function<void()> run;
        std::map<std::string, std::string> done, untouched;
    };
    std::vector<Case> cases(const std::string& tag) {
        const auto at = [this, tag](const std::string& name) { return dir / (tag + name); };
        writeBytes(at("claim.tmp"), "record");
        writeBytes(at("old.xml"), "old");
        writeBytes(at("new.tmp"), "new");
        writeBytes(at("gone.txt"), "log");
        writeBytes(at("other.txt"), "other");
        return {
            {"claim", at("claim.tmp"), [=, this] { fs.MoveFile(at("claim.tmp"), at("claim.xml"), false); },
             {{"claim.tmp", ""}, {"claim.xml", "record"}}, {{"claim.tmp", "record"}, {"claim.xml", ""}}},
            {"replace", at("old.xml"), [=, this] { fs.MoveFile(at("new.tmp"), at("old.xml"), true); },
             {{"new.tmp", ""}, {"old.xml", "new"}}, {{"new.tmp", "new"}, {"old.xml", "old"}}},
            {"delete", at("gone.txt"), [=, this] { fs.DeleteFile(at("gone.txt"), false); },
             {{"gone.txt", ""}}, {{"gone.txt", "log"}}},
        };
    }
    // Every file named holds its content ("" for a file that is not there),
    // and the bystander that no operation names is as it was.
    void expectFiles(const std::string& tag, const std::map<std::string, std::string>& files, const char* name) {
        for (const auto& [file, content] : files) {
            const bool there = ::GetFileAttributesA((dir / (tag + file)).c_str()) != INVALID_FILE_ATTRIBUTES;
            EXPECT_EQ(there, !content.empty()) << name << ": " << file;
            if (there) {
                EXPECT_EQ(readBytes(dir / (tag + file)), content) << name << ": " << file;
            }
        }
        EXPECT_EQ(readBytes(dir / (tag + "other.txt")), "other") << name;
    }
};

TEST_F(Win32Retry, AFileHeldForAMomentIsClaimedReplacedOrDeletedOnceLetGo) {
    for (Case& c : cases("short-")) {
        Holder holder(c.held, 300);
        ASSERT_TRUE(holder.holding()) << c.name;
        const auto start = now();
        const RunError raised = raisedBy(c.run);
        const auto took = now() - start;
        EXPECT_EQ(raised.number, 0) << c.name << ": " << raised.description;
        // It met the handle (the holder had taken it before the call) and
        // waited for it to go, not the whole bound.
        EXPECT_GE(took, 150u) << c.name;
        EXPECT_LT(took, 1500u) << c.name;
        expectFiles("short-", c.done, c.name);
    }
}

TEST_F(Win32Retry, AFileHeldPastTheBoundFailsAsBeforeAndNothingIsTouched) {
    for (Case& c : cases("long-")) {
        Holder holder(c.held, 5000);
        ASSERT_TRUE(holder.holding()) << c.name;
        const auto start = now();
        const RunError raised = raisedBy(c.run);
        const auto took = now() - start;
        EXPECT_EQ(raised.number, err::PermissionDenied) << c.name;
        EXPECT_EQ(raised.description, "Permission denied") << c.name;
        EXPECT_GE(took, win32::kRetryBoundMs - 100) << c.name;
        EXPECT_LT(took, win32::kRetryBoundMs + 1000) << c.name;
        expectFiles("long-", c.untouched, c.name);
    }
}

// A user's opportunistic lock on a file the program reads inside a confined
// folder: the open must not wait for the user to acknowledge the break.
TEST_F(Win32Retry, AnOpportunisticLockOnAConfinedFileIsNotWaitedFor) {
    writeBytes(dir / "export.xml", "<x/>");
    const HANDLE user = ::CreateFileA((dir / "export.xml").c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    OVERLAPPED pending{};
    pending.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    REQUEST_OPLOCK_INPUT_BUFFER in{REQUEST_OPLOCK_CURRENT_VERSION, sizeof in,
                                   OPLOCK_LEVEL_CACHE_READ | OPLOCK_LEVEL_CACHE_HANDLE | OPLOCK_LEVEL_CACHE_WRITE,
                                   REQUEST_OPLOCK_INPUT_FLAG_REQUEST};
    REQUEST_OPLOCK_OUTPUT_BUFFER out{};
    out.StructureVersion = REQUEST_OPLOCK_CURRENT_VERSION;
    out.StructureLength = sizeof out;
    DWORD n = 0;
    const BOOL granted = ::DeviceIoControl(user, FSCTL_REQUEST_OPLOCK, &in, sizeof in, &out, sizeof out, &n, &pending);
    const DWORD code = ::GetLastError();
    if (!granted && code != ERROR_IO_PENDING) {
        ::CloseHandle(pending.hEvent);
        ::CloseHandle(user);
        GTEST_SKIP() << "this system grants no opportunistic lock (FSCTL_REQUEST_OPLOCK: error " << code << ")";
    }
    // The lock is held and its break is never acknowledged: an open that
    // waited would wait until the handle closes below.
    const auto start = now();
    const RunError raised = raisedBy([&] { fs.OpenInside(dir.path(), dir / "export.xml"); });
    const auto took = now() - start;
    ::CloseHandle(user);
    ::CloseHandle(pending.hEvent);
    EXPECT_EQ(raised.number, 57) << raised.description;
    EXPECT_LT(took, 1000u);
}

}  // namespace

// --helper hold <file> <ms> <event>: opens the file as a scanner does, sets
// the named event, holds the file for <ms>, lets it go.
int holdFileHelper(int argc, char** argv) {
    if (argc < 6) return 98;
    const HANDLE file = openAsScanner(argv[3]);
    if (file == INVALID_HANDLE_VALUE) return 97;
    const HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[5]);
    if (ready != nullptr) ::SetEvent(ready);
    ::Sleep(static_cast<DWORD>(std::atol(argv[4])));
    ::CloseHandle(file);
    return 0;
}

// --helper scan <folder> <ms> <stop file> <held list>: a stand-in scanner.
// Opens every file that appears in the folder as soon as it sees it, holds
// it for <ms>, and writes the name of each file it held to the list, until
// the stop file exists.
int scanFolderHelper(int argc, char** argv) {
    if (argc < 7) return 98;
    const std::string folder = argv[3];
    const DWORD holdMs = static_cast<DWORD>(std::atol(argv[4]));
    const std::string stop = argv[5];
    FILE* list = std::fopen(argv[6], "wb");
    if (list == nullptr) return 97;
    std::set<std::string> seen;
    std::map<HANDLE, unsigned long long> held;
    // Looks every 2 ms: a file that comes and goes faster escapes it, as it
    // would escape a real scanner.
    while (::GetFileAttributesA(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::Sleep(2);
        WIN32_FIND_DATAA found{};
        const HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || seen.count(name) != 0) continue;
                const HANDLE file = openAsScanner(folder + "\\" + name);
                // Not openable yet (its writer shares nothing): tried again next round.
                if (file == INVALID_HANDLE_VALUE) continue;
                seen.insert(name);
                held[file] = now();
                std::fprintf(list, "%s\n", name.c_str());
                std::fflush(list);
            } while (::FindNextFileA(find, &found));
            ::FindClose(find);
        }
        for (auto it = held.begin(); it != held.end();) {
            if (now() - it->second < holdMs) {
                ++it;
                continue;
            }
            ::CloseHandle(it->first);
            it = held.erase(it);
        }
    }
    for (const auto& entry : held) ::CloseHandle(entry.first);
    std::fclose(list);
    return 0;
}
