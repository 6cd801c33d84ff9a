// Posting of a script's variables through the drop folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "report/variables_post.h"
#include "support/test_support.h"

namespace {

const std::string kIni = "C:\\Agent\\Configuration\\ATZThreshold.ini";
const std::string kVars = "C:\\Agent\\AutomiseLogs\\vars.xml";
const std::string kDrop = "C:\\Agent\\HVRPostLogs\\vars.xml";

class VariablesPost : public ::testing::Test {
protected:
    TestRun run;
    XmlLibrary& xml = *run.real.xml;
    RunContext& ctx = *run.ctx;

    void SetUp() override {
        run.useInstallPath();
        run.sandbox.makeFolder("C:\\Agent\\Configuration");
        run.sandbox.makeFolder("C:\\Agent\\HVRPostLogs");
        ctx.sys.xml = &xml;
        ctx.job.strExecuteScript = "Inventory.atz";
        ctx.strVTXVariablesTh = "24";
        ctx.strRegID = "42";
        ctx.job.strScriptID = "7001";
        run.clock.time = LocalTime{2026, 12, 7, 10, 41, 5};
    }

    void writeVars(const std::string& children, const std::string& path = kVars) {
        run.sandbox.writeFile(path, "<?xml version=\"1.0\"?>\r\n<wpatcmdscrvardata>" + children +
                                        "</wpatcmdscrvardata>\r\n");
    }
    std::vector<std::string> dropFolder() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(run.sandbox.hostPath("C:\\Agent\\HVRPostLogs"))) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }
};

// A record still waiting in the drop folder is never replaced: runs that leave
// variables files of the same name each get their record through, the later
// ones under numbered names that keep the file's own name and ending.
TEST_F(VariablesPost, RecordNamedLikeAWaitingOneLeavesBoth) {
    run.sandbox.writeFile(kDrop, "an earlier drop still waiting");
    writeVars("<scriptversion>2</scriptversion><var name='Disk'>40</var>");

    EXPECT_TRUE(fncPostVTXVariables(ctx, kVars));

    const std::string header = "<wpatcmdscrvardata><regid>42</regid><scandatetime>12/07/2026 10:41:05</scandatetime>"
                               "<scriptid>7001</scriptid>";
    EXPECT_EQ(run.sandbox.readFile("C:\\Agent\\HVRPostLogs\\vars_1.xml"),
              header + "<scriptversion><![CDATA[2]]></scriptversion><var name='Disk'><![CDATA[40]]></var>"
                       "</wpatcmdscrvardata>");
    EXPECT_FALSE(run.sandbox.exists(kVars));
    const std::vector<std::string> expected = {
        "MSG : Preprocessing: in functions fncPostVTXVariables",
        "MSG : Preprocessing: Successfully Written 1 to variable Disk to file " + kIni,
        "MSG : Preprocessing: Contents in VTX_Variable file ",
        "MSG : Preprocessing: Copying C:\\Agent\\HVRPostLogs\\vars_1.xml.vx" + std::to_string(run.host.ProcessId()) +
            ".tmp to C:\\Agent\\HVRPostLogs\\vars_1.xml",
        "MSG : Preprocessing: Deleting " + kVars,
    };
    EXPECT_EQ(run.messages(), expected);

    // The next run's file of the same name takes the next free name.
    writeVars("<var name='Disk'>41</var>");
    EXPECT_TRUE(fncPostVTXVariables(ctx, kVars));
    EXPECT_EQ(run.sandbox.readFile("C:\\Agent\\HVRPostLogs\\vars_2.xml"),
              header + "<var name='Disk'><![CDATA[41]]></var></wpatcmdscrvardata>");
    EXPECT_EQ(run.sandbox.readFile(kDrop), "an earlier drop still waiting");
    auto names = dropFolder();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"vars.xml", "vars_1.xml", "vars_2.xml"}));
}

TEST_F(VariablesPost, OpeningTagInsideAValueIsRewrittenToo) {
    writeVars("<var name='Tag'>&lt;WPATCMDSCRVARDATA&gt;</var>");
    fncPostVTXVariables(ctx, kVars);
    const std::string header =
        "<wpatcmdscrvardata><regid>42</regid><scandatetime>12/07/2026 10:41:05</scandatetime><scriptid>7001</scriptid>";
    EXPECT_EQ(run.sandbox.readFile(kDrop),
              header + "<var name='Tag'><![CDATA[" + header + "]]></var></wpatcmdscrvardata>");
}

// A name that would close its attribute and a value that would close its
// CDATA section stay text: the record is well-formed, has one regid, and
// reads back as the script wrote it.
TEST_F(VariablesPost, ForgedNameAndValueStayTextOfTheirVariable) {
    writeVars("<var name=\"a' evil='1\">x]]&gt;&lt;regid&gt;8888&lt;/regid&gt;</var>"
              "<scriptname>n]]&gt;&lt;regid/&gt;</scriptname><var name='&amp;&lt;b'>plain</var>");
    EXPECT_TRUE(fncPostVTXVariables(ctx, kVars));
    const std::string record = run.sandbox.readFile(kDrop);
    EXPECT_EQ(record,
              "<wpatcmdscrvardata><regid>42</regid><scandatetime>12/07/2026 10:41:05</scandatetime>"
              "<scriptid>7001</scriptid><var name='a&apos; evil=&apos;1'><![CDATA[x]]]]><![CDATA[><regid>8888</regid>"
              "]]></var><scriptname><![CDATA[n]]]]><![CDATA[><regid/>]]></scriptname>"
              "<var name='&amp;&lt;b'><![CDATA[plain]]></var></wpatcmdscrvardata>");

    auto document = xml.CreateDocument();
    ASSERT_TRUE(document->LoadBytes(record));
    auto root = document->SelectFirstElement("wpatcmdscrvardata");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ChildCount(), 6);
    EXPECT_EQ(root->Child(0)->Text(), "42");
    auto forged = root->Child(3);
    ASSERT_EQ(forged->AttributeCount(), 1);
    EXPECT_EQ(forged->AttributeValue(0), "a' evil='1");
    EXPECT_EQ(forged->Text(), "x]]><regid>8888</regid>");
    EXPECT_EQ(root->Child(4)->Text(), "n]]><regid/>");
    EXPECT_EQ(root->Child(5)->AttributeValue(0), "&<b");
}

TEST_F(VariablesPost, FileIsDeletedWhetherOrNotAnythingWasPosted) {
    struct Case {
        const char* name;
        std::string content;
    };
    const std::vector<Case> cases = {
        {"over threshold", "<wpatcmdscrvardata><var name='Over'>1</var></wpatcmdscrvardata>"},
        {"no variables", "<wpatcmdscrvardata><scriptname>n</scriptname></wpatcmdscrvardata>"},
        {"not well-formed", "<wpatcmdscrvardata><var name='x'>"},
        {"no container", "<other/>"},
    };
    run.profile.WriteString("VTX_Variables_Count", "Over", "25", kIni);
    for (const Case& c : cases) {
        run.lines.clear();
        run.sandbox.writeFile(kVars, c.content);
        EXPECT_FALSE(fncPostVTXVariables(ctx, kVars)) << c.name;
        EXPECT_FALSE(run.sandbox.exists(kVars)) << c.name;
        EXPECT_TRUE(run.logged("MSG : Preprocessing : VTX Varibale file not created due to threshold violation"))
            << c.name;
        EXPECT_TRUE(run.logged("MSG : Preprocessing: Deleting " + kVars)) << c.name;
        EXPECT_FALSE(run.loggedPart("Copying")) << c.name;
    }
    EXPECT_TRUE(dropFolder().empty());

    // A read-only file with nothing to post goes as well.
    run.sandbox.writeFile(kVars, cases[0].content);
    run.fs.SetReadOnly(kVars, true);
    fncPostVTXVariables(ctx, kVars);
    EXPECT_FALSE(run.sandbox.exists(kVars));
}

TEST_F(VariablesPost, MissingFileIsOnlyLogged) {
    EXPECT_FALSE(fncPostVTXVariables(ctx, "C:\\Agent\\AutomiseLogs\\gone.xml"));
    const std::vector<std::string> expected = {
        "MSG : Preprocessing: in functions fncPostVTXVariables",
        "MSG : Preprocessing: VTX varibale File not found C:\\Agent\\AutomiseLogs\\gone.xml",
    };
    EXPECT_EQ(run.messages(), expected);
    EXPECT_TRUE(dropFolder().empty());
}

// The record is made from what was read, not written back into the
// script's file: a file the script made read-only still gives its record, and
// goes.
TEST_F(VariablesPost, ReadOnlyFileStillGivesItsRecordAndGoes) {
    writeVars("<var name='Disk'>40</var>");
    run.fs.SetReadOnly(kVars, true);
    EXPECT_TRUE(fncPostVTXVariables(ctx, kVars));
    EXPECT_EQ(run.sandbox.readFile(kDrop),
              "<wpatcmdscrvardata><regid>42</regid><scandatetime>12/07/2026 10:41:05</scandatetime>"
              "<scriptid>7001</scriptid><var name='Disk'><![CDATA[40]]></var></wpatcmdscrvardata>");
    EXPECT_FALSE(run.sandbox.exists(kVars));
}

TEST_F(VariablesPost, DropFolderFailureEndsTheStepWithItsErrorLine) {
    std::filesystem::remove_all(run.sandbox.hostPath("C:\\Agent\\HVRPostLogs"));
    writeVars("<var name='Disk'>40</var>");
    EXPECT_FALSE(fncPostVTXVariables(ctx, kVars));
    EXPECT_TRUE(run.loggedPart("ERR : in fncPostVTXVariables. "));
    EXPECT_TRUE(run.logged("ERR : Preprocessing: vars.xml could not be dropped into C:\\Agent\\HVRPostLogs :: 76 "
                           "Path not found; the record is lost"));
    EXPECT_FALSE(run.loggedPart("Deleting"));
}

}  // namespace
