// Thresholds, the per-variable limits and the reading of a script's variables file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/text.h"
#include "report/script_variables.h"
#include "support/test_support.h"

namespace {

const std::string kIni = "C:\\Agent\\Configuration\\ATZThreshold.ini";
const std::string kVars = "C:\\Agent\\AutomiseLogs\\vars.xml";

class ScriptVariables : public ::testing::Test {
protected:
    TestRun run;
    XmlLibrary& xml = *run.real.xml;
    RunContext& ctx = *run.ctx;

    void SetUp() override {
        run.useInstallPath();
        run.sandbox.makeFolder("C:\\Agent\\Configuration");
        ctx.sys.xml = &xml;
        ctx.job.strExecuteScript = "Inventory.atz";
        ctx.strVTXVariablesTh = "24";
    }

    std::string ini(const std::string& section, const std::string& key) {
        return run.profile.GetString(section, key, "<none>", 555, kIni);
    }
    void setIni(const std::string& section, const std::string& key, const std::string& value) {
        ASSERT_TRUE(run.profile.WriteString(section, key, value, kIni));
    }
    std::string counter(const std::string& name) { return ini("VTX_Variables_Count", name); }

    // Writes a variables file whose container holds `children`.
    bool readVars(const std::string& children) {
        run.sandbox.writeFile(kVars, "<?xml version=\"1.0\"?>\r\n<wpatcmdscrvardata>" + children +
                                         "</wpatcmdscrvardata>\r\n");
        record = fncReadVariableXML(ctx, kVars);
        return !record.empty();
    }
    bool readRaw(const std::string& content) {
        run.sandbox.writeFile(kVars, content);
        record = fncReadVariableXML(ctx, kVars);
        return !record.empty();
    }
    std::string record;  // what the last read returned
    int count(const std::string& needle) const {
        int n = 0;
        for (const auto& m : run.messages()) n += m.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }
};

// ---- thresholds -------------------------------------------------------------

TEST_F(ScriptVariables, MissingThresholdFileIsCreatedWithDefaultsAndTodaysDate) {
    ctx.strVTXVariablesTh.clear();
    EXPECT_TRUE(fncVerifyVariablethreshold(ctx));

    EXPECT_EQ(ctx.strVTXVariablesTh, "24");
    EXPECT_EQ(ctx.job.strScriptFailureTh, "24");
    EXPECT_EQ(ctx.job.strThresholdDate, "");  // only the file gets the date
    EXPECT_EQ(ini("VTXVariables", "Date"), "12/07/2026");
    EXPECT_EQ(ini("Threshold", "VTXVariablesTh"), "24");
    EXPECT_EQ(ini("Threshold", "ScriptFailrueTh"), "24");

    const std::vector<std::string> expected = {
        "MSG : Preprocessing: Date is   in " + kIni,
        "MSG : Preprocessing: Successfully Written 12/07/2026 to variable Date to file " + kIni,
        "MSG : Preprocessing: VTXVariablesTh is   in " + kIni,
        "MSG : Preprocessing: Successfully Written 24 to variable VTXVariablesTh to file " + kIni,
        "MSG : Preprocessing: ScriptFailrueTh is   in " + kIni,
        "MSG : Preprocessing: Successfully Written 24 to variable ScriptFailrueTh to file " + kIni,
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST_F(ScriptVariables, ThresholdsAreDefaultedOnlyWhenTheirNumberIsZero) {
    setIni("VTXVariables", "Date", "01/02/2020");
    setIni("Threshold", "VTXVariablesTh", "abc");
    setIni("Threshold", "ScriptFailrueTh", "-1");
    run.lines.clear();

    fncVerifyVariablethreshold(ctx);
    EXPECT_EQ(ctx.job.strThresholdDate, "01/02/2020");
    EXPECT_EQ(ini("VTXVariables", "Date"), "01/02/2020");
    EXPECT_EQ(ctx.strVTXVariablesTh, "24");
    EXPECT_EQ(ini("Threshold", "VTXVariablesTh"), "24");
    EXPECT_EQ(ctx.job.strScriptFailureTh, "-1");
    EXPECT_EQ(ini("Threshold", "ScriptFailrueTh"), "-1");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Date is  01/02/2020 in " + kIni));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: VTXVariablesTh is  abc in " + kIni));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: ScriptFailrueTh is  -1 in " + kIni));
    EXPECT_EQ(count("Successfully Written"), 1);
}

TEST_F(ScriptVariables, PerScriptLimitComesFromThePrimaryScriptsSection) {
    setIni("Inventory.atz", "Reached", "24");
    setIni("Inventory.atz", "Below", "23");
    setIni("Other.atz", "Elsewhere", "100");
    EXPECT_TRUE(fncVaribaleThresholdExceed(ctx, "Reached"));
    EXPECT_FALSE(fncVaribaleThresholdExceed(ctx, "Below"));
    EXPECT_FALSE(fncVaribaleThresholdExceed(ctx, "Elsewhere"));

    // A negative threshold is below even an absent limit: everything is exceeded.
    setIni("Threshold", "VTXVariablesTh", "-1");
    fncVerifyVariablethreshold(ctx);
    ASSERT_EQ(ctx.strVTXVariablesTh, "-1");
    EXPECT_TRUE(fncVaribaleThresholdExceed(ctx, "Absent"));
    EXPECT_FALSE(readVars("<var name='a'>1</var><var name='b'>2</var>"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Threshold exceeded for variable a"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Threshold exceeded for variable b"));
    EXPECT_EQ(counter("a"), "<none>");
}

// ---- reading the variables file ----------------------------------------------

TEST_F(ScriptVariables, RecordKeepsDocumentOrderAndCountsEachVariable) {
    ASSERT_TRUE(readVars("<scriptname>Inv</scriptname>"
                         "<var name='Disk'>  C: 40%  </var>"
                         "<!-- a note -->"
                         "<scriptversion>1.2</scriptversion>"
                         "<var id='Ram'>8 GB</var>"));
    EXPECT_EQ(record,
              "<wpatcmdscrvardata><scriptname><![CDATA[Inv]]></scriptname>"
              "<var name='Disk'><![CDATA[C: 40%]]></var>"
              "<scriptversion><![CDATA[1.2]]></scriptversion>"
              "<var name='Ram'><![CDATA[8 GB]]></var></wpatcmdscrvardata>");
    EXPECT_EQ(counter("Disk"), "1");
    EXPECT_EQ(counter("Ram"), "1");
}

TEST_F(ScriptVariables, ChildNamesAreComparedWithoutCaseButTheContainerIsNot) {
    ASSERT_TRUE(readVars("<VAR n='a'>1</VAR><Var n='b'>2</Var><SCRIPTVERSION>3.0</SCRIPTVERSION>"
                         "<ScriptName>x</ScriptName>"));
    EXPECT_EQ(record,
              "<wpatcmdscrvardata><var name='a'><![CDATA[1]]></var><var name='b'><![CDATA[2]]></var>"
              "<scriptversion><![CDATA[3.0]]></scriptversion><scriptname><![CDATA[x]]></scriptname>"
              "</wpatcmdscrvardata>");

    run.lines.clear();
    EXPECT_FALSE(readRaw("<WPATCMDSCRVARDATA><var name='a'>1</var></WPATCMDSCRVARDATA>"));
    EXPECT_EQ(run.messages(), std::vector<std::string>{
                                  "ERR : in fncReadVariableXML. 91::Object variable or With block variable not set"});
    EXPECT_EQ(counter("a"), "1");  // unchanged by the failed read
}

TEST_F(ScriptVariables, VersionAndNameAloneGiveNoRecord) {
    EXPECT_FALSE(readVars("<scriptversion>1</scriptversion><scriptname>n</scriptname>"));
    EXPECT_EQ(run.messages(),
              std::vector<std::string>{
                  "MSG : Preprocessing  : Either no VTX variables found / VTX variables threshold exceeded"});

    // Children that yield no item at all: no record and no line.
    run.lines.clear();
    EXPECT_FALSE(readVars("<other>1</other><var name='  '>blank name</var>"));
    EXPECT_TRUE(run.messages().empty());
}

TEST_F(ScriptVariables, CounterEqualToThresholdIsPostedOnceMoreAboveItIsDroppedSilently) {
    setIni("VTX_Variables_Count", "AtLimit", "24");
    setIni("VTX_Variables_Count", "Over", "25");
    run.lines.clear();

    ASSERT_TRUE(readVars("<var name='AtLimit'>a</var><var name='Over'>b</var>"));
    EXPECT_EQ(record,
              "<wpatcmdscrvardata><var name='AtLimit'><![CDATA[a]]></var></wpatcmdscrvardata>");
    EXPECT_EQ(counter("AtLimit"), "25");
    EXPECT_EQ(counter("Over"), "25");
    EXPECT_EQ(run.messages(), std::vector<std::string>{"MSG : Preprocessing: Successfully Written 25 to variable "
                                                       "AtLimit to file " + kIni});
}

TEST_F(ScriptVariables, VariablesOfOneNameSeeEachOthersIncrements) {
    ASSERT_TRUE(readVars("<var name='Dup'>1</var><var name='dup'>2</var>"));
    EXPECT_EQ(record,
              "<wpatcmdscrvardata><var name='Dup'><![CDATA[1]]></var><var name='dup'><![CDATA[2]]></var>"
              "</wpatcmdscrvardata>");
    EXPECT_EQ(counter("DUP"), "2");

    // With one post left, the first of three takes it and the others are dropped.
    setIni("VTX_Variables_Count", "Dup", "24");
    ASSERT_TRUE(readVars("<var name='Dup'>a</var><var name='Dup'>b</var><var name='DUP'>c</var>"));
    EXPECT_EQ(record, "<wpatcmdscrvardata><var name='Dup'><![CDATA[a]]></var></wpatcmdscrvardata>");
    EXPECT_EQ(counter("Dup"), "25");
}

TEST_F(ScriptVariables, LogLinesComeInTheOrderTheVariablesWereHandled) {
    setIni("Inventory.atz", "a", "30");
    setIni("Inventory.atz", "c", "24");
    run.lines.clear();

    ASSERT_TRUE(readVars("<var name='a'>1</var><var name='b'>2</var><var name='c'>3</var><var name='b'>4</var>"));
    const std::vector<std::string> expected = {
        "MSG : Preprocessing: Threshold exceeded for variable a",
        "MSG : Preprocessing: Successfully Written 1 to variable b to file " + kIni,
        "MSG : Preprocessing: Threshold exceeded for variable c",
        "MSG : Preprocessing: Successfully Written 2 to variable b to file " + kIni,
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST_F(ScriptVariables, FailedCounterWriteStillPostsButConfirmsNothing) {
    CountingProfile profile(run.profile);
    profile.failCall("WriteString", CallFault().always());
    profile.failCall("WriteStrings", CallFault().always());
    ctx.sys.profile = &profile;

    ASSERT_TRUE(readVars("<var name='x'>1</var><var name='y'>2</var>"));
    EXPECT_EQ(record,
              "<wpatcmdscrvardata><var name='x'><![CDATA[1]]></var><var name='y'><![CDATA[2]]></var>"
              "</wpatcmdscrvardata>");
    EXPECT_EQ(count("Successfully Written"), 0);
    EXPECT_EQ(counter("x"), "<none>");
}

TEST_F(ScriptVariables, ScriptSectionNamedLikeTheCounterSectionSeesEachIncrement) {
    // The per-script limit is then the counter itself: 23 -> posted, now 24 -> exceeded.
    ctx.job.strExecuteScript = "VTX_Variables_Count";
    setIni("VTX_Variables_Count", "v", "23");
    run.lines.clear();

    ASSERT_TRUE(readVars("<var name='v'>1</var><var name='v'>2</var>"));
    EXPECT_EQ(record, "<wpatcmdscrvardata><var name='v'><![CDATA[1]]></var></wpatcmdscrvardata>");
    const std::vector<std::string> expected = {
        "MSG : Preprocessing: Successfully Written 24 to variable v to file " + kIni,
        "MSG : Preprocessing: Threshold exceeded for variable v",
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST_F(ScriptVariables, DefaultThresholdPostsAVariableTwentyFiveTimesAndNeverAgain) {
    ctx.strVTXVariablesTh.clear();
    std::vector<bool> posted;
    for (int runNo = 1; runNo <= 28; ++runNo) {
        fncVerifyVariablethreshold(ctx);
        posted.push_back(readVars("<scriptname>s</scriptname><var name='Uptime'>5 days</var>"));
    }
    for (int i = 0; i < 25; ++i) EXPECT_TRUE(posted[i]) << "run " << i + 1;
    for (int i = 25; i < 28; ++i) EXPECT_FALSE(posted[i]) << "run " << i + 1;
    EXPECT_EQ(counter("Uptime"), "25");
    EXPECT_EQ(count("Either no VTX variables found"), 3);
}

// ---- bad variables files -------------------------------------------------------

TEST_F(ScriptVariables, UnusableFilesGiveTheirLogLineAndNoRecord) {
    struct Case {
        const char* content;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"<wpatcmdscrvardata><var name='a'>1</wpatcmdscrvardata>", "ERR: Failed to load " + kVars},
        {"", "ERR: Failed to load " + kVars},
        {"<root><other/></root>", "ERR : in fncReadVariableXML. 91::Object variable or With block variable not set"},
        {"<wpatcmdscrvardata>  \r\n  </wpatcmdscrvardata>", "ERR : in fncReadVariableXML. 9::Subscript out of range"},
        {"<wpatcmdscrvardata/>", "ERR : in fncReadVariableXML. 9::Subscript out of range"},
        {"<wpatcmdscrvardata><var name='first'>1</var><var>no name</var></wpatcmdscrvardata>",
         "ERR : in fncReadVariableXML. 91::Object variable or With block variable not set"},
    };
    for (const Case& c : cases) {
        run.lines.clear();
        EXPECT_FALSE(readRaw(c.content)) << c.content;
        EXPECT_EQ(run.messages(), std::vector<std::string>{c.line}) << c.content;
    }
    // The variable before the one without attributes was never counted.
    EXPECT_EQ(counter("first"), "<none>");

    run.lines.clear();
    EXPECT_EQ(fncReadVariableXML(ctx, "C:\\Agent\\AutomiseLogs\\missing.xml"), "");
    EXPECT_TRUE(run.logged("ERR: Failed to load C:\\Agent\\AutomiseLogs\\missing.xml"));
}

// The script writes the file: one that would make a record of many megabytes
// is not read into memory, and nothing of it is posted or counted.
TEST_F(ScriptVariables, AFileOverFourMebibytesIsNotRead) {
    const std::string head = "<wpatcmdscrvardata><var name='big'>";
    const std::string tail = "</var></wpatcmdscrvardata>";
    const std::size_t bound = 4 * 1024 * 1024;
    std::string file = head + std::string(bound - head.size() - tail.size(), 'v') + tail;
    ASSERT_EQ(file.size(), bound);
    EXPECT_TRUE(readRaw(file));  // exactly at the bound it is read
    EXPECT_EQ(counter("big"), "1");

    run.lines.clear();
    file.insert(head.size(), "w");
    EXPECT_FALSE(readRaw(file));
    EXPECT_EQ(run.messages(), (std::vector<std::string>{
                                  "ERR : Preprocessing: " + kVars + " holds more than 4 MiB and is not read",
                                  "ERR: Failed to load " + kVars}));
    EXPECT_EQ(counter("big"), "1");
}

TEST_F(ScriptVariables, EntitiesAndDtdsAreNeverExpandedFromOutside) {
    run.sandbox.writeFile("C:\\secret.txt", "TOPSECRET");
    const std::string secret = run.sandbox.hostPath("C:\\secret.txt");
    readRaw("<?xml version=\"1.0\"?>\n<!DOCTYPE wpatcmdscrvardata [\n<!ENTITY s SYSTEM \"file://" + secret +
            "\">\n]>\n<wpatcmdscrvardata><var name='leak'>[&s;]</var></wpatcmdscrvardata>");
    EXPECT_EQ(record.find("TOPSECRET"), std::string::npos);
    for (const auto& m : run.messages()) EXPECT_EQ(m.find("TOPSECRET"), std::string::npos) << m;

    readRaw("<?xml version=\"1.0\"?>\n<!DOCTYPE wpatcmdscrvardata SYSTEM \"file://" + secret +
            "\">\n<wpatcmdscrvardata><var name='ext'>x</var></wpatcmdscrvardata>");
    EXPECT_EQ(record.find("TOPSECRET"), std::string::npos);

    // Nested internal entities must not blow up into gigabytes of text.
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE wpatcmdscrvardata [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<wpatcmdscrvardata><var name='lol'>&l9;</var></wpatcmdscrvardata>";
    readRaw(laughs);
    EXPECT_LT(record.size(), 100000u);
}

TEST_F(ScriptVariables, NamesThatWouldRewriteTheThresholdFileAreCountedUnderEncodedKeys) {
    setIni("Threshold", "VTXVariablesTh", "24");
    ASSERT_TRUE(readVars("<var name='x&#10;[Inventory.atz]&#13;&#10;y'>1</var>"
                         "<var name='a=b'>2</var><var name='[s]'>3</var><var name=';c'>4</var>"
                         "<var name='ok'>5</var>"));
    // Every one is posted and counted, none under a key that reads as another.
    EXPECT_EQ(std::count(record.begin(), record.end(), '\''), 10);
    EXPECT_EQ(ini("Inventory.atz", "y"), "<none>");
    EXPECT_EQ(counter("a"), "<none>");
    EXPECT_EQ(counter("~%x%0A[Inventory.atz]%0D%0Ay"), "1");
    EXPECT_EQ(counter("~%a%3Db"), "1");
    EXPECT_EQ(counter("~%[s]"), "1");
    EXPECT_EQ(counter("~%;c"), "1");
    EXPECT_EQ(counter("ok"), "1");
    EXPECT_EQ(count("Successfully Written"), 5);
    EXPECT_EQ(ini("Threshold", "VTXVariablesTh"), "24");
    const std::string file = run.sandbox.readFile(kIni);
    const auto sections = splitText(file, "\r\n[").size();  // [Threshold] first, then the counters' section
    EXPECT_TRUE(startsWith(file, "[Threshold]") && sections == 2) << file;
}

TEST_F(ScriptVariables, ManyVariablesWithOneReplacementOfTheThresholdFile) {
    // Ten thousand on posix. The Win32 backend hands every key to the system's
    // profile calls, which under Wine rewrite the file for each: there two
    // thousand keep the case well within its time limit on a loaded machine.
    const int n = onPosixBackend() ? 10000 : 2000;
    const std::string last = "v" + std::to_string(n - 1);
    CountingProfile profile(run.profile);
    ctx.sys.profile = &profile;
    std::string children;
    for (int i = 0; i < n; ++i) children += "<var name='v" + std::to_string(i) + "'>" + std::to_string(i) + "</var>";

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(readVars(children));
    const auto first = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(profile.writes(), 1);
    EXPECT_EQ(count("Successfully Written 1 to variable v"), n);
    EXPECT_EQ(counter("v0"), "1");
    EXPECT_EQ(counter(last), "1");
    EXPECT_NE(record.find("<var name='" + last + "'><![CDATA[" + std::to_string(n - 1) +
                          "]]></var></wpatcmdscrvardata>"),
              std::string::npos);

    // Again, now over a threshold file that holds all those counters.
    ASSERT_TRUE(readVars(children));
    const auto both = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(profile.writes(), 2);
    EXPECT_EQ(counter("v" + std::to_string(n / 2)), "2");
    // The bounds hold the posix backend to its one replacement of the file;
    // the system's profile calls cost what they cost.
    if (onPosixBackend()) {
        EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(first).count(), 20);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(both).count(), 60);
    }
}

TEST_F(ScriptVariables, MoreChildrenThanASixteenBitIndexCountsAreRefused) {
    std::string children;
    for (int i = 0; i < 32769; ++i) children += "<x/>";
    EXPECT_FALSE(readVars(children));
    EXPECT_TRUE(run.logged("ERR : in fncReadVariableXML. 6::Overflow"));

    children.resize(children.size() - 4);  // 32768 is still within reach
    children.replace(0, 4, "<var name='last'>1</var>");
    EXPECT_TRUE(readVars(children));
}

}  // namespace
