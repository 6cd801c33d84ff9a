// The Win32 shell paths: Program Files and short names, as the configuration
// readers rely on them; and where a build of either bitness looks for the
// agent's keys and folders. The registry and profile files are in the
// contract suites (tests/contract).
#include <gtest/gtest.h>

#include "platform/win32/paths.h"
#include "platform/win32/registry.h"
#include "platform/win32/windows.h"
#include "win32_test_support.h"

namespace {

TEST(Win32Paths, ProgramFilesAndShortNames) {
    Win32Paths paths;
    const std::string programFiles = paths.ProgramFilesFolder();
    ASSERT_FALSE(programFiles.empty());
    EXPECT_NE(programFiles.back(), '\\');
    EXPECT_NE(::GetFileAttributesA(programFiles.c_str()), INVALID_FILE_ATTRIBUTES);

    const std::string shortForm = paths.ShortPath(programFiles);
    ASSERT_FALSE(shortForm.empty());
    EXPECT_EQ(shortForm.find(' '), std::string::npos) << shortForm;
    EXPECT_NE(::GetFileAttributesA(shortForm.c_str()), INVALID_FILE_ATTRIBUTES);

    TempFolder dir;
    EXPECT_EQ(paths.ShortPath(dir / "missing"), "");
}

TEST(Win32Paths, ShortFormsLongerThanTheProgramsBufferComeBackWhole) {
    TempFolder dir;
    std::string deep = dir.path();
    // Eight-letter names have no shorter form: the short path is as long as the path.
    while (deep.size() < 240) {
        deep += "\\abcdefgh";
        ASSERT_TRUE(::CreateDirectoryA(deep.c_str(), nullptr));
    }
    Win32Paths paths;
    const std::string shortForm = paths.ShortPath(deep);
    EXPECT_GE(shortForm.size(), 164u);
    EXPECT_NE(::GetFileAttributesA(shortForm.c_str()), INVALID_FILE_ATTRIBUTES) << shortForm;
}

// The agent is a 32-bit program: on 64-bit Windows its keys are in the
// registry's 32-bit view and its runner in "Program Files (x86)". A build of
// either bitness must look there, as the 32-bit program does.
TEST(Win32Paths, KeysAndProgramFilesAreThoseA32BitProgramSees) {
    EXPECT_EQ(reg::HKEY_LOCAL_MACHINE, reinterpret_cast<RegHandle>(HKEY_LOCAL_MACHINE));

    // Where the two views are one (32-bit Windows) the second write wins.
    const char* subkey = "SOFTWARE\\VorbexViewTest";
    for (const auto& [view, text] : {std::pair{KEY_WOW64_64KEY, "64"}, std::pair{KEY_WOW64_32KEY, "32"}}) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key, "View", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3);
        ::RegCloseKey(key);
    }
    Win32Registry registry;
    RegHandle key = 0;
    char data[8] = {};
    std::uint32_t size = sizeof data;
    ASSERT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, subkey, reg::KEY_READ, key), reg::ERROR_SUCCESS);
    EXPECT_EQ(registry.QueryValue(key, "View", nullptr, data, &size), reg::ERROR_SUCCESS);
    registry.CloseKey(key);
    EXPECT_STREQ(data, "32");
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subkey, view, 0);

    // The system names the 32-bit programs' folder for every process:
    // ProgramFiles(x86) on 64-bit Windows, ProgramFiles on 32-bit Windows.
    char expected[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("ProgramFiles(x86)", expected, MAX_PATH) == 0) {
        ASSERT_NE(::GetEnvironmentVariableA("ProgramFiles", expected, MAX_PATH), 0u);
    }
    EXPECT_EQ(Win32Paths().ProgramFilesFolder(), expected);
}

}  // namespace
