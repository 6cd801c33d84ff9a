// The Win32 host: the command line after the program name, the executable's
// own name and folder, system messages.
#include <gtest/gtest.h>

#include "platform/win32/host.h"
#include "win32_test_support.h"

namespace {

TEST(Win32Host, TheRawCommandLineComesFromTheSystem) {
    Win32Host host;
    // This test program was started with gtest's own arguments, if any; the
    // program name itself never shows.
    EXPECT_EQ(host.CommandLine().find("test_win32"), std::string::npos);
    Win32Host given("\"C:\\A b\\vorbex.exe\" 1,2,3");
    EXPECT_EQ(given.CommandLine(), "1,2,3");
}

TEST(Win32Host, ExecutableNameAndFolder) {
    Win32Host host;
    const std::string self = testProgramPath();
    EXPECT_EQ(host.ExeFolder() + "\\" + host.ExeBaseName() + ".exe", self);
    EXPECT_EQ(host.ExeBaseName(), "test_win32");
    EXPECT_NE(host.ExeFolder().back(), '\\');
}

TEST(Win32Host, SystemMessagesEndWithALineBreak) {
    Win32Host host;
    const std::string text = host.SystemMessage(2);  // ERROR_FILE_NOT_FOUND
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_LT(text.size(), 200u);
    // A code the system has no text for.
    EXPECT_EQ(host.SystemMessage(0x0FFFFFFF), "");
    // A text with an insert keeps it, and with it the reason of a failed start.
    const std::string badImage = host.SystemMessage(193);  // ERROR_BAD_EXE_FORMAT
    EXPECT_NE(badImage.find("%1"), std::string::npos) << badImage;
    ASSERT_GE(badImage.size(), 3u);
    EXPECT_EQ(badImage.substr(badImage.size() - 2), "\r\n");
}

}  // namespace
