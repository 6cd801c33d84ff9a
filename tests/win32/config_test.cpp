// The Win32 registry, profile files and shell paths: the calls' own
// semantics, as the configuration readers rely on them.
#include <gtest/gtest.h>

#include "platform/win32/paths.h"
#include "platform/win32/profile.h"
#include "platform/win32/registry.h"
#include "platform/win32/windows.h"
#include "win32_test_support.h"

namespace {

// A key of the current user's hive, with a string and a number, removed afterwards.
class Win32RegistryTest : public ::testing::Test {
protected:
    static constexpr const char* kKey = "Software\\VorbexWin32Test";

    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const char text[] = "C:\\Agent";
        ::RegSetValueExA(key, "InstallationPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
        const DWORD number = 42;
        ::RegSetValueExA(key, "MEMBERID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        ::RegCloseKey(key);
    }
    void TearDown() override { ::RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }

    static RegHandle currentUser() { return reinterpret_cast<RegHandle>(HKEY_CURRENT_USER); }

    Win32Registry registry;
};

TEST_F(Win32RegistryTest, AStringIsReadInTwoSteps) {
    RegHandle key = 0;
    ASSERT_EQ(registry.OpenKey(currentUser(), kKey, KEY_QUERY_VALUE, key), ERROR_SUCCESS);
    std::uint32_t type = 0, size = 0;
    // Without a buffer: success and the size, NUL included.
    ASSERT_EQ(registry.QueryValue(key, "installationpath", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 9u);
    std::string buffer(size, '\0');
    ASSERT_EQ(registry.QueryValue(key, "InstallationPath", &type, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(buffer, std::string("C:\\Agent\0", 9));
    EXPECT_EQ(registry.CloseKey(key), ERROR_SUCCESS);
}

TEST_F(Win32RegistryTest, TooSmallABufferAsksForMore) {
    RegHandle key = 0;
    ASSERT_EQ(registry.OpenKey(currentUser(), kKey, KEY_READ, key), ERROR_SUCCESS);
    std::uint32_t type = 0, size = 3;
    char small[3] = {};
    EXPECT_EQ(registry.QueryValue(key, "InstallationPath", &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 9u);
    registry.CloseKey(key);
}

TEST_F(Win32RegistryTest, NumbersKeepTheirTypeAndMissingThingsAreFileNotFound) {
    RegHandle key = 0;
    ASSERT_EQ(registry.OpenKey(currentUser(), kKey, KEY_READ, key), ERROR_SUCCESS);
    std::uint32_t type = 0, size = 4;
    char data[4] = {};
    ASSERT_EQ(registry.QueryValue(key, "MEMBERID", &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(static_cast<unsigned char>(data[0]), 42);
    EXPECT_EQ(registry.QueryValue(key, "Missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    registry.CloseKey(key);

    RegHandle missing = 0;
    EXPECT_EQ(registry.OpenKey(currentUser(), "Software\\VorbexNoSuchKey", KEY_READ, missing),
              ERROR_FILE_NOT_FOUND);
}

class Win32ProfileTest : public ::testing::Test {
protected:
    TempFolder dir;
    Win32ProfileFiles profile;
};

TEST_F(Win32ProfileTest, ReadsIgnoreCaseAndFallBackToTheDefault) {
    const std::string file = dir / "a.ini";
    writeBytes(file, "[BlockSize]\r\nSize=128\r\n[Other]\r\nText=  padded  \r\nNum=-17abc\r\n");
    EXPECT_EQ(profile.GetString("blocksize", "SIZE", "", 255, file), "128");
    EXPECT_EQ(profile.GetString("Other", "Text", "", 255, file), "padded");
    EXPECT_EQ(profile.GetString("Other", "Missing", "dflt", 255, file), "dflt");
    EXPECT_EQ(profile.GetString("Other", "Text", "", 4, file), "pad");
    EXPECT_EQ(profile.GetString("Other", "Text", "", 0, file), "");
    EXPECT_EQ(profile.GetString("x", "y", "", 255, dir / "missing.ini"), "");
    EXPECT_EQ(profile.GetInt("Other", "Num", 5, file), -17);
    EXPECT_EQ(profile.GetInt("Other", "Missing", 5, file), 5);
}

TEST_F(Win32ProfileTest, WritesCreateTheFileAndKeepOtherLines) {
    const std::string file = dir / "t.ini";
    ASSERT_TRUE(profile.WriteString("Counters", "fail A", "1", file));
    // A key that would read back as another one is skipped; the rest are written.
    ASSERT_EQ(profile.WriteStrings({{"Counters", "FAIL A", "2"}, {"Counters", "x=y", "5"}, {"Counters", "fail B", "1"},
                                    {"New", "k", "v"}},
                                   file),
              (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(profile.GetString("Counters", "x", "", 255, file), "");
    EXPECT_EQ(profile.GetString("Counters", "fail a", "", 255, file), "2");
    EXPECT_EQ(profile.GetString("Counters", "fail B", "", 255, file), "1");
    EXPECT_EQ(profile.GetString("New", "k", "", 255, file), "v");
    // One line per key: the rewritten key was not added twice.
    const std::string bytes = readBytes(file);
    EXPECT_EQ(bytes.find("=2"), bytes.rfind("=2"));
    EXPECT_EQ(bytes.find("fail A=1"), std::string::npos);

    EXPECT_FALSE(profile.WriteString("s", "k", "v", dir / "no\\such\\folder.ini"));
}

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
