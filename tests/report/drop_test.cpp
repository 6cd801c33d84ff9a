// The drop folder: names, content, never a half-written or replaced record.
#include <gtest/gtest.h>

#include "platform/errors.h"
#include "report/webpost.h"
#include "report_fixture.h"
#include "run/text.h"

namespace {

// The real file system, with a few calls made to fail or lie on purpose.
class FlakyFileSystem : public FileSystem {
public:
    explicit FlakyFileSystem(FileSystem& real) : real_(real) {}
    int failMoves = 0;             // the next n MoveFile calls raise 70
    int hideTargets = 0;           // the next n FileExists calls on HVRPostLogs answer false
    std::vector<std::string> moves;

    bool FolderExists(const std::string& p) override { return real_.FolderExists(p); }
    bool FileExists(const std::string& p) override {
        if (hideTargets > 0 && p.find("HVRPostLogs") != std::string::npos) {
            --hideTargets;
            return false;
        }
        return real_.FileExists(p);
    }
    void CreateFolder(const std::string& p) override { real_.CreateFolder(p); }
    std::unique_ptr<TextStream> CreateTextFile(const std::string& p, bool o) override {
        return real_.CreateTextFile(p, o);
    }
    std::unique_ptr<TextStream> OpenTextFile(const std::string& p, IOMode m, bool c) override {
        return real_.OpenTextFile(p, m, c);
    }
    void CopyFile(const std::string& s, const std::string& t, bool o) override { real_.CopyFile(s, t, o); }
    void MoveFile(const std::string& s, const std::string& t, bool r) override {
        moves.push_back(s + " > " + t);
        if (failMoves > 0) {
            --failMoves;
            throw runError(err::PermissionDenied);
        }
        real_.MoveFile(s, t, r);
    }
    void DeleteFile(const std::string& p, bool f) override { real_.DeleteFile(p, f); }
    std::uint64_t GetFileSize(const std::string& p) override { return real_.GetFileSize(p); }
    std::string GetFileVersion(const std::string& p) override { return real_.GetFileVersion(p); }
    std::vector<FileEntry> GetFiles(const std::string& f, const FileQuery& q = {}) override {
        return real_.GetFiles(f, q);
    }
    void SetReadOnly(const std::string& p, bool r) override { real_.SetReadOnly(p, r); }
    std::unique_ptr<TextStream> OpenSharedLog(const std::string& p, std::uint64_t s) override {
        return real_.OpenSharedLog(p, s);
    }
    bool FileExistsInside(const std::string& f, const std::string& p) override { return real_.FileExistsInside(f, p); }
    std::unique_ptr<TextStream> OpenInside(const std::string& f, const std::string& p) override {
        return real_.OpenInside(f, p);
    }
    void RewriteInside(const std::string& f, const std::string& p, const std::string& t) override {
        real_.RewriteInside(f, p, t);
    }
    void CopyOutOf(const std::string& f, const std::string& p, const std::string& t, bool o) override {
        real_.CopyOutOf(f, p, t, o);
    }
    void DeleteInside(const std::string& f, const std::string& p, bool force) override {
        real_.DeleteInside(f, p, force);
    }

private:
    FileSystem& real_;
};

TEST(Drop, NameCarriesTheSecondsTwiceAndTheFileMovesOver) {
    ReportRun run;
    run.clock.time = {2026, 3, 9, 8, 4, 7};
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a>1</a>", "[Template_Execution_Status]");
    const std::string name = "wpdcmatztempexecst_N_33_03092026080407" "7.xml";
    EXPECT_EQ(run.drops(), std::vector<std::string>{name});
    EXPECT_EQ(run.drop(name), "<a>1</a>\r\n");
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
    // The staging file carries this process's id, so no other run shares it.
    const std::string staging = run.staging(name);
    EXPECT_EQ(run.messages(),
              (std::vector<std::string>{
                  "MSG : Preprocessing: Copying C:\\Agent\\AutomiseLogs\\" + staging + " to C:\\Agent\\HVRPostLogs\\" + name,
                  "MSG : Preprocessing: Deleting [Template_Execution_Status] File C:\\Agent\\AutomiseLogs\\" + staging}));

    run.clock.time = {2026, 11, 30, 23, 59, 45};
    subDropRecord(*run.ctx, "wpdcmatztempexecfail", "<b/>", "[Template_Execution_Failure]");
    EXPECT_EQ(run.drop("wpdcmatztempexecfail_N_33_11302026235945" "45.xml"), "<b/>\r\n");
}

// A record still waiting under the same name is not replaced: the later drop
// takes the next second's name.
TEST(Drop, SameRecordTwiceInOneSecondKeepsBoth) {
    ReportRun run;
    for (const std::string xml : {"<first/>", "<second/>", "<third/>"})
        subDropRecord(*run.ctx, "wpdcmtkvrmenuactionst", xml, "[Template_Execution_Status]");
    EXPECT_EQ(run.drops(), (std::vector<std::string>{"wpdcmtkvrmenuactionst_N_33_1207202610153030.xml",
                                                     "wpdcmtkvrmenuactionst_N_33_1207202610153131.xml",
                                                     "wpdcmtkvrmenuactionst_N_33_1207202610153232.xml"}));
    EXPECT_EQ(run.drop("wpdcmtkvrmenuactionst_N_33_1207202610153030.xml"), "<first/>\r\n");
    EXPECT_EQ(run.drop("wpdcmtkvrmenuactionst_N_33_1207202610153131.xml"), "<second/>\r\n");
    EXPECT_EQ(run.drop("wpdcmtkvrmenuactionst_N_33_1207202610153232.xml"), "<third/>\r\n");
    EXPECT_EQ(run.clock.sleptMs, 2000u);  // one second each for the second and the third
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
}

TEST(Drop, InterruptedBetweenCopyAndRenameLeavesNothingBehind) {
    ReportRun run;
    FlakyFileSystem flaky(run.fs);
    run.ctx->objFSO = &flaky;
    flaky.failMoves = 1;
    try {
        subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a/>", "[Template_Execution_Status]");
        ADD_FAILURE() << "the failed rename was not raised";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, err::PermissionDenied);
    }
    ASSERT_EQ(flaky.moves.size(), 1u);
    EXPECT_TRUE(run.drops().empty());  // neither the record nor its partial copy

    // The next attempt goes through under the same name.
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a/>", "[Template_Execution_Status]");
    EXPECT_EQ(run.drops(), std::vector<std::string>{"wpdcmatztempexecst_N_33_1207202610153030.xml"});
}

TEST(Drop, PartialCopyNeverCarriesTheFinalName) {
    ReportRun run;
    FlakyFileSystem flaky(run.fs);
    run.ctx->objFSO = &flaky;
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a/>", "[Template_Execution_Status]");
    ASSERT_EQ(flaky.moves.size(), 1u);
    const std::string move = flaky.moves[0];
    const std::string partial = move.substr(0, move.find(" > "));
    EXPECT_EQ(partial.rfind("C:\\Agent\\HVRPostLogs\\", 0), 0u);  // same folder: the rename is atomic
    EXPECT_FALSE(endsWith(lowerAscii(partial), ".xml"));
    EXPECT_EQ(move.substr(move.find(" > ") + 3), "C:\\Agent\\HVRPostLogs\\wpdcmatztempexecst_N_33_1207202610153030.xml");
}

// Someone else took the name between the check and the rename: the waiting
// record stays, the new one moves on to the next second.
TEST(Drop, NameTakenAtTheLastMomentIsNotReplaced) {
    ReportRun run;
    const std::string taken = "wpdcmatztempexecst_N_33_1207202610153030.xml";
    run.sandbox.writeFile("C:\\Agent\\HVRPostLogs\\" + taken, "<waiting/>\r\n");
    FlakyFileSystem flaky(run.fs);
    run.ctx->objFSO = &flaky;
    flaky.hideTargets = 1;
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<new/>", "[Template_Execution_Status]");
    EXPECT_EQ(run.drop(taken), "<waiting/>\r\n");
    EXPECT_EQ(run.drop("wpdcmatztempexecst_N_33_1207202610153131.xml"), "<new/>\r\n");
    EXPECT_EQ(run.drops().size(), 2u);
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
}

TEST(PlaceIntoPostLogs, NeverReplacesAWaitingDrop) {
    ReportRun run;
    run.sandbox.writeFile("C:\\Agent\\AutomiseLogs\\vars.xml", "<new/>");
    run.sandbox.writeFile("C:\\Agent\\HVRPostLogs\\vars.xml", "<old/>");
    try {
        placeIntoPostLogs(*run.ctx, "C:\\Agent\\AutomiseLogs\\vars.xml", "vars.xml");
        ADD_FAILURE() << "an existing drop was replaced";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, err::FileExists);
    }
    EXPECT_EQ(run.drops(), std::vector<std::string>{"vars.xml"});  // no temporary copy left either
    EXPECT_EQ(run.drop("vars.xml"), "<old/>");
    EXPECT_TRUE(run.sandbox.exists("C:\\Agent\\AutomiseLogs\\vars.xml"));  // a copy: the source stays
}

}  // namespace
