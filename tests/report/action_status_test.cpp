// The action status record of a run.
#include <gtest/gtest.h>

#include "receiver.h"
#include "report/action_status.h"
#include "report_fixture.h"

namespace {

const std::string kDrop = "wpdcmtkvrmenuactionst_N_33_1207202610153030.xml";

struct ActionStatus : ::testing::Test {
    ReportRun run;
    void SetUp() override {
        run.ctx->strCmdTemplateID = "5";
        run.ctx->strCmdTemplateVersion = "2";
        run.ctx->strActionName = "Action_27_KRN";
        run.ctx->strExeVersion = "1.0.0.12";
    }
    std::string record(const std::string& ids, const std::string& status, const std::string& failure) const {
        return "<wpdcmtkvrmenuactionst><mmid>11</mmid><siteid>22</siteid><regid>33</regid>" + ids +
               "<scandt>12/07/2026 10:15:30</scandt><status>" + status + "</status><faildesc>" + failure +
               "</faildesc><exever>1.0.0.12</exever></wpdcmtkvrmenuactionst>";
    }
    const std::string ids = "<tempid>5</tempid><tempver>2</tempver><menuid>27</menuid>";
};

TEST_F(ActionStatus, CleanRunIsDroppedWithStatusOne) {
    EXPECT_FALSE(fncPostKRNExecStatus(*run.ctx));
    const std::string xml = record(ids, "1", "");
    EXPECT_EQ(run.drops(), std::vector<std::string>{kDrop});
    EXPECT_EQ(run.drop(kDrop), xml + "\r\n");
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
    EXPECT_EQ(run.messages(),
              (std::vector<std::string>{
                  "MSG : Webpost Data :: " + xml,
                  "MSG : Preprocessing: Direct webpost failed. Posting the xml contents to HVRPostLogs ",
                  "MSG : Preprocessing: Copying C:\\Agent\\HVRPostLogs\\" + run.staging(kDrop) +
                      " to C:\\Agent\\HVRPostLogs\\" + kDrop,
                  "MSG : Preprocessing: Deleting [Template_Execution_Status] File C:\\Agent\\HVRPostLogs\\" +
                      run.staging(kDrop)}));
}

// The failure text may carry a script's output: only what would break the
// record is escaped ("&", "<", the ">" of "]]>", control bytes).
TEST_F(ActionStatus, FailureTextIsEscapedOnlyWhereXmlNeedsIt) {
    const std::string failure = "Preprocessing:C:\\Agent\\x \"q\" > 'x' <b> & ]]> \x1b[0m\r\n\tend";
    run.ctx->strFailureDesc = failure;
    fncPostKRNExecStatus(*run.ctx);
    EXPECT_EQ(run.drop(kDrop),
              record(ids, "0", "Preprocessing:C:\\Agent\\x \"q\" > 'x' &lt;b> &amp; ]]&gt; ?[0m\r\n\tend") + "\r\n");
    EXPECT_EQ(run.ctx->strFailureDesc, failure);
}

TEST_F(ActionStatus, BlankFailureTextCountsAsSuccessButIsSentAsItStands) {
    run.ctx->strFailureDesc = "   ";
    fncPostKRNExecStatus(*run.ctx);
    EXPECT_EQ(run.drop(kDrop), record(ids, "1", "   ") + "\r\n");
}

TEST_F(ActionStatus, NumbersComeFromTheCommandLineFields) {
    const struct {
        std::string id, version, action, expected;
    } cases[] = {
        {"5", "", "", "<tempid>5</tempid><tempver>0</tempver><menuid>0</menuid>"},
        {" 007x", "2.50", "aCTION_31_krn", "<tempid>7</tempid><tempver>2.5</tempver><menuid>31</menuid>"},
        {"abc", "-3", "Action_Action_4_KRN_KRN", "<tempid>0</tempid><tempver>-3</tempver><menuid>4</menuid>"},
        {"&H10", "1e2", "Action_12a_KRN", "<tempid>16</tempid><tempver>100</tempver><menuid>12</menuid>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        run.ctx->strCmdTemplateID = c.id;
        run.ctx->strCmdTemplateVersion = c.version;
        run.ctx->strActionName = c.action;
        run.clock.time.second += 1;  // a fresh drop name for each case
        fncPostKRNExecStatus(*run.ctx);
        ASSERT_FALSE(run.drops().empty());
        EXPECT_EQ(run.drop(run.drops().back()), record(c.expected, "1", "") + "\r\n");
    }
}

TEST_F(ActionStatus, DroppedEvenWhenPostingWouldWork) {
    FakeWebpostLibrary library;
    run.ctx->sys.webpost = &library;
    run.setBases({{"wpdcmtkvrmenuactionst", "http://127.0.0.1:9/"}});
    fncPostKRNExecStatus(*run.ctx);
    EXPECT_EQ(library.creates, 0);
    EXPECT_EQ(run.drops(), std::vector<std::string>{kDrop});
}

// The script's folder plays no part in a drop; a drop folder that is not
// there ends the step in the handler, after the line that names the lost record.
TEST_F(ActionStatus, FileErrorsEndInTheHandler) {
    std::filesystem::remove_all(run.sandbox.hostPath("C:\\Agent\\AutomiseLogs"));
    std::filesystem::remove_all(run.sandbox.hostPath("C:\\Agent\\HVRPostLogs"));
    EXPECT_FALSE(fncPostKRNExecStatus(*run.ctx));
    EXPECT_TRUE(run.logged("ERR : Preprocessing: " + kDrop + " could not be dropped into C:\\Agent\\HVRPostLogs :: 76 "
                           "Path not found; the record is lost"));
    EXPECT_TRUE(run.loggedPart("ERR : function fncPostKRNExecStatus. ErrDesc :: 76 "));
    EXPECT_FALSE(run.loggedPart("Copying"));
    EXPECT_FALSE(run.sandbox.exists("C:\\Agent\\AutomiseLogs"));
}

}  // namespace
