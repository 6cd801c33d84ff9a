// The XML export parser: declaration check, line rules, failure pass.
#include <gtest/gtest.h>

#include "context/run_context.h"
#include "scriptlog/xml_export.h"
#include "scriptlog_fixture.h"

namespace {

const char* kExport = "C:\\Agent\\AutomiseLogs\\run.xml";
const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string action(const std::string& name, const std::string& status, const std::string& start = "20261207143022") {
    return "<ACTION actionname=\"Run program\" name=\"" + name + "\" starttime=\"" + start +
           "\" endtime=\"20261207143025\" runtime=\"00000000000003\" status=\"" + status + "\">";
}

struct XmlRun : ParserRun {
    void parseBytes(const std::string& bytes) {
        sandbox.writeFile(kExport, bytes);
        fncParseExportLogXML(*ctx, kExport);
    }
    void parse(const std::vector<std::string>& lines) { parseBytes(crlfLines(lines)); }
    /// An export of the given actions, each with a one-line message when it has text.
    void parseActions(const std::vector<std::pair<std::string, std::string>>& actions, const std::string& status) {
        std::vector<std::string> lines = {kDeclaration, "<FB6LOG filename=\"C:\\p.atl\" projectname=\"P\">"};
        for (const auto& [name, message] : actions) {
            lines.push_back(action(name, status));
            if (!message.empty()) {
                lines.push_back("<MESSAGE><![CDATA[" + message);
                lines.push_back("]]></MESSAGE>");
            }
            lines.push_back("</ACTION>");
        }
        lines.push_back("</FB6LOG>");
        parse(lines);
    }
};

}  // namespace

TEST(ParseExportLogXML, ZeroLengthFile) {
    XmlRun run;
    run.ctx->script.strActionDescList = "ACTION-DESC:kept";
    run.parseBytes("");
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:kept");
}

TEST(ParseExportLogXML, DeclarationCheck) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const std::string body = action("A", "Error") + "\r\n<MESSAGE><![CDATA[boom]]></MESSAGE>\r\n";
    const Case cases[] = {
        {"\r\n\r\n\r\n", false},
        {"\r\n   <?xml version=\"1.0\"?>\r\n" + body, true},
        {"\t<?xml version=\"1.0\"?>\r\n" + body, false},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n" + body, false},
        {"<?xml version=\"1.0\"?>" + action("A", "Error") + "\r\n", true},
        {"   \r\n<?xml version=\"1.0\"?>\r\n" + body, false},  // a line of blanks is not empty
        {"<?XML VERSION='1.0'?>\r\n" + body, true},
    };
    for (const auto& c : cases) {
        XmlRun run;
        run.parseBytes(c.bytes);
        if (c.valid) {
            EXPECT_FALSE(run.logged("ERR : Invalid XML File")) << c.bytes;
        } else {
            EXPECT_EQ(run.messages(), std::vector<std::string>{"ERR : Invalid XML File"}) << c.bytes;
            EXPECT_EQ(run.ctx->script.strActionDescList, "") << c.bytes;
        }
    }
}

TEST(ParseExportLogXML, OnlyTheWordErrorFails) {
    XmlRun run;
    run.parse({kDeclaration, action("A", " ERROR "), action("B", "error"), action("C", "Failed"),
               action("D", "errors"), action("E", "\tError"), "<ACTIONLIST name=\"L\" status=\"Error\">",
               action("F", "Error")});
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A#$#ACTION-DESC:B#$#ACTION-DESC:F");
}

TEST(ParseExportLogXML, ThreeFailuresThreshold24) {
    XmlRun run;
    run.parseActions({{"A", "text A"}, {"B", "text B"}, {"C", "text C"}}, "Error");
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:A@#@text A#$#ACTION-DESC:B@#@text B#$#ACTION-DESC:C@#@text C");
    for (const char* key : {"A", "B", "C"}) EXPECT_EQ(run.counter(key), "1") << key;
    EXPECT_EQ(run.counterLines(),
              (std::vector<std::string>{ParserRun::writtenLine("1", "A"), ParserRun::writtenLine("1", "B"),
                                        ParserRun::writtenLine("1", "C")}));

    XmlRun joined;
    joined.ctx->script.strActionDescList = "ACTION-DESC:earlier";
    joined.parseActions({{"A", "text A"}}, "Error");
    EXPECT_EQ(joined.ctx->script.strActionDescList, "ACTION-DESC:earlier#$#ACTION-DESC:A@#@text A");
}

TEST(ParseExportLogXML, ThresholdZeroAndCountersAboveIt) {
    XmlRun run;
    run.ctx->strVTXVariablesTh = "0";
    run.parseActions({{"A", "first"}, {"A", "second"}, {"Quiet", ""}}, "Error");
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A@#@first#$#ACTION-DESC:A#$#ACTION-DESC:Quiet");
    EXPECT_EQ(run.counter("A"), "1");
    EXPECT_EQ(run.counter("Quiet"), "");

    run.ctx->script.strActionDescList.clear();
    run.parseActions({{"A", "third"}}, "Error");
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:A");
    EXPECT_EQ(run.counter("A"), "1");
    EXPECT_FALSE(run.loggedPart("Threshold violated"));
}

TEST(ParseExportLogXML, MessageLines) {
    XmlRun run;
    run.parse({kDeclaration, "<MESSAGE><![CDATA[before any row]]></MESSAGE>", "stray line", action("One", "Error"),
               "<MESSAGE><![CDATA[first line", "second line", "third line]]></MESSAGE>", "</ACTION>",
               action("Two", "Error"), "  <MESSAGE><![CDATA[all on one]]></MESSAGE>", action("Three", "Error"),
               "<MESSAGE><![CDATA[a", "", "  ", "</MESSAGE>", "b ]]></MESSAGE>  ",
               action("Four", "Error"), "<message><![cdata[replaced]]></message>", "<MESSAGE><![CDATA[kept"});
    // Two's message is cut at the 19th character of the raw line, leading blanks included.
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:One@#@first line\r\nsecond line#$#ACTION-DESC:Two@#@A[all on one]]></MESSAGE>"
              "#$#ACTION-DESC:Three@#@a\r\n\r\n  \r\n</MESSAGE>#$#ACTION-DESC:Four@#@kept");
}

TEST(ParseExportLogXML, ItemNamesAreTakenAsTheyStand) {
    XmlRun run;
    run.parse({kDeclaration, action("Early", "Error"), "<FB6LOG filename=\"C:\\Logs\\a &amp; b.atl\">",
               "<ACTIONLIST name=\"List\" starttime=\"x\">", action("Fine", "Completed"),
               "<ACTION actionname=\"Copy &quot;x&quot;\" name=\"Copy &amp; Co\" starttime=\"\" status=\"Error\">",
               "<ACTION name=\"Cut\" status=\"Error\" starttime=\"20261207\" endtime=\"2026120714302\" runtime=\"77",
               "<ACTION status=\"Error\" name=\"NoTimes\">"});
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:Early#$#ACTION-DESC:Copy &amp; Co#$#ACTION-DESC:Cut#$#ACTION-DESC:NoTimes");
}
