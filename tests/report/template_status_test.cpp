// The template execution status and failure records of a job.
#include <gtest/gtest.h>

#include "receiver.h"
#include "report/template_status.h"
#include "report_fixture.h"

namespace {

const std::string kNote = ". Export Log functionality not used";

struct TemplateStatus : ::testing::Test {
    ReportRun run;
    FakeWebpostLibrary library;
    void SetUp() override {
        run.ctx->sys.webpost = &library;
        run.setBases({{"wpdcmatztempexecst", "http://h/"}, {"wpdcmatztempexecfail", "http://h/"}});
        run.ctx->job.strTemplateID = "T1";
        run.ctx->job.strTemplateVersion = "TV1";
        run.ctx->job.strScriptID = "S1";
        run.ctx->job.strScriptVersion = "SV1";
    }
    std::string statusRecord(const std::string& status) const {
        return "<wpdcmatztempexecst><mmid>11</mmid><siteid>22</siteid><regid>33</regid><tempid>T1</tempid>"
               "<tempver>TV1</tempver><scrid>S1</scrid><scrver>SV1</scrver><scandt>12/07/2026 10:15:30</scandt>"
               "<status>" + status + "</status></wpdcmatztempexecst>";
    }
    std::string failureRecord(const std::string& failure) const {
        return "<wpdcmatztempexecfail><mmid>11</mmid><siteid>22</siteid><regid>33</regid><scrid>S1</scrid>"
               "<scrver>SV1</scrver><tempid>T1</tempid><tempver>TV1</tempver><scandt>12/07/2026 10:15:30</scandt>"
               "<faildesc><![CDATA[" + failure + "]]></faildesc></wpdcmatztempexecfail>";
    }
    std::vector<std::string> posted() const {
        std::vector<std::string> xml;
        for (const auto& p : library.posts) xml.push_back(p.xml);
        return xml;
    }
    void scriptResult(const std::string& status, const std::string& exitLine, const std::string& actions) {
        run.ctx->script.strScriptStatus = status;
        run.ctx->script.strExitLine = exitLine;
        run.ctx->script.strActionDescList = actions;
    }
    void expectResultEmptied() const {
        EXPECT_EQ(run.ctx->script.strScriptStatus, "");
        EXPECT_EQ(run.ctx->script.strExitLine, "");
        EXPECT_EQ(run.ctx->script.strActionDescList, "");
    }
};

TEST_F(TemplateStatus, LowerCaseSuccessPostsOnlyTheStatusRecord) {
    scriptResult(" success ", "Exit with return code: 0", "ACTION-DESC:left over");
    subPostTemplateExecStatus(*run.ctx);
    ASSERT_EQ(posted(), std::vector<std::string>{statusRecord("1")});
    EXPECT_EQ(library.posts[0].url, "http://h/tfr_wpdcmatztempexecst.asp?mmid=11&sid=22&rid=33&rty=MSMA");
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Direct webposting for [Template_Execution_Status]"));
    EXPECT_FALSE(run.loggedPart("[Template_Execution_Failure]"));
    EXPECT_TRUE(run.drops().empty());
    expectResultEmptied();
}

TEST_F(TemplateStatus, SuccessAfterAnEarlierFailureReportsThatTextUnchanged) {
    run.ctx->strFailureDesc = "Preprocessing:checksum differs";
    scriptResult("SUCCESS", "Exit with return code: 0", "ACTION-DESC:x");
    subPostTemplateExecStatus(*run.ctx);
    ASSERT_EQ(posted(), (std::vector<std::string>{statusRecord("0"), failureRecord("Preprocessing:checksum differs")}));
    EXPECT_EQ(library.posts[1].url, "http://h/tfr_wpdcmatztempexecfail.asp?mmid=11&sid=22&rid=33&rty=MSMA");
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:checksum differs");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Direct webposting for [Template_Execution_Failure]"));
    expectResultEmptied();
}

// How a failed script completes the description. The export note is added
// when no export was named and it cannot take the exit line's place.
TEST_F(TemplateStatus, FailedScriptCompletesTheDescription) {
    const struct {
        std::string name, before, status, exitLine, actions;
        bool exported;
        std::string after;
    } cases[] = {
        {"exit line only", "", "FAILED", "Exit with return code: 3", "", false, "Postprocessing:Exit with return code: 3"},
        {"blank list", "", "FAILED", "Exit with return code: 3", "  ", false, "Postprocessing:Exit with return code: 3"},
        {"actions, no export", "", "FAILED", "Exit with return code: 3", "ACTION-DESC:Copy@#@denied", false,
         "Postprocessing:ACTION-DESC:Copy@#@denied" + kNote},
        {"actions, exported", "", "FAILED", "Exit", "ACTION-DESC:Copy", true, "Postprocessing:ACTION-DESC:Copy"},
        {"earlier text", "Postprocessing:timed out.", "FAILED", "Exit 3", "ACTION-DESC:A", false,
         "Postprocessing:timed out.Exit 3ACTION-DESC:A" + kNote},
        {"earlier text, exported", "P:t ", "Failed", "Exit 3", "", true, "P:t Exit 3"},
        {"earlier text, no exit", "P:t", "FAILED", "", "", false, "P:t" + kNote},
        {"script not run", "Preprocessing:File not found", "", "", "", false, "Preprocessing:File not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library.posts.clear();
        run.ctx->strFailureDesc = c.before;
        run.ctx->blnExportXML = c.exported;
        scriptResult(c.status, c.exitLine, c.actions);
        subPostTemplateExecStatus(*run.ctx);
        EXPECT_EQ(run.ctx->strFailureDesc, c.after);
        EXPECT_EQ(posted(), (std::vector<std::string>{statusRecord("0"), failureRecord(c.after)}));
        expectResultEmptied();
    }
}

TEST_F(TemplateStatus, FailedWithNothingToSaySendsOnlyTheStatusRecord) {
    scriptResult("FAILED", " ", "");
    subPostTemplateExecStatus(*run.ctx);
    EXPECT_EQ(posted(), std::vector<std::string>{statusRecord("0")});
    EXPECT_EQ(run.ctx->strFailureDesc, "");
}

// A script's message that closes the CDATA section and opens elements of its
// own stays text: the record is well-formed, has only its own nine fields,
// and reads back as the script wrote it.
TEST_F(TemplateStatus, ForgedMessageStaysTextOfTheDescription) {
    XmlLibrary& xml = *run.real.xml;
    const std::string forged = "boom ]]></faildesc><status>1</status><faildesc><![CDATA[ <c> & d]]>";
    scriptResult("FAILED", "", "ACTION-DESC:Copy@#@" + forged);
    run.ctx->blnExportXML = true;
    subPostTemplateExecStatus(*run.ctx);
    ASSERT_EQ(library.posts.size(), 2u);
    const std::string record = library.posts[1].xml;
    EXPECT_EQ(record, failureRecord("Postprocessing:ACTION-DESC:Copy@#@boom ]]]]><![CDATA[></faildesc><status>1"
                                    "</status><faildesc><![CDATA[ <c> & d]]]]><![CDATA[>"));

    auto document = xml.CreateDocument();
    ASSERT_TRUE(document->LoadBytes(record)) << record;
    EXPECT_EQ(document->SelectFirstElement("status"), nullptr);
    auto root = document->SelectFirstElement("wpdcmatztempexecfail");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->ChildCount(), 9);
    EXPECT_EQ(document->SelectFirstElement("faildesc")->Text(), "Postprocessing:ACTION-DESC:Copy@#@" + forged);
}

TEST_F(TemplateStatus, FailedPostsAreDropped) {
    library.accept = false;
    run.ctx->strFailureDesc = "Postprocessing:boom";
    run.clock.time.second = 7;
    subPostTemplateExecStatus(*run.ctx);
    const std::string status = "wpdcmatztempexecst_N_33_12072026101507" "7.xml";
    const std::string failure = "wpdcmatztempexecfail_N_33_12072026101507" "7.xml";
    EXPECT_EQ(run.drops(), (std::vector<std::string>{failure, status}));
    EXPECT_EQ(run.drop(status), statusRecord("0") + "\r\n");
    EXPECT_EQ(run.drop(failure), failureRecord("Postprocessing:boom") + "\r\n");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Direct webpost failed. Posting the xml contents to HVRPostLogs "));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Direct webpost failed. Posting the xml contents for HVRPostLogs "));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Deleting [Template_Execution_Status] File C:\\Agent\\HVRPostLogs\\" +
                           run.staging(status)));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Deleting [Template_Execution_Failure] File C:\\Agent\\HVRPostLogs\\" +
                           run.staging(failure)));
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
}

TEST_F(TemplateStatus, OnlyRecordsWhosePostFailedAreDropped) {
    run.ctx->strFailureDesc = "P:x";
    subPostTemplateExecStatus(*run.ctx);
    EXPECT_TRUE(run.drops().empty());

    library.accept = false;
    run.clock.time.second = 45;
    run.ctx->strFailureDesc = "";
    run.ctx->script.strScriptStatus = "success";
    subPostTemplateExecStatus(*run.ctx);
    EXPECT_EQ(run.drops(), std::vector<std::string>{"wpdcmatztempexecst_N_33_12072026101545" "45.xml"});
}

// Two jobs in the same second whose status posts both fail: both records wait
// in the drop folder, the second under the next second's name.
TEST_F(TemplateStatus, TwoJobsInOneSecondKeepBothStatusRecords) {
    library.accept = false;
    scriptResult("SUCCESS", "", "");
    subPostTemplateExecStatus(*run.ctx);
    run.ctx->job.strTemplateID = "T2";
    scriptResult("SUCCESS", "", "");
    subPostTemplateExecStatus(*run.ctx);
    const auto drops = run.drops();
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[0], "wpdcmatztempexecst_N_33_1207202610153030.xml");
    EXPECT_EQ(drops[1], "wpdcmatztempexecst_N_33_1207202610153131.xml");
    EXPECT_NE(run.drop(drops[0]).find("<tempid>T1</tempid>"), std::string::npos);
    EXPECT_NE(run.drop(drops[1]).find("<tempid>T2</tempid>"), std::string::npos);
}

TEST_F(TemplateStatus, UnexpectedErrorSkipsTheRestButEmptiesTheResult) {
    library.accept = false;
    std::filesystem::remove_all(run.sandbox.hostPath("C:\\Agent\\HVRPostLogs"));
    scriptResult("FAILED", "Exit 1", "ACTION-DESC:A");
    subPostTemplateExecStatus(*run.ctx);
    EXPECT_TRUE(run.loggedPart("ERR : in Main. 76::"));
    EXPECT_FALSE(run.loggedPart("[Template_Execution_Failure]"));
    EXPECT_EQ(library.posts.size(), 1u);
    EXPECT_EQ(run.ctx->strFailureDesc, "Postprocessing:ACTION-DESC:A" + kNote);
    expectResultEmptied();
}

}  // namespace
