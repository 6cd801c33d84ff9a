// The plain-text export parser and the failure counters it shares with the
// other export parsers.
#include <gtest/gtest.h>

#include "scriptlog/text_export.h"
#include "scriptlog_fixture.h"

namespace {

const char* kExport = "C:\\Agent\\AutomiseLogs\\run.txt";

std::string pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

const std::string kRule = "---------------|--------------------------|" + std::string(81, '-') +
                          "|------------|----------|----------|";

std::string row(const std::string& status, const std::string& action) {
    return pad(status, 15) + "|" + pad("10:00:00", 26) + "|" + pad(action, 81) + "|" + pad("00:00:01", 12) + "|" +
           pad("", 10) + "|" + pad("", 10) + "|";
}

std::vector<std::string> header() {
    return {std::string(72, '*'), "Automise LogFile : C:\\p.atl", "Log Title    : Job", std::string(72, '*'),
            row("Status", "Action")};
}

/// Header, then each (row, detail) pair separated by rules, then the footer.
std::vector<std::string> exportLines(const std::vector<std::pair<std::string, std::string>>& rows) {
    auto lines = header();
    for (const auto& [r, detail] : rows) {
        lines.push_back(kRule);
        lines.push_back(r);
        lines.push_back(kRule);
        if (!detail.empty()) lines.push_back(detail);
    }
    lines.push_back(kRule);
    lines.push_back("Copyright (c) 2026");
    lines.push_back("End Log.");
    return lines;
}

struct TextRun : ParserRun {
    void parse(const std::vector<std::string>& lines) {
        sandbox.writeFile(kExport, crlfLines(lines));
        EXPECT_FALSE(fncEditScriptlog(*ctx, kExport));
    }
};

}  // namespace

TEST(EditScriptlog, CounterBelowAndAboveTheThreshold) {
    TextRun run;
    run.setCounter("Run program", "25");
    run.parse(exportLines({{row("Error", "Copy files"), "Error : Access denied"},
                           {row("Completed", "Zip"), "all fine"},
                           {row("Error", "Run program"), "Error : exit 2"}}));
    // The detail keeps the line end that opens its block.
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:Copy files@#@\r\nError : Access denied#$#ACTION-DESC:Run program");
    EXPECT_EQ(run.counter("Copy files"), "1");
    EXPECT_EQ(run.counter("Run program"), "25");
    EXPECT_EQ(run.counterLines(), (std::vector<std::string>{ParserRun::writtenLine("1", "Copy files")}));
    EXPECT_FALSE(run.loggedPart("Threshold violated"));
}

TEST(EditScriptlog, ThresholdZeroReportsADetailOnce) {
    TextRun run;
    run.ctx->strVTXVariablesTh = "0";
    const auto lines = exportLines({{row("Error", "Copy files"), "  Error : denied  "}});
    run.parse(lines);
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy files@#@\r\n  Error : denied");
    EXPECT_EQ(run.counter("Copy files"), "1");

    run.ctx->script.strActionDescList = "   ";
    run.parse(lines);
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy files");
    EXPECT_EQ(run.counter("Copy files"), "1");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: 'Failure desc' Threshold violated. Current failure threshold is 1"));

    // Only the first entry of a list logs the violation.
    run.lines.clear();
    run.ctx->script.strActionDescList = "ACTION-DESC:before";
    run.parse(lines);
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:before#$#ACTION-DESC:Copy files");
    EXPECT_FALSE(run.loggedPart("Threshold violated"));
}

TEST(EditScriptlog, SameActionTwiceReadsTheRaisedCounter) {
    TextRun run;
    run.ctx->strVTXVariablesTh = "0";
    run.parse(exportLines({{row("Error", "Copy"), "first"}, {row("Error", "COPY"), "second"}}));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy@#@\r\nfirst#$#ACTION-DESC:COPY");
    EXPECT_EQ(run.counter("copy"), "1");
}

TEST(EditScriptlog, HeaderBlockIsNeverAnAction) {
    const std::string fakeRow = row("Error", "Looks like a row");
    {
        TextRun run;
        // Read as a row, this block would be a failing action: its status
        // piece comes first and the header lines sit after the last "|".
        std::vector<std::string> lines = {fakeRow, std::string(72, '*'), "automise logfile : x", "LOG TITLE    : y",
                                          kRule, "detail text", kRule, "Copyright"};
        run.parse(lines);
        EXPECT_EQ(run.ctx->script.strActionDescList, "");
    }
    {
        // The same block without one of the header labels is a row.
        TextRun run;
        std::vector<std::string> lines = {fakeRow, std::string(72, '*'), "automise logfile : x", kRule,
                                          "detail text", kRule, "Copyright"};
        run.parse(lines);
        EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Looks like a row@#@\r\ndetail text");
    }
}

TEST(EditScriptlog, RowsWithoutADetailBlockAreSkipped) {
    TextRun run;
    auto lines = header();
    for (const auto& l : {kRule, row("Error", "No detail, next is a row"), kRule, row("Error", "Taken"), kRule,
                          std::string("its detail"), kRule, row("Error", "Before the footer"), kRule,
                          std::string("Copyright 2026"), kRule, row("Error", "Too many|pipes"), kRule,
                          std::string("x"), kRule, row("Error", "In the last block")}) {
        lines.push_back(l);
    }
    run.parse(lines);
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Taken@#@\r\nits detail");
}

TEST(EditScriptlog, EmptyDetailAddsTheEntryOnly) {
    TextRun run;
    run.parse(exportLines({{row("Error", "Quiet"), ""}, {row("Error ", "Loud"), "reason"}}));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Quiet#$#ACTION-DESC:Loud@#@\r\nreason");
    EXPECT_EQ(run.counter("Quiet"), "");
    EXPECT_EQ(run.counter("Loud"), "1");
}

TEST(EditScriptlog, MissingFileIsLogged) {
    TextRun run;
    EXPECT_FALSE(fncEditScriptlog(*run.ctx, kExport));
    EXPECT_EQ(run.messages(), (std::vector<std::string>{"ERR : fncEditScriptlog 53 File not found"}));
}

TEST(FailureCounters, ThousandsOfFailuresReadAndWriteTheFileOnce) {
    TextRun run;
    std::vector<std::pair<std::string, std::string>> rows;
    std::string expectedList;
    std::vector<std::string> expectedLines;
    for (int i = 0; i < 1500; ++i) {
        const std::string name = "Action " + std::to_string(i % 1000);
        rows.emplace_back(row("Error", name), "reason " + std::to_string(i));
        expectedList += (i ? "#$#" : "") + std::string("ACTION-DESC:") + name + "@#@\r\nreason " + std::to_string(i);
        expectedLines.push_back(ParserRun::writtenLine(i < 1000 ? "1" : "2", name));
    }
    run.setCounter("Action 3", "1");
    expectedLines[3] = ParserRun::writtenLine("2", "Action 3");
    expectedLines[1003] = ParserRun::writtenLine("3", "Action 3");
    const int writesBefore = run.counting.writes();
    const int readsBefore = run.counting.reads();
    run.parse(exportLines(rows));
    // One read of the section, one replacement of the file.
    EXPECT_EQ(run.counting.writes() - writesBefore, 1);
    EXPECT_EQ(run.counting.sectionReads(), 1);
    EXPECT_EQ(run.counting.reads() - readsBefore, 0);
    EXPECT_EQ(run.ctx->script.strActionDescList, expectedList);
    EXPECT_EQ(run.counterLines(), expectedLines);
    EXPECT_EQ(run.counter("Action 499"), "2");
    EXPECT_EQ(run.counter("Action 999"), "1");
    EXPECT_EQ(run.counter("Action 3"), "3");
}

TEST(FailureCounters, FailedWriteLogsNothing) {
    TextRun run;
    run.sandbox.writeFile(ParserRun::kIni, "[Threshold]\r\n");
    run.counting.failCall("WriteString", CallFault().always());
    run.counting.failCall("WriteStrings", CallFault().always());
    run.parse(exportLines({{row("Error", "Copy"), "denied"}}));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy@#@\r\ndenied");
    EXPECT_TRUE(run.counterLines().empty());
    EXPECT_EQ(run.counter("Copy"), "");
}
