// The job list: which children become jobs, at which index, and how a list
// that cannot be read or is too long is reported.
#include <gtest/gtest.h>

#include <filesystem>

#include "run/job_list.h"
#include "support/test_support.h"

namespace {

const std::string kListPath = "C:\\Agent\\kHVR\\Tellix\\Action_12_KRN\\KRNScripts.xml";

class JobListTest : public ::testing::Test {
protected:
    TestRun run;
    XmlLibrary& xml = *run.real.xml;
    RunContext& ctx = *run.ctx;

    void SetUp() override {
        run.platform.xml = &xml;
        ctx.sys.xml = &xml;
        run.useInstallPath();
        ctx.strActionName = "Action_12_KRN";
    }
    void writeList(const std::string& text) { run.sandbox.writeFile(kListPath, text); }
    std::vector<std::string> scriptLines() const {
        std::vector<std::string> out;
        for (const auto& m : run.messages()) {
            if (m.rfind("MSG : Scripts :: ", 0) == 0) out.push_back(m);
        }
        return out;
    }
};

TEST_F(JobListTest, ItemsAreStoredInDocumentOrder) {
    writeList("<?xml version=\"1.0\"?>\r\n<root>\r\n  <item>a%@%1</item>\r\n  <item>b</item>\r\n  <item>c</item>\r\n</root>\r\n");
    EXPECT_TRUE(fncParseKRNXML(ctx));
    EXPECT_EQ(ctx.arrScripts, (std::vector<std::string>{"a%@%1", "b", "c"}));
    EXPECT_EQ(scriptLines(), (std::vector<std::string>{"MSG : Scripts :: a%@%1", "MSG : Scripts :: b",
                                                       "MSG : Scripts :: c"}));
    EXPECT_EQ(run.messages().front(), "MSG : In fncParseKRNXML");
    EXPECT_EQ(ctx.strFailureDesc, "");
}

TEST_F(JobListTest, AnItemKeepsItsChildPositionAndOtherChildrenAreSkipped) {
    writeList("<root><!-- jobs --><item>one</item><Item>x</Item><job>y</job><item>two</item><?pi?></root>");
    EXPECT_TRUE(fncParseKRNXML(ctx));
    EXPECT_EQ(ctx.arrScripts, (std::vector<std::string>{"", "one", "", "", "two"}));
    EXPECT_EQ(scriptLines().size(), 2u);
}

TEST_F(JobListTest, NoItemsGiveFalseWithoutAFailure) {
    const char* lists[] = {"<root/>", "<root><Item>a</Item><job>b</job></root>", "<jobs><item>a</item></jobs>"};
    for (const char* list : lists) {
        SCOPED_TRACE(list);
        writeList(list);
        run.lines.clear();
        EXPECT_FALSE(fncParseKRNXML(ctx));
        EXPECT_TRUE(ctx.arrScripts.empty());
        EXPECT_EQ(ctx.strFailureDesc, "");
        EXPECT_FALSE(run.loggedPart("ERR"));
    }
}

TEST_F(JobListTest, TheFirstRootAnywhereIsTheList) {
    writeList("<envelope><head><root><item>nested</item></root></head><root><item>second</item></root></envelope>");
    EXPECT_TRUE(fncParseKRNXML(ctx));
    EXPECT_EQ(ctx.arrScripts, (std::vector<std::string>{"nested"}));
}

TEST_F(JobListTest, AListThatCannotBeLoadedIsReported) {
    writeList("<root><item>open</root>");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "not well-formed" : "missing");
        run.lines.clear();
        EXPECT_FALSE(fncParseKRNXML(ctx));
        EXPECT_EQ(ctx.strFailureDesc, "Failed to load " + kListPath);
        EXPECT_EQ(run.messages().back(), "ERR : Failed to load " + kListPath);
        std::filesystem::remove(run.sandbox.hostPath(kListPath));
    }
}

TEST_F(JobListTest, MoreChildrenThanThe16BitIndexHoldsGoToTheHandler) {
    std::string list = "<root>";
    for (int i = 0; i < 32767; ++i) list += "<item>j</item>";
    writeList(list + "</root>");
    EXPECT_TRUE(fncParseKRNXML(ctx));
    EXPECT_EQ(ctx.arrScripts.size(), 32767u);

    ctx.arrScripts.clear();
    run.lines.clear();
    writeList(list + "<!-- one more --></root>");
    EXPECT_FALSE(fncParseKRNXML(ctx));
    EXPECT_TRUE(ctx.arrScripts.empty());
    EXPECT_EQ(ctx.strFailureDesc, "fncParseKRNXML, Overflow");
    EXPECT_EQ(run.messages().back(), "ERR : fncParseKRNXML, fncParseKRNXML, Overflow");
}

}  // namespace
