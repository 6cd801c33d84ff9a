// Profile files: Windows reading rules, writes that keep every other byte,
// and replacement of the whole file so no reader sees half of a write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    Sandbox box;
    PosixProfileFiles ini;
    const std::string file = "C:\\Agent\\Configuration\\ATZThreshold.ini";

    std::string get(const std::string& section, const std::string& key, std::uint32_t chars = 555) {
        return ini.GetString(section, key, "dflt", chars, file);
    }
};

const char kThresholds[] =
    "; thresholds kept by the agent\r\n"
    "[General]\r\n"
    "  Limit =  12  \r\n"
    "Name=\"quoted value\"\r\n"
    "Half=\"open\r\n"
    "Single='x'\r\n"
    "Eq=a=b\r\n"
    "\r\n"
    "[Other]\n"
    "Limit=99\n"
    "[general]\r\n"
    "Late=ignored\r\n";

}  // namespace

TEST_F(ProfileTest, ReadsWithWindowsRules) {
    box.writeFile(file, kThresholds);
    EXPECT_EQ(get("general", "LIMIT"), "12");
    EXPECT_EQ(get("General", "Name"), "quoted value");
    EXPECT_EQ(get("General", "Half"), "\"open");
    EXPECT_EQ(get("General", "Single"), "x");
    EXPECT_EQ(get("General", "Eq"), "a=b");
    EXPECT_EQ(get("OTHER", "limit"), "99");
    // Only the first section of a name is read.
    EXPECT_EQ(get("General", "Late"), "dflt");
    EXPECT_EQ(get("General", "Missing"), "dflt");
    EXPECT_EQ(get("Missing", "Limit"), "dflt");
    EXPECT_EQ(ini.GetString("General", "Limit", "", 555, "C:\\Agent\\none.ini"), "");
    // A comment is no key.
    EXPECT_EQ(get("General", "; thresholds kept by the agent"), "dflt");
}

TEST_F(ProfileTest, GetStringTruncatesToTheBuffer) {
    box.writeFile(file, "[S]\r\nK=abcdef\r\n");
    EXPECT_EQ(get("S", "K", 4), "abc");
    EXPECT_EQ(get("S", "K", 7), "abcdef");
    EXPECT_EQ(get("S", "K", 1), "");
    EXPECT_EQ(get("S", "none", 3), "df");
}

// A section opened for many look-ups answers each as GetString does, from
// the file as it was when opened: it is read once, not once per key.
TEST_F(ProfileTest, AnOpenedSectionAnswersAsGetStringFromOneRead) {
    box.writeFile(file, kThresholds);
    const auto general = ini.OpenSection("GENERAL", file);
    const auto missingSection = ini.OpenSection("Missing", file);
    const auto missingFile = ini.OpenSection("General", "C:\\Agent\\none.ini");
    const std::vector<std::string> keys = {"limit", "Name", "Half", "Single", "Eq", "Late", "Missing",
                                           "; thresholds kept by the agent", "Limit "};
    for (const std::uint32_t chars : {555u, 4u, 1u}) {
        for (const auto& key : keys) {
            EXPECT_EQ(general->GetString(key, "dflt", chars), get("General", key, chars)) << key << " " << chars;
            EXPECT_EQ(missingSection->GetString(key, "dflt", chars), get("Missing", key, chars));
            EXPECT_EQ(missingFile->GetString(key, "dflt", chars), std::string("dflt").substr(0, chars - 1));
        }
    }
    box.writeFile(file, "[General]\r\nLimit=13\r\n");
    EXPECT_EQ(get("General", "Limit"), "13");
    EXPECT_EQ(general->GetString("Limit", "", 555), "12");
}

TEST_F(ProfileTest, GetIntTakesTheLeadingNumber) {
    box.writeFile(file, "[S]\r\nA=42abc\r\nB= -7 \r\nC=abc\r\nD=+5\r\nE=\r\nF=4294967297\r\n");
    EXPECT_EQ(ini.GetInt("s", "a", 1, file), 42);
    EXPECT_EQ(ini.GetInt("S", "B", 1, file), -7);
    EXPECT_EQ(ini.GetInt("S", "C", 1, file), 0);
    EXPECT_EQ(ini.GetInt("S", "D", 1, file), 5);
    EXPECT_EQ(ini.GetInt("S", "E", 9, file), 9);
    EXPECT_EQ(ini.GetInt("S", "F", 9, file), 1);
    EXPECT_EQ(ini.GetInt("S", "none", -3, file), -3);
    EXPECT_EQ(ini.GetInt("S", "A", 8, "C:\\nofile.ini"), 8);
}

TEST_F(ProfileTest, ReplacingAKeyKeepsEveryOtherByte) {
    box.writeFile(file, kThresholds);
    ASSERT_TRUE(ini.WriteString("GENERAL", "limit", "13", file));
    std::string expected = kThresholds;
    expected.replace(expected.find("  Limit =  12  "), 15, "limit=13");
    EXPECT_EQ(box.readFile(file), expected);

    // An LF-only line and a last line without a line end keep theirs.
    box.writeFile(file, "[Other]\nLimit=99\n[S]\nK=1");
    ASSERT_TRUE(ini.WriteString("other", "LIMIT", "100", file));
    EXPECT_EQ(box.readFile(file), "[Other]\nLIMIT=100\n[S]\nK=1");
    ASSERT_TRUE(ini.WriteString("S", "K", "2", file));
    EXPECT_EQ(box.readFile(file), "[Other]\nLIMIT=100\n[S]\nK=2");
}

TEST_F(ProfileTest, NewKeysAndSections) {
    box.writeFile(file, "[A]\r\nx=1\r\n\r\n; note\r\n\r\n[B]\r\ny=2");
    // After the section's last non-blank line, before the blank lines.
    ASSERT_TRUE(ini.WriteString("a", "New", "v", file));
    EXPECT_EQ(box.readFile(file), "[A]\r\nx=1\r\n\r\n; note\r\nNew=v\r\n\r\n[B]\r\ny=2");
    // At the end of a last section without a final line end.
    ASSERT_TRUE(ini.WriteString("B", "z", "3", file));
    EXPECT_EQ(box.readFile(file), "[A]\r\nx=1\r\n\r\n; note\r\nNew=v\r\n\r\n[B]\r\ny=2\r\nz=3\r\n");
    ASSERT_TRUE(ini.WriteString("FailureDesc_Main.atp", "Copy file", "1", file));
    EXPECT_EQ(box.readFile(file),
              "[A]\r\nx=1\r\n\r\n; note\r\nNew=v\r\n\r\n[B]\r\ny=2\r\nz=3\r\n[FailureDesc_Main.atp]\r\nCopy file=1\r\n");
    EXPECT_EQ(get("failuredesc_main.ATP", "COPY FILE"), "1");
}

TEST_F(ProfileTest, CreatesTheFileOnlyWhereItsFolderExists) {
    EXPECT_FALSE(ini.WriteString("S", "K", "V", file));
    EXPECT_FALSE(box.exists(file));
    box.makeFolder("C:\\Agent\\Configuration");
    ASSERT_TRUE(ini.WriteString("S", "K", "V", file));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=V\r\n");
    // The folder is found without regard to case; the new file is named as given.
    ASSERT_TRUE(ini.WriteString("S", "K", "V", "C:\\agent\\CONFIGURATION\\New.ini"));
    EXPECT_TRUE(fs::exists(box.root() + "/drive_c/Agent/Configuration/New.ini"));
}

TEST_F(ProfileTest, ReadOnlyFileIsNotWritten) {
    box.writeFile(file, "[S]\r\nK=1\r\n");
    fs::permissions(box.hostPath(file), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(ini.WriteString("S", "K", "2", file));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=1\r\n");
}

TEST_F(ProfileTest, WriteStringsAppliesAllInOrder) {
    box.writeFile(file, "[S]\r\nK=1\r\n");
    const std::vector<ProfileEntry> entries{
        {"S", "K", "2"}, {"T", "A", "x"}, {"s", "New", "n"}, {"T", "A", "y"}};
    EXPECT_EQ(ini.WriteStrings(entries, file), std::vector<bool>(4, true));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=2\r\nNew=n\r\n[T]\r\nA=y\r\n");
    EXPECT_EQ(ini.WriteStrings(entries, "C:\\NoFolder\\x.ini"), std::vector<bool>(4, false));
}

TEST_F(ProfileTest, TextThatWouldAddLinesIsRefusedWhole) {
    box.writeFile(file, "[S]\r\nK=1\r\n");
    const std::string before = box.readFile(file);
    // Keys come from scripts' output; none of these may reach the file.
    EXPECT_FALSE(ini.WriteString("S", "Copy\r\n[Threshold]\r\nVTXVariablesTh", "-1", file));
    EXPECT_FALSE(ini.WriteString("S", "K", "1\n[Threshold]", file));
    EXPECT_FALSE(ini.WriteString("S", "a=b", "1", file));
    EXPECT_FALSE(ini.WriteString("S", "[T]", "1", file));
    EXPECT_FALSE(ini.WriteString("S", ";note", "1", file));
    EXPECT_EQ(box.readFile(file), before);
    EXPECT_TRUE(ini.WriteString("S", "Bob's task (copy)", "1", file));
    EXPECT_EQ(get("S", "bob's TASK (copy)"), "1");
    // In a batch such an entry costs only itself.
    EXPECT_EQ(ini.WriteStrings({{"S", "K", "2"}, {"S", "bad\nkey", "1"}, {"S", " =x", "1"}, {"S", "L", "3"}}, file),
              (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=2\r\nBob's task (copy)=1\r\nL=3\r\n");
}

TEST_F(ProfileTest, TheFileIsReplacedNotRewrittenInPlace) {
    box.writeFile(file, "[S]\r\nK=old\r\n");
    fs::permissions(box.hostPath(file), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A reader that opened the file before the write keeps the old whole file.
    std::ifstream reader(box.hostPath(file), std::ios::binary);
    ASSERT_TRUE(ini.WriteString("S", "K", "new", file));
    std::ostringstream seen;
    seen << reader.rdbuf();
    EXPECT_EQ(seen.str(), "[S]\r\nK=old\r\n");
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=new\r\n");
    // The replacement keeps the file's permissions and leaves nothing behind.
    EXPECT_EQ(fs::status(box.hostPath(file)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(box.hostPath("C:\\Agent\\Configuration")),
                            fs::directory_iterator()),
              1);
}

TEST_F(ProfileTest, AWriteCutShortLeavesTheOldFile) {
    const std::string old = "[S]\r\nK=old\r\n";
    box.writeFile(file, old);
    // Limit the size of any file this process writes, so the temporary copy
    // cannot be completed: the write stops before the rename, as a crash would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ini.WriteString("S", "K", std::string(500, 'v'), file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);

    EXPECT_FALSE(written);
    EXPECT_EQ(box.readFile(file), old);
    EXPECT_EQ(ini.GetString("S", "K", "", 555, file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(box.hostPath("C:\\Agent\\Configuration")),
                            fs::directory_iterator()),
              1);
}
