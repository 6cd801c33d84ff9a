// Profile files: the reading rules of the system's INI calls, writes that
// keep every other line, text that would add lines refused, and files made
// only where their folder exists.
#include "contract.h"

namespace {

class ProfileContract : public Contract {
protected:
    ProfileFiles& ini = *sys.profile;
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
    "Num=-17abc\n"
    "[general]\r\n"
    "Late=ignored\r\n";

TEST_F(ProfileContract, ReadsWithTheSystemsRules) {
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

    // The value is cut to the buffer, its terminating NUL counted.
    EXPECT_EQ(get("Other", "Num", 7), "-17abc");
    EXPECT_EQ(get("Other", "Num", 4), "-17");
    EXPECT_EQ(get("Other", "Num", 1), "");
    EXPECT_EQ(get("Other", "Num", 0), "");
    EXPECT_EQ(get("General", "none", 3), "df");

    // A section opened for many look-ups answers each as GetString does.
    const auto general = ini.OpenSection("GENERAL", file);
    const auto missingSection = ini.OpenSection("Missing", file);
    const auto missingFile = ini.OpenSection("General", "C:\\Agent\\none.ini");
    for (const std::uint32_t chars : {555u, 4u, 1u}) {
        for (const std::string key : {"limit", "Name", "Half", "Late", "Missing", "Limit "}) {
            EXPECT_EQ(general->GetString(key, "dflt", chars), get("General", key, chars)) << key << " " << chars;
            EXPECT_EQ(missingSection->GetString(key, "dflt", chars), get("Missing", key, chars));
            EXPECT_EQ(missingFile->GetString(key, "dflt", chars), std::string("dflt").substr(0, chars - 1));
        }
    }
}

TEST_F(ProfileContract, GetIntTakesTheLeadingNumber) {
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

TEST_F(ProfileContract, WritingAKeyKeepsEveryOtherLine) {
    box.writeFile(file, kThresholds);
    ASSERT_TRUE(ini.WriteString("GENERAL", "limit", "13", file));
    ASSERT_TRUE(ini.WriteString("Other", "New", "n", file));
    EXPECT_EQ(get("General", "Limit"), "13");
    EXPECT_EQ(get("General", "Name"), "quoted value");
    EXPECT_EQ(get("General", "Half"), "\"open");
    EXPECT_EQ(get("General", "Eq"), "a=b");
    EXPECT_EQ(get("Other", "Limit"), "99");
    EXPECT_EQ(get("Other", "New"), "n");
    EXPECT_EQ(get("General", "Late"), "dflt");
    EXPECT_EQ(box.readFile(file).rfind("; thresholds kept by the agent\r\n", 0), 0u);
}

TEST_F(ProfileContract, WritingAKeyKeepsEveryOtherByte) {
    if (!onPosixBackend()) {
        GTEST_SKIP() << "Wine's WritePrivateProfileStringA writes the whole file back in its own layout "
                        "(blank lines dropped, LF made CR LF, a key keeps its old spelling)";
    }
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

    // A new key goes after its section's last non-blank line; a new section at the end.
    box.writeFile(file, "[A]\r\nx=1\r\n\r\n; note\r\n\r\n[B]\r\ny=2");
    ASSERT_TRUE(ini.WriteString("a", "New", "v", file));
    EXPECT_EQ(box.readFile(file), "[A]\r\nx=1\r\n\r\n; note\r\nNew=v\r\n\r\n[B]\r\ny=2");
    ASSERT_TRUE(ini.WriteString("B", "z", "3", file));
    EXPECT_EQ(box.readFile(file), "[A]\r\nx=1\r\n\r\n; note\r\nNew=v\r\n\r\n[B]\r\ny=2\r\nz=3\r\n");
    ASSERT_TRUE(ini.WriteString("FailureDesc_Main.atp", "Copy file", "1", file));
    EXPECT_EQ(box.readFile(file),
              "[A]\r\nx=1\r\n\r\n; note\r\nNew=v\r\n\r\n[B]\r\ny=2\r\nz=3\r\n[FailureDesc_Main.atp]\r\nCopy file=1\r\n");
    EXPECT_EQ(get("failuredesc_main.ATP", "COPY FILE"), "1");
}

TEST_F(ProfileContract, FilesAreMadeOnlyWhereTheirFolderIsAndReadOnlyOnesAreKept) {
    EXPECT_FALSE(ini.WriteString("S", "K", "V", file));
    EXPECT_EQ(ini.WriteStrings({{"S", "K", "V"}, {"T", "A", "x"}}, file), std::vector<bool>(2, false));
    EXPECT_FALSE(box.exists(file));
    box.makeFolder("C:\\Agent\\Configuration");
    ASSERT_TRUE(ini.WriteString("S", "K", "V", file));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=V\r\n");
    // The folder is found without regard to case.
    ASSERT_TRUE(ini.WriteString("S", "K", "V", "C:\\agent\\CONFIGURATION\\New.ini"));
    EXPECT_TRUE(sys.fs->FileExists("C:\\Agent\\Configuration\\new.ini"));

    if (!onPosixBackend()) {
        GTEST_SKIP() << "Wine's WritePrivateProfileStringA writes a read-only file here "
                        "(the tests run as root; not tried as another user)";
    }
    sys.fs->SetReadOnly(file, true);
    EXPECT_FALSE(ini.WriteString("S", "K", "2", file));
    EXPECT_EQ(ini.WriteStrings({{"S", "K", "2"}}, file), std::vector<bool>(1, false));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=V\r\n");
    sys.fs->SetReadOnly(file, false);
}

TEST_F(ProfileContract, WriteStringsAppliesAllInOrderAndRefusesTextThatWouldAddLines) {
    box.writeFile(file, "[S]\r\nK=1\r\n");
    const std::vector<ProfileEntry> entries{{"S", "K", "2"}, {"T", "A", "x"}, {"s", "New", "n"}, {"T", "A", "y"}};
    EXPECT_EQ(ini.WriteStrings(entries, file), std::vector<bool>(4, true));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=2\r\nNew=n\r\n[T]\r\nA=y\r\n");

    // Keys come from scripts' output; none of these may reach the file.
    const std::string before = box.readFile(file);
    EXPECT_FALSE(ini.WriteString("S", "Copy\r\n[Threshold]\r\nVTXVariablesTh", "-1", file));
    EXPECT_FALSE(ini.WriteString("S", "K", "1\n[Threshold]", file));
    EXPECT_FALSE(ini.WriteString("S", "a=b", "1", file));
    EXPECT_FALSE(ini.WriteString("S", "[T]", "1", file));
    EXPECT_FALSE(ini.WriteString("S", ";note", "1", file));
    EXPECT_EQ(box.readFile(file), before);
    EXPECT_TRUE(ini.WriteString("S", "Bob's task (copy)", "1", file));
    EXPECT_EQ(get("S", "bob's TASK (copy)"), "1");
    // In a batch such an entry costs only itself.
    EXPECT_EQ(ini.WriteStrings({{"S", "K", "3"}, {"S", "bad\nkey", "1"}, {"S", " =x", "1"}, {"S", "L", "3"}}, file),
              (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=3\r\nNew=n\r\nBob's task (copy)=1\r\nL=3\r\n[T]\r\nA=y\r\n");
}

}  // namespace
