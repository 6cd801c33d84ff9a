// The Win32 backend tests, and the helper processes they start: the same
// program started with "--helper <mode> [argument]" plays a child process
// (sleep, exit with a code, start a grandchild, count its environment, write
// its arguments, write a shared log) instead of running the tests.
#include <gtest/gtest.h>

#include "platform/win32/windows.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/win32/filesystem.h"
#include "tests/support/win32/standard_handles.h"
#include "win32_test_support.h"

// The helpers that hold files as a scanner does (retry_test.cpp).
int holdFileHelper(int argc, char** argv);
int scanFolderHelper(int argc, char** argv);

namespace {

int helper(const std::string& mode, const std::string& argument, int argc, char** argv) {
    if (mode == "sleep") {
        ::Sleep(60000);
        return 0;
    }
    if (mode == "exit") return std::atoi(argument.c_str());
    if (mode == "grandchild") {
        // Starts a sleeping grandchild, writes its process id to `argument`, sleeps.
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        std::string line = helperCommandLine("sleep");
        if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &info)) {
            return 90;
        }
        writeBytes(argument, std::to_string(info.dwProcessId));
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        ::Sleep(60000);
        return 0;
    }
    if (mode == "args") {
        // Writes the arguments after its own to `argument`, one a line, as
        // the C runtime split them.
        std::string text;
        for (int i = 4; i < argc; ++i) text += std::string(argv[i]) + "\n";
        writeBytes(argument, text);
        return 0;
    }
    if (mode == "sharedlog") {
        // A run writing the log `argument`: one line, then the log stays open.
        Win32FileSystem fs;
        auto log = fs.OpenSharedLog(argument, std::numeric_limits<std::uint64_t>::max());
        log->WriteLine("OTHER RUN");
        ::Sleep(60000);
        return 0;
    }
    if (mode == "sharedlogmany") {
        // A run writing its own numbered lines into the log `argument`, once
        // `argument`.go exists, so that the runs of a test write at once.
        Win32FileSystem fs;
        auto log = fs.OpenSharedLog(argument, std::numeric_limits<std::uint64_t>::max());
        const std::string me = std::to_string(::GetCurrentProcessId());
        const std::string go = argument + ".go";
        for (int i = 0; i < 30000 && ::GetFileAttributesA(go.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(1);
        for (int i = 0; i < 5000; ++i) log->WriteLine(me + " line " + std::to_string(i));
        return 0;
    }
    if (mode == "envcount") {
        // The number of variables of the environment the helper was given.
        int count = 0;
        char* block = ::GetEnvironmentStringsA();
        for (const char* p = block; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
            if (*p != '=') ++count;  // "=C:=C:\..." entries are the shell's, not variables
        }
        ::FreeEnvironmentStringsA(block);
        return count;
    }
    if (mode == "hold") return holdFileHelper(argc, argv);
    if (mode == "scan") return scanFolderHelper(argc, argv);
    return 99;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--helper") == 0) {
        ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        return helper(argv[2], argc >= 4 ? argv[3] : "", argc, argv);
    }
    keepStandardHandlesFromChildren();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
