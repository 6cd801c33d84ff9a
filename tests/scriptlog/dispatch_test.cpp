// The dispatch: what it reads from the console log, which parser it runs,
// and what it deletes.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "platform/buffered_stream.h"
#include "scriptlog/dispatch.h"
#include "scriptlog_fixture.h"

namespace {

const char* kLog = "C:\\Agent\\AutomiseLogs\\console.log";

const char* kXmlExport =
    "<?xml version=\"1.0\"?>\r\n"
    "<FB6LOG filename=\"p.atp\">\r\n"
    "<ACTION actionname=\"Copy\" name=\"Copy files\" status=\"Error\">\r\n"
    "<MESSAGE><![CDATA[Access denied\r\n"
    "]]></MESSAGE>\r\n"
    "</ACTION>\r\n"
    "</FB6LOG>\r\n";

struct DispatchRun : ParserRun {
    bool process(const std::vector<std::string>& lines) {
        sandbox.writeFile(kLog, crlfLines(lines));
        return fncProcessScriptLog(*ctx, kLog, variablesFile);
    }
    std::string variablesFile;
    /// Index of the message in the log, or -1.
    long at(const std::string& message) const {
        const auto all = messages();
        const auto it = std::find(all.begin(), all.end(), message);
        return it == all.end() ? -1 : static_cast<long>(it - all.begin());
    }
};

}  // namespace

TEST(ProcessScriptLog, MissingConsoleLog) {
    DispatchRun run;
    EXPECT_FALSE(fncProcessScriptLog(*run.ctx, kLog, run.variablesFile));
    EXPECT_EQ(run.ctx->strFailureDesc, "Postprocessing:Failed to create the script log for Job.atz");
    EXPECT_EQ(run.messages(), (std::vector<std::string>{
                                  std::string("MSG : Preprocessing: Checking for Export Log Action in ") + kLog,
                                  "ERR : Postprocessing:Failed to create the script log for Job.atz"}));
}

TEST(ProcessScriptLog, WithoutExportTheConsoleLogIsParsed) {
    DispatchRun run;
    EXPECT_TRUE(run.process({"[Copy]", "Error : Access denied", "Build Failed"}));
    EXPECT_EQ(run.ctx->script.strScriptStatus, "SUCCESS");
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy@#@Error : Access denied");
    EXPECT_EQ(run.messages(), (std::vector<std::string>{
                                  std::string("MSG : Preprocessing: Checking for Export Log Action in ") + kLog,
                                  "MSG : Preprocessing:Export Action not used!!!!",
                                  "MSG : Preprocessing:Proceeding with the default script log of ATCMD"}));
}

// Without an export the console log is read once, its lines going to the
// console-log parser as the dispatch reads them. What the parser holds from
// one batch of lines to the next (a message longer than a batch, the last
// two lines) comes out whole.
TEST(ProcessScriptLog, WithoutExportTheConsoleLogIsReadOnce) {
    struct CountingOpens : ForwardingFileSystem {
        using ForwardingFileSystem::ForwardingFileSystem;
        int opens = 0;
        std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) override {
            ++opens;
            return ForwardingFileSystem::OpenInside(folder, path);
        }
    };
    DispatchRun run;
    CountingOpens counting(run.fs);
    run.ctx->objFSO = &counting;

    // The failing action's message begins in the file's first read block and
    // ends in the next, several batches of lines later.
    std::vector<std::string> lines = {"Project File: C:\\p.atp"};
    for (std::size_t i = 0; i < kTextReadBlock / 20; ++i) {
        lines.push_back("[Step " + std::to_string(i) + "]");
        lines.push_back("done");
    }
    lines.push_back("[Bob's copy]");
    std::string message;
    for (std::size_t i = 0; i < 3 * kLineBatch; ++i) {
        lines.push_back("  can't copy file " + std::to_string(i) + "  ");
        message += (i ? "\r\n" : "") + std::string("can''t copy file ") + std::to_string(i);
    }
    lines.push_back("Error : it's over");
    message += "\r\nError : it''s over";
    lines.insert(lines.end(), {"[Report]", "Build Failed", "Exit with return code: 2", ""});
    EXPECT_TRUE(run.process(lines));
    EXPECT_EQ(counting.opens, 1);
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Bob''s copy@#@" + message);
    EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
    EXPECT_EQ(run.ctx->script.strExitLine, "Exit with return code: 2");
}

TEST(ProcessScriptLog, XmlExportIsParsedAndDeleted) {
    DispatchRun run;
    const std::string exportPath = "C:\\Agent\\AutomiseLogs\\run1.xml";
    run.sandbox.writeFile(exportPath, kXmlExport);
    EXPECT_TRUE(run.process({"[Export log as XML to file: " + exportPath + "]",
                             "  MSG : ***** Creating VTXVariables XML file C:\\Agent\\AutomiseLogs\\vars.xml  ",
                             "Build Completed", "Exit with return code: 1"}));
    EXPECT_TRUE(run.ctx->blnExportXML);
    EXPECT_EQ(run.variablesFile, "C:\\Agent\\AutomiseLogs\\vars.xml");
    EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
    EXPECT_EQ(run.ctx->script.strExitLine, "Exit with return code: 1");
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy files@#@Access denied");
    EXPECT_FALSE(run.sandbox.exists(exportPath));
    const long exported = run.at("MSG : Preprocessing: Exported Log :: " + exportPath);
    const long parsing = run.at("MSG : Preprocessing: Proceeding with XML Parsing");
    const long deleting = run.at("MSG : Preprocessing: Deleting File :: " + exportPath);
    const long deleted = run.at("MSG : Preprocessing: Successfully deleted :: " + exportPath);
    EXPECT_TRUE(exported >= 0 && exported < parsing && parsing < deleting && deleting < deleted);
}

TEST(ProcessScriptLog, TextExportAndLaterLinesWin) {
    DispatchRun run;
    const std::string first = "C:\\Agent\\AutomiseLogs\\first.txt";
    const std::string second = "C:\\Agent\\AutomiseLogs\\second.txt";
    run.sandbox.writeFile(first, "keep");
    run.sandbox.writeFile(second, "");
    EXPECT_TRUE(run.process({"[Export log as Text to file: " + first + "]",
                             "[export LOG as text TO FILE: " + lowerAscii(second) + "]", "Build Completed", "x"}));
    EXPECT_TRUE(run.ctx->blnExportText);
    EXPECT_FALSE(run.ctx->blnExportXML);
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Proceeding with TEXT Parsing"));
    EXPECT_TRUE(run.sandbox.exists(first));
    EXPECT_FALSE(run.sandbox.exists(second));
}

TEST(ProcessScriptLog, GenericExportLineChoosesByEnding) {
    DispatchRun run;
    const std::string exportPath = "C:\\Agent\\AutomiseLogs\\log.xml";
    run.sandbox.writeFile(exportPath, kXmlExport);
    // The path runs to the line's last character, which is dropped.
    EXPECT_TRUE(run.process({"[Export log" + exportPath + "]", "Build Completed", "x"}));
    EXPECT_TRUE(run.ctx->blnExportHTML);
    EXPECT_TRUE(run.ctx->blnExportXML);
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Exported Log :: " + exportPath));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Proceeding with XML Parsing"));
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy files@#@Access denied");
}

TEST(ProcessScriptLog, MissingExportFallsBackToTheConsoleLog) {
    DispatchRun run;
    const std::string exportPath = "C:\\Agent\\AutomiseLogs\\gone.xml";
    EXPECT_TRUE(
        run.process({"[Export log as XML to file: " + exportPath + "]", "[Copy]", "Error : x", "Build Failed"}));
    EXPECT_TRUE(run.logged("ERR : Preprocessing:Exported Log :: " + exportPath + " not Found!!!"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing:Proceeding with the default script log of ATCMD"));
    EXPECT_FALSE(run.logged("MSG : Preprocessing: Proceeding with XML Parsing"));
    EXPECT_FALSE(run.loggedPart("Deleting File"));
    // The export line itself is an action of the console log.
    EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy@#@Error : x");
}

// A path outside the logs folder's own prefix is no export line at all; one
// that starts there and leaves it is an export the script named: the log
// says so and why it is not read, and the console log stands in for it.
TEST(ProcessScriptLog, PathsThatLeaveTheLogsFolderAreSaidAndNotRead) {
    const std::string ini = ParserRun::kIni;
    const std::string kept = "[Threshold]\r\nVTXVariablesTh=24\r\n";
    const std::vector<std::string> leaving = {
        "C:\\Agent\\AutomiseLogs\\..\\Configuration\\ATZThreshold.ini",
        "C:\\Agent\\AutomiseLogs\\sub\\..\\..\\Configuration\\ATZThreshold.ini",
        "C:\\Agent\\AutomiseLogs\\/..\\\\Configuration\\ATZThreshold.ini",
        "C:\\Agent\\AutomiseLogs\\.. \\Configuration\\ATZThreshold.ini",
        "C:\\Agent\\AutomiseLogs\\",
        "C:\\Agent\\AutomiseLogs\\.",
    };
    for (const std::string kind : {"XML", "Text", "HTML"}) {
        for (const auto& path : leaving) {
            DispatchRun run;
            run.sandbox.writeFile(ini, kept);
            EXPECT_TRUE(run.process({"[Export log as " + kind + " to file: " + path + "]", "[Copy]", "Error : x",
                                     "Build Failed"}))
                << kind << " " << path;
            const std::string shown = trimBlanks(path);
            const long named = run.at("MSG : Preprocessing: Exported Log :: " + shown);
            EXPECT_GE(named, 0) << kind << " " << path;
            EXPECT_EQ(run.at("ERR : Preprocessing:Exported Log :: " + shown +
                             " lies outside C:\\Agent\\AutomiseLogs (through '..' or a link) and is not read"),
                      named + 1);
            EXPECT_EQ(run.at("MSG : Preprocessing:Proceeding with the default script log of ATCMD"), named + 2);
            EXPECT_FALSE(run.loggedPart("Export Action not used"));
            EXPECT_FALSE(run.loggedPart("Deleting File"));
            EXPECT_EQ(run.ctx->script.strActionDescList, "ACTION-DESC:Copy@#@Error : x");
            EXPECT_EQ(run.sandbox.readFile(ini), kept);
        }
    }
    // Not below the logs folder's name at all: the line names no export.
    DispatchRun run;
    run.sandbox.writeFile("C:\\Other\\AutomiseLogs\\x.xml", kXmlExport);
    EXPECT_TRUE(run.process({"[Export log as XML to file: C:\\Other\\AutomiseLogs\\x.xml]", "Build Completed", "x"}));
    EXPECT_TRUE(run.logged("MSG : Preprocessing:Export Action not used!!!!"));
    EXPECT_FALSE(run.ctx->blnExportXML);
    EXPECT_TRUE(run.sandbox.exists("C:\\Other\\AutomiseLogs\\x.xml"));
}

TEST(ProcessScriptLog, PathsThatStayInsideAfterResolvingAreRecognised) {
    DispatchRun run;
    const std::string exportPath = "C:\\Agent\\AutomiseLogs\\sub\\.\\..\\\\run.txt";
    run.sandbox.writeFile("C:\\Agent\\AutomiseLogs\\run.txt", "");
    EXPECT_TRUE(run.process({"[Export log as Text to file: " + exportPath + "]",
                             "MSG : ***** Creating VTXVariables XML file C:\\Agent\\AutomiseLogs\\a\\..\\v.xml",
                             "Build Completed", "x"}));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Proceeding with TEXT Parsing"));
    EXPECT_FALSE(run.sandbox.exists("C:\\Agent\\AutomiseLogs\\run.txt"));
    EXPECT_EQ(run.variablesFile, "C:\\Agent\\AutomiseLogs\\a\\..\\v.xml");
}

TEST(ProcessScriptLog, ExitTextOnTheLastTwoLines) {
    {
        DispatchRun run;
        EXPECT_TRUE(run.process({"Build Failed", "  Exit with return code: 3  ", " "}));
        EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
        EXPECT_EQ(run.ctx->script.strExitLine, "Exit with return code: 3");
    }
    {
        DispatchRun run;
        EXPECT_TRUE(run.process({"Exit with return code: 1", "Build Completed", "done"}));
        EXPECT_EQ(run.ctx->script.strScriptStatus, "SUCCESS");
    }
    {
        DispatchRun run;
        run.ctx->script.strExitLine = "from an earlier job";
        EXPECT_TRUE(run.process({"Build Completed", "EXIT WITH RETURN CODE: 2"}));
        EXPECT_EQ(run.ctx->script.strExitLine, "EXIT WITH RETURN CODE: 2");
    }
}

TEST(ProcessScriptLog, EmptyConsoleLogEndsInTheErrorLine) {
    DispatchRun run;
    run.sandbox.writeFile(kLog, "");
    EXPECT_FALSE(fncProcessScriptLog(*run.ctx, kLog, run.variablesFile));
    EXPECT_EQ(run.ctx->strFailureDesc, std::string("Preprocessing:No contents in :: ") + kLog);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{
                                  std::string("MSG : Preprocessing: Checking for Export Log Action in ") + kLog,
                                  std::string("ERR : No contents in :: ") + kLog,
                                  "MSG : Preprocessing:Export Action not used!!!!",
                                  "MSG : Preprocessing:Proceeding with the default script log of ATCMD",
                                  "ERR : fncEditScriptlog 9 Subscript out of range"}));
}

TEST(ProcessScriptLog, OneLineConsoleLog) {
    {
        DispatchRun run;
        EXPECT_FALSE(run.process({"Build Completed"}));
        EXPECT_TRUE(run.logged("ERR : fncEditScriptlog 9 Subscript out of range"));
        EXPECT_FALSE(run.loggedPart("Export Action not used"));
    }
    {
        // The exit text is taken, but the console-log parser then misses the
        // line before it, and that ends the dispatch all the same.
        DispatchRun run;
        EXPECT_FALSE(run.process({"Exit with return code: 1"}));
        EXPECT_EQ(run.ctx->script.strScriptStatus, "FAILED");
        EXPECT_EQ(run.ctx->script.strExitLine, "Exit with return code: 1");
        EXPECT_TRUE(run.logged("MSG : Preprocessing:Export Action not used!!!!"));
        EXPECT_TRUE(run.logged("ERR : fncEditScriptlog 9 Subscript out of range"));
    }
}

TEST(ProcessScriptLog, EachJobIsJudgedByItsOwnExportAndAnUnstorableActionCostsOnlyItself) {
    DispatchRun run;
    // Job 1 exports XML; its flag stays set for the rest of the run.
    const std::string xmlExport = "C:\\Agent\\AutomiseLogs\\job1.xml";
    run.sandbox.writeFile(xmlExport, kXmlExport);
    EXPECT_TRUE(run.process({"[Export log as XML to file: " + xmlExport + "]", "Build Completed", "x"}));
    EXPECT_EQ(run.counterLines(), std::vector<std::string>{ParserRun::writtenLine("1", "Copy files")});
    run.ctx->script.strActionDescList.clear();  // the job's status record takes the list
    run.lines.clear();

    // Job 2 exports HTML. Of its two failing actions, one has a name that
    // cannot be a key of the counters' file.
    const std::string htmlExport = "C:\\Agent\\AutomiseLogs\\job2.html";
    const auto row = [](const std::string& action, const std::string& detail) {
        return "<tr class=\"ErrorRow\">\r\n<td>Error</td><td>10:00:00</td><td>" + action +
               "</td><td>00:01</td><td>x</td><td>y</td>\r\n</tr><tr class=\"ActionOutput\"><td colspan=\"6\"><div>"
               "<span><pre>" + detail + "</pre></span></div></td></tr>";
    };
    run.sandbox.writeFile(htmlExport, "<html><BODY>\r\n<table><tr><td>Header</td></tr></TABLE>\r\n<table>" +
                                          row("Set x=1", "bad value") + row("Run program", "exit 3") +
                                          "</table>\r\n</body></html>");
    EXPECT_TRUE(run.process({"[Export log as HTML to file: " + htmlExport + "]", "Build Completed", "x"}));
    EXPECT_TRUE(run.ctx->blnExportXML);
    EXPECT_TRUE(run.ctx->blnExportHTML);
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Proceeding with HTML Parsing"));
    EXPECT_FALSE(run.logged("MSG : Preprocessing: Proceeding with XML Parsing"));
    EXPECT_FALSE(run.logged("ERR : Invalid XML File"));
    EXPECT_EQ(run.ctx->script.strActionDescList,
              "ACTION-DESC:Set x=1@#@bad value#$#ACTION-DESC:Run program@#@exit 3");
    EXPECT_EQ(run.counter("Run program"), "1");
    EXPECT_EQ(run.counterLines(), (std::vector<std::string>{ParserRun::writtenLine("1", "~%Set x%3D1"),
                                                            ParserRun::writtenLine("1", "Run program")}));
    EXPECT_EQ(run.counter("~%Set x%3D1"), "1");
    EXPECT_EQ(run.counter("Set x"), "");
    EXPECT_FALSE(run.sandbox.exists(htmlExport));
}
