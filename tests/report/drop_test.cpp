// The drop folder: names, content, never a half-written or replaced record.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/errors.h"
#include "report/drop_folder.h"
#include "report_fixture.h"
#include "raised.h"
#include "base/text.h"

namespace {

// The real file system, noting every placing of a file; the tests make
// calls fail or lie through its switch.
class FlakyFileSystem : public ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;
    std::vector<std::string> moves;

    void PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) override {
        moves.push_back(partial + " > " + target);
        ForwardingFileSystem::PlaceNewFile(partial, target, text);
    }
};

TEST(Drop, NameCarriesTheSecondsTwiceAndTheFileMovesOver) {
    ReportRun run;
    run.clock.time = {2026, 3, 9, 8, 4, 7};
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a>1</a>", "[Template_Execution_Status]");
    const std::string name = "wpdcmatztempexecst_N_33_03092026080407" "7.xml";
    EXPECT_EQ(run.drops(), std::vector<std::string>{name});
    EXPECT_EQ(run.drop(name), "<a>1</a>\r\n");
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
    // The partial file carries this process's id, so no other run shares it,
    // and lies in the drop folder itself: the script's folder is never used.
    const std::string partial = "C:\\Agent\\HVRPostLogs\\" + run.staging(name);
    EXPECT_EQ(run.messages(),
              (std::vector<std::string>{
                  "MSG : Preprocessing: Copying " + partial + " to C:\\Agent\\HVRPostLogs\\" + name,
                  "MSG : Preprocessing: Deleting [Template_Execution_Status] File " + partial}));

    run.clock.time = {2026, 11, 30, 23, 59, 45};
    subDropRecord(*run.ctx, "wpdcmatztempexecfail", "<b/>", "[Template_Execution_Failure]");
    EXPECT_EQ(run.drop("wpdcmatztempexecfail_N_33_11302026235945" "45.xml"), "<b/>\r\n");
}

// A link left under the partial name (record, stamp, process id) is removed
// as a link: the record is still dropped, and the link's target is never
// written.
TEST(Drop, ALinkLeftUnderThePartialNameIsNotWrittenThrough) {
    if (!onPosixBackend()) GTEST_SKIP() << "symbolic links are made with the posix machine's own calls";
    ReportRun run;
    const std::string name = "wpdcmatztempexecst_N_33_1207202610153030.xml";
    run.sandbox.writeFile("C:\\Elsewhere\\victim.txt", "keep me");
    std::filesystem::create_symlink(run.sandbox.hostPath("C:\\Elsewhere\\victim.txt"),
                                    run.sandbox.hostPath("C:\\Agent\\HVRPostLogs\\" + run.staging(name)));
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a>1</a>", "[Template_Execution_Status]");
    EXPECT_EQ(run.sandbox.readFile("C:\\Elsewhere\\victim.txt"), "keep me");
    EXPECT_EQ(run.drops(), std::vector<std::string>{name});
    EXPECT_EQ(run.drop(name), "<a>1</a>\r\n");
}

// Names that would lead the placing out of the drop folder are refused before
// anything is made, and on posix a drop folder that is a link is not entered.
TEST(Drop, APlacingStaysInTheDropFolderItself) {
    ReportRun run;
    run.sandbox.makeFolder("C:\\Agent\\Configuration\\q");
    for (const std::string name : {"../Configuration/v.xml", "q/..", "..", "NUL"}) {
        EXPECT_EQ(errorOf([&] { placeIntoPostLogs(*run.ctx, name, "<v/>"); }), err::BadFileName) << name;
    }
    EXPECT_TRUE(run.logged("ERR : Preprocessing: q/.. could not be dropped into C:\\Agent\\HVRPostLogs :: 52 Bad file "
                           "name or number; the record is lost"));
    EXPECT_EQ(run.filesIn("Configuration"), std::vector<std::string>{"q"});
    if (!onPosixBackend()) return;  // a link is made with the posix machine's own calls
    const std::string drops = run.sandbox.hostPath("C:\\Agent\\HVRPostLogs");
    std::filesystem::remove(drops);
    std::filesystem::create_directory_symlink(run.sandbox.hostPath("C:\\Agent\\Configuration\\q"), drops);
    EXPECT_EQ(errorOf([&] { placeIntoPostLogs(*run.ctx, "v.xml", "<v/>"); }), err::PathAccess);
    EXPECT_TRUE(std::filesystem::is_empty(run.sandbox.hostPath("C:\\Agent\\Configuration\\q")));
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

// A drop that fails says which record is lost, and why.
TEST(Drop, FailedPlacingIsRaisedAndNamesTheLostRecord) {
    ReportRun run;
    FlakyFileSystem flaky(run.fs);
    run.ctx->objFSO = &flaky;
    flaky.failCall("PlaceNewFile");
    try {
        subDropRecord(*run.ctx, "wpdcmatztempexecst", "<a/>", "[Template_Execution_Status]");
        ADD_FAILURE() << "the failed placing was not raised";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, err::PermissionDenied);
    }
    ASSERT_EQ(flaky.moves.size(), 1u);
    EXPECT_TRUE(run.drops().empty());
    EXPECT_EQ(run.messages(), std::vector<std::string>{"ERR : Preprocessing: wpdcmatztempexecst_N_33_1207202610153030.xml "
                                                       "could not be dropped into C:\\Agent\\HVRPostLogs :: 70 "
                                                       "Permission denied; the record is lost"});

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
    // The name looks free when asked, once.
    flaky.failCall("FileExists", CallFault().onPath("HVRPostLogs"));
    subDropRecord(*run.ctx, "wpdcmatztempexecst", "<new/>", "[Template_Execution_Status]");
    EXPECT_EQ(run.drop(taken), "<waiting/>\r\n");
    EXPECT_EQ(run.drop("wpdcmatztempexecst_N_33_1207202610153131.xml"), "<new/>\r\n");
    EXPECT_EQ(run.drops().size(), 2u);
    EXPECT_TRUE(run.filesIn("AutomiseLogs").empty());
}

// Whichever one file-system call of a drop fails, the drop folder never
// holds part of a record: no "*.xml" that is not whole, no partial copy left
// beside them; and the next drop goes through.
TEST(Drop, NoFailedCallLeavesPartOfARecordInTheDropFolder) {
    const std::string record = "<a>" + std::string(300000, 'x') + "</a>";
    const auto drop = [&](RunContext& ctx, const std::string& xml) {
        return errorOf([&] { subDropRecord(ctx, "wpdcmatztempexecst", xml, "[Template_Execution_Status]"); });
    };
    std::map<std::string, int, std::less<>> made;
    {
        ReportRun run;
        ForwardingFileSystem counting(run.fs);
        run.ctx->objFSO = &counting;
        ASSERT_EQ(drop(*run.ctx, record), 0);
        made = counting.callCounts();
    }
    int raised = 0;
    for (const auto& [call, times] : made) {
        if (call == "AtEndOfStream") continue;  // cannot fail
        for (int n = 1; n <= times; ++n) {
            SCOPED_TRACE(call + " #" + std::to_string(n));
            ReportRun run;
            ForwardingFileSystem flaky(run.fs);
            flaky.failCall(call, CallFault().nth(n));
            run.ctx->objFSO = &flaky;
            if (drop(*run.ctx, record) != 0) {
                ++raised;
                EXPECT_TRUE(run.loggedPart("ERR : Preprocessing: wpdcmatztempexecst_N_33_")) << "a silent loss";
            }
            for (const auto& name : run.drops()) {
                EXPECT_TRUE(endsWith(name, ".xml")) << name;
                EXPECT_EQ(run.drop(name), record + "\r\n") << name;
            }
            const std::size_t before = run.drops().size();
            run.ctx->objFSO = &run.fs;
            ASSERT_EQ(drop(*run.ctx, "<b/>"), 0);
            const auto after = run.drops();
            ASSERT_EQ(after.size(), before + 1);
            EXPECT_EQ(std::count_if(after.begin(), after.end(), [&](const std::string& name) {
                          return run.drop(name) == "<b/>\r\n";
                      }), 1);
        }
    }
    // The placing was among the calls failed, and its failure reached the caller.
    EXPECT_EQ(made.count("PlaceNewFile"), 1u);
    EXPECT_GE(raised, 1);
}

TEST(PlaceIntoPostLogs, NeverReplacesAWaitingDrop) {
    ReportRun run;
    run.sandbox.writeFile("C:\\Agent\\HVRPostLogs\\vars.xml", "<old/>");
    try {
        placeIntoPostLogs(*run.ctx, "vars.xml", "<new/>");
        ADD_FAILURE() << "an existing drop was replaced";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, err::FileExists);
    }
    EXPECT_EQ(run.drops(), std::vector<std::string>{"vars.xml"});  // no temporary copy left either
    EXPECT_EQ(run.drop("vars.xml"), "<old/>");
    EXPECT_TRUE(run.messages().empty());  // a taken name is the caller's to retry, not a loss
}

}  // namespace
