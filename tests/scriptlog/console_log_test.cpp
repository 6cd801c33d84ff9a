// The console-log parser on its own (the dispatch runs it for logs without export).
#include <gtest/gtest.h>

#include "base/errors.h"
#include "scriptlog/console_log.h"
#include "scriptlog_fixture.h"

namespace {

const char* kLog = "C:\\Agent\\ATCMDLogs\\console.log";

struct ConsoleRun : ParserRun {
    void parse(const std::vector<std::string>& lines) {
        sandbox.writeFile(kLog, crlfLines(lines));
        fncParseCMDLog(*ctx, kLog);
    }
};

}  // namespace

TEST(ParseCMDLog, ActionStatusFollowsItsLastMessageLine) {
    {
        ConsoleRun run;
        run.parse({"Project File: C:\\p.atp", "Build Started: now", "[Copy]", "Error : Access denied", "Build Failed"});
        EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy@#@Error : Access denied");
        // An end line was seen and the line before the last has no exit text.
        EXPECT_EQ(run.ctx->script.strScriptStatus, "");
        EXPECT_EQ(run.ctx->script.strExitLine, "");
    }
    {
        ConsoleRun run;
        run.parse({"[Copy]", "Error : Access denied", "retrying worked", "Build Completed"});
        EXPECT_EQ(run.ctx->script.strActionDescList, "");
    }
    {
        // Only "Error :" as written, at the start of the trimmed line, marks a failure.
        ConsoleRun run;
        run.parse({"[A]", "   Error : indented", "[B]", "error : lower case", "[C]", "Error: no blank",
                   "Run Completed"});
        EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@Error : indented");
    }
}

TEST(ParseCMDLog, MessagesAreTrimmedJoinedAndSuccessIsSticky) {
    ConsoleRun run;
    run.parse({"Elapsed time: 1s", "  [ Step one ]  ", "  first  ", "", "   ", "Error : second", "[Other]", "Success",
               "more", "Error : final", "Build Failed"});
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC: Step one @#@first\r\nError : second#$#ACTION-DESC:Other@#@Success");
}

TEST(ParseCMDLog, ApostrophesAreDoubled) {
    ConsoleRun run;
    run.ctx->script.strActionDescList = "ACTION-DESC:Earlier";
    run.parse({"[Bob's task]", "Error : can't open 'x'", "Build Failed"});
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:Earlier#$#ACTION-DESC:Bob''s task@#@Error : can''t open ''x''");
}

TEST(ParseCMDLog, LinesBeforeTheFirstActionAreNoMessages) {
    ConsoleRun run;
    run.parse({"Error : too early", "[A]", "Build Completed"});
    EXPECT_EQ(run.ctx->script.strActionDescList, "");
    EXPECT_EQ(run.ctx->script.strScriptStatus, "");
}

TEST(ParseCMDLog, WithoutEndTheSecondLastLineIsTheExitLine) {
    ConsoleRun run;
    run.parse({"Done", "Exit with code 3"});
    EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
    EXPECT_EQ(run.ctx->script.strExitLine, "Done");
}

TEST(ParseCMDLog, ExitWithOnTheSecondLastLineAfterAnEnd) {
    {
        ConsoleRun run;
        run.parse({"[A]", "Build Completed", "  EXIT WITH return code: 2 ", "tail"});
        EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
        EXPECT_EQ(run.ctx->script.strExitLine, "  EXIT WITH return code: 2 ");
    }
    {
        // An exit line already set by the dispatch is kept.
        ConsoleRun run;
        run.ctx->script.strExitLine = "Exit with return code: 1";
        run.ctx->script.strScriptStatus = "FAILED";
        run.parse({"[A]", "Build Completed", "Exit with return code: 9", "tail"});
        EXPECT_EQ(run.ctx->script.strExitLine, "Exit with return code: 1");
    }
    {
        // A list that already holds failures keeps the exit line empty.
        ConsoleRun run;
        run.ctx->script.strActionDescList = "ACTION-DESC:X";
        run.parse({"[A]", "Build Completed", "Exit with return code: 9", "tail"});
        EXPECT_EQ(run.ctx->script.strExitLine, "");
        EXPECT_EQ(run.ctx->script.strScriptStatus, "");
    }
}

TEST(ParseCMDLog, EndMarkersAreCaseSensitivePrefixes) {
    ConsoleRun run;
    // "build failed" is no end line and there is no action: the log never ended.
    run.parse({"build failed", "x", "last"});
    EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
    EXPECT_EQ(run.ctx->script.strExitLine, "x");
}

TEST(ParseCMDLog, MissingSecondLastLineRaisesSubscriptOutOfRange) {
    const std::vector<std::vector<std::string>> logs = {
        {},                   // empty: no end seen
        {"Build Completed"},  // end seen, but exit line and list empty
        {"just one line"},
    };
    for (const auto& lines : logs) {
        ConsoleRun run;
        try {
            run.parse(lines);
            ADD_FAILURE() << "no error for " << lines.size() << " line(s)";
        } catch (const RunError& e) {
            EXPECT_EQ(e.number, 9);
            EXPECT_EQ(e.description, "Subscript out of range");
        }
    }
    // With the exit line already set, one line is enough.
    ConsoleRun run;
    run.ctx->script.strExitLine = "Exit with return code: 1";
    EXPECT_NO_THROW(run.parse({"Build Completed"}));
}
