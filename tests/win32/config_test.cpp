// The Win32 shell paths: Program Files and short names, as the configuration
// readers rely on them. The registry and profile files are in the contract
// suites (tests/contract).
#include <gtest/gtest.h>

#include "platform/win32/paths.h"
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

}  // namespace
