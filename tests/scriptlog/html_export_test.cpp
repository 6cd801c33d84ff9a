// The HTML export parser: tables cut by text search, action and output rows.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/text.h"
#include "scriptlog/html_export.h"
#include "scriptlog_fixture.h"

namespace {

const char* kExport = "C:\\Agent\\AutomiseLogs\\run.html";

std::string actionRow(const std::string& status, const std::string& action, const std::string& cls = "ErrorRow") {
    return "<tr class=\"" + cls + "\">\r\n<td>" + status + "</td><td>10:00:00</td><td>" + action +
           "</td><td>00:01</td><td>x</td><td>y</td>\r\n</tr>";
}

std::string outputRow(const std::string& text) {
    return "<tr class=\"ActionOutput\"><td colspan=\"6\"><div><span><pre>" + text + "</pre></span></div></td></tr>";
}

std::string page(const std::string& rows) {
    return "<html><head><title>Log</title></head><BODY>\r\n<table><tr><td>Header</td></tr></TABLE>\r\n<table>" +
           rows + "</table>\r\n</body></html>";
}

struct HtmlRun : ParserRun {
    void parse(const std::string& bytes) {
        sandbox.writeFile(kExport, bytes);
        fncParseExportLogHTML(*ctx, kExport);
    }
};

}  // namespace

TEST(ParseExportLogHTML, PagesThatAreLeftAlone) {
    const std::string rows = actionRow("Error", "A") + outputRow("boom");
    const std::string pages[] = {
        "",
        "<body><table>" + rows + "</table></body>",
        page(rows) + "<table></table>",
    };
    for (const auto& bytes : pages) {
        HtmlRun run;
        run.parse(bytes);
        EXPECT_TRUE(run.lines.empty()) << bytes;
        EXPECT_EQ(run.ctx->script.strActionDescList, "") << bytes;
    }
    // A table end before the body does not count.
    HtmlRun run;
    run.parse("<head><table></table></head>" + page(rows));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@boom");
}

TEST(ParseExportLogHTML, TwoFailuresThreshold24) {
    HtmlRun run;
    run.parse(page(actionRow("Error", "A") + outputRow("out A") + actionRow("Completed", "Skip", "NormalRow") +
                   outputRow("ignored") + actionRow(" error ", "B", "normalrow") + outputRow("  out B\r\n  more ")));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@out A#$#ACTION-DESC:B@#@out B\r\n  more");
    EXPECT_EQ(run.counter("A"), "1");
    EXPECT_EQ(run.counter("B"), "1");
    EXPECT_EQ(run.counter("Skip"), "");
    EXPECT_EQ(run.counterLines(),
              (std::vector<std::string>{ParserRun::writtenLine("1", "A"), ParserRun::writtenLine("1", "B")}));
}

TEST(ParseExportLogHTML, DoubleQuoteInTheActionCell) {
    HtmlRun run;
    run.parse(page(actionRow("Error", "Copy \"a\"") + outputRow("denied")));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy 'a'@#@denied");
    EXPECT_EQ(run.counter("Copy 'a'"), "1");
}

TEST(ParseExportLogHTML, RowsWithoutSixCellsNeverFail) {
    HtmlRun run;
    const std::string fiveCells =
        "<tr class=\"ErrorRow\"><td>Error</td><td>1</td><td>Five</td><td>3</td><td>4</td></tr>";
    const std::string emptyCell =
        "<tr class=\"ErrorRow\"><td>Error</td><td></td><td>Gap</td><td>3</td><td>4</td><td>5</td></tr>";
    const std::string noClass = "<tr><td>Error</td><td>1</td><td>Plain</td><td>3</td><td>4</td><td>5</td></tr>";
    run.parse(page(fiveCells + outputRow("a") + emptyCell + outputRow("b") + noClass + outputRow("c")));
    EXPECT_EQ(run.ctx->script.strActionDescList, "");
}

TEST(ParseExportLogHTML, OutputTextDecodesTagsOnly) {
    HtmlRun run;
    run.ctx->script.strActionDescList = "ACTION-DESC:earlier";
    run.parse(page(actionRow("Error", "A") + outputRow("  &lt;b&gt;bold&lt;/b&gt; &amp; more  ") +
                   actionRow("Error", "Silent") + actionRow("Error", "Blank") + outputRow("   ")));
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:earlier#$#ACTION-DESC:A@#@<b>bold</b> &amp; more#$#ACTION-DESC:Silent#$#ACTION-DESC:Blank");
    EXPECT_EQ(run.counter("Silent"), "");
    EXPECT_EQ(run.counter("Blank"), "");
}

TEST(ParseExportLogHTML, ThresholdAndCounters) {
    HtmlRun run;
    run.ctx->strVTXVariablesTh = "2";
    run.setCounter("A", "3");
    run.setCounter("B", "2");
    run.parse(page(actionRow("Error", "A") + outputRow("a") + actionRow("Error", "B") + outputRow("b") +
                   actionRow("Error", "b") + outputRow("b again")));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A#$#ACTION-DESC:B@#@b#$#ACTION-DESC:b");
    EXPECT_EQ(run.counter("A"), "3");
    EXPECT_EQ(run.counter("B"), "3");
}

TEST(ParseExportLogHTML, OutputRowFirstEndsTheParse) {
    HtmlRun run;
    run.parse(page(outputRow("orphan") + actionRow("Error", "A") + outputRow("a")));
    EXPECT_EQ(run.messages(), std::vector<std::string>{"ERR : fncParseExportLogHTML. 9 Subscript out of range"});
    EXPECT_EQ(run.ctx->script.strActionDescList, "");
}

TEST(ParseExportLogHTML, MissingFileEndsTheParse) {
    HtmlRun run;
    fncParseExportLogHTML(*run.ctx, kExport);
    EXPECT_EQ(run.messages(), std::vector<std::string>{"ERR : fncParseExportLogHTML. 53 File not found"});
}

TEST(ParseExportLogHTML, SixteenBitRowLimit) {
    // Each "</tr>" ends a row and the text after the last one is a row too; the failing row comes first.
    auto rowsOf = [](std::size_t count) {
        std::string rows = actionRow("Error", "A") + outputRow("a");
        for (std::size_t i = 3; i < count; ++i) rows += "</tr>";
        return rows;
    };
    {
        HtmlRun run;
        run.parse(page(rowsOf(32767)));
        EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@a");
        EXPECT_EQ(run.counterLines().size(), 1u);
    }
    {
        HtmlRun run;
        run.parse(page(rowsOf(32768)));
        EXPECT_EQ(run.messages(), std::vector<std::string>{"ERR : fncParseExportLogHTML. 6 Overflow"});
        EXPECT_EQ(run.ctx->script.strActionDescList, "");
    }
}

// The page is read in blocks: a marker cut in two by a block's end is still
// found, wherever the page lies in the file, and a row without end is kept to
// its bound without stopping the rows after it.
TEST(ParseExportLogHTML, MarkersAcrossReadBlocksAndEndlessRows) {
    std::string rows;
    for (int i = 0; i < 3000; ++i) rows += actionRow("Completed", "N", "NormalRow");
    rows += actionRow("Error", "A") + outputRow("a &lt;1&gt;");
    for (std::size_t shift = 0; shift < 48; ++shift) {
        HtmlRun run;
        run.parse(std::string(65530 - shift, ' ') + page(rows));
        EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@a <1>") << shift;
        EXPECT_TRUE(run.messages().size() == 1u) << shift;  // the counter's line only
    }
    HtmlRun run;
    run.parse(page(actionRow("Error", "A") + outputRow(std::string(3 * kMaxLineBytes, 'o')) + actionRow("Error", "B") +
                   outputRow("b")));
    EXPECT_TRUE(startsWith(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@ooo"));
    EXPECT_TRUE(endsWith(run.ctx->script.strActionDescList, kCutMarker));
    // A row cut before its sixth cell has no six cells.
    HtmlRun second;
    second.parse(page(actionRow("Error", std::string(3 * kMaxLineBytes, 'n')) + actionRow("Error", "B") +
                      outputRow("b")));
    EXPECT_EQ(second.ctx->script.strActionDescList, "ACTION-DESC:B@#@b");
}

TEST(ParseHTMLActionRow, CellsSplitInAnyCase) {
    HtmlRun run;
    HTMLActionTable table(3);
    subParseHTMLActionRow(*run.ctx, table,
                          "<tr class='NormalRow'>\r\n<td> Completed </td>\r\n<TD>b</TD><td>c</td><td>d</td>"
                          "<td>e</td><td>f</td><td>g</td>",
                          0);
    EXPECT_EQ(table[0][0], "Completed");
    // Cells split at "</td>" in any case, but only "<td>" as written is removed.
    EXPECT_EQ(table[0][1], "<TD>b");
    EXPECT_EQ(table[0][5], "f");
    try {
        subParseHTMLActionRow(*run.ctx, table, "<tr class='ActionOutput'>", 0);
        ADD_FAILURE() << "an output row at index 0 must fail";
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, 9);
    }
}
