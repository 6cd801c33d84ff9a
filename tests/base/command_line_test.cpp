// The Windows command-line rules, in both builds: splitting, the program
// token, the arguments after it, resolution of an unquoted program path with
// blanks, and quoting a program path so that it is split back whole.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/command_line.h"

namespace {

using Args = std::vector<std::string>;

// A file system that holds exactly the files named (the rules ask nothing else).
wincmd::FileExists filesAre(std::set<std::string> files) {
    return [files = std::move(files)](const std::string& path) { return files.count(path) != 0; };
}

TEST(WindowsCommandLine, ArgumentsSplitByTheRuntimesRules) {
    EXPECT_EQ(wincmd::splitArguments(""), Args{});
    EXPECT_EQ(wincmd::splitArguments("  \t "), Args{});
    EXPECT_EQ(wincmd::splitArguments(" /B /L\"C:\\A B\\x.txt\" /B"), (Args{"/B", "/LC:\\A B\\x.txt", "/B"}));
    EXPECT_EQ(wincmd::splitArguments("a\\\\\\\"b"), Args{"a\\\"b"});        // 3 backslashes + quote
    EXPECT_EQ(wincmd::splitArguments("\"a\\\\\" b"), (Args{"a\\", "b"}));    // 2 backslashes + quote
    EXPECT_EQ(wincmd::splitArguments("a\\\\b c\\"), (Args{"a\\\\b", "c\\"}));  // no quote: literal
    EXPECT_EQ(wincmd::splitArguments("\"a \"\"b\"\" c\""), Args{"a \"b\" c"});  // "" inside quotes
    EXPECT_EQ(wincmd::splitArguments("\"\" x"), (Args{"", "x"}));               // an empty argument
    EXPECT_EQ(wincmd::splitArguments("\"open ended"), Args{"open ended"});
    EXPECT_EQ(wincmd::splitArguments("a\"b c\"d"), Args{"ab cd"});
}

TEST(WindowsCommandLine, ProgramTokenOfALineThatBeginsWithABlankIsEmpty) {
    std::string_view rest;
    EXPECT_EQ(wincmd::programToken(" /B /P\"x\"", rest), "");
    EXPECT_EQ(rest, " /B /P\"x\"");
    EXPECT_EQ(wincmd::programToken("\"C:\\a b\\run.exe\"x y", rest), "C:\\a b\\run.exe");
    EXPECT_EQ(rest, "x y");
    EXPECT_EQ(wincmd::programToken("C:\\run\\a\\\"b c", rest), "C:\\run\\a\\\"b");
}

TEST(WindowsCommandLine, TheProgramNameIsCutOffAsTheRuntimeDoes) {
    EXPECT_EQ(wincmd::argumentsAfterProgram("vorbex.exe 5,2,Action_27_KRN"), "5,2,Action_27_KRN");
    // A quoted program name may hold blanks.
    EXPECT_EQ(wincmd::argumentsAfterProgram("\"C:\\Program Files\\Agent\\vorbex.exe\"  5,2,Action"), "5,2,Action");
    // A quote that ends the program name needs no blank after it.
    EXPECT_EQ(wincmd::argumentsAfterProgram("\"vorbex.exe\"5,2"), "5,2");
    EXPECT_EQ(wincmd::argumentsAfterProgram("vorbex.exe\t \t5, 2 ,x "), "5, 2 ,x ");
    EXPECT_EQ(wincmd::argumentsAfterProgram("vorbex.exe"), "");
    EXPECT_EQ(wincmd::argumentsAfterProgram("\"vorbex.exe"), "");
    EXPECT_EQ(wincmd::argumentsAfterProgram(""), "");
    // Quotes inside the arguments are kept as they are.
    EXPECT_EQ(wincmd::argumentsAfterProgram("a.exe \"x y\",2"), "\"x y\",2");
}

TEST(WindowsCommandLine, UnquotedProgramWithBlanksIsResolvedAsWindowsDoes) {
    std::set<std::string> files{"C:\\Program Files\\My Tool\\runner"};
    std::string_view rest;
    EXPECT_EQ(wincmd::resolveProgram("C:\\Program Files\\My Tool\\runner /B /P\"x y\"", rest, filesAre(files)),
              "C:\\Program Files\\My Tool\\runner");
    EXPECT_EQ(rest, " /B /P\"x y\"");

    // An earlier candidate that exists wins, as it does on Windows; a name
    // without an extension is tried with ".exe" too.
    files.insert("C:\\Program.exe");
    EXPECT_EQ(wincmd::resolveProgram("C:\\Program Files\\My Tool\\runner /B", rest, filesAre(files)),
              "C:\\Program.exe");
    EXPECT_EQ(rest, " Files\\My Tool\\runner /B");

    // Nothing exists: the first blank-delimited token, for the error to name.
    EXPECT_EQ(wincmd::resolveProgram("  C:\\None at all", rest, filesAre(files)), "C:\\None");
    EXPECT_EQ(wincmd::resolveProgram("\"C:\\Program Files\\My Tool\\runner\" a", rest, filesAre(files)),
              "C:\\Program Files\\My Tool\\runner");
    EXPECT_EQ(rest, " a");
    // A dot in a folder's name is no extension of the program's.
    EXPECT_EQ(wincmd::resolveProgram("C:\\Tools 3.0\\run x", rest, filesAre({"C:\\Tools 3.0\\run.exe"})),
              "C:\\Tools 3.0\\run.exe");
    EXPECT_EQ(rest, " x");
    // A run of blanks ends one candidate, not one per blank.
    EXPECT_EQ(wincmd::resolveProgram("C:\\a  b c", rest, filesAre({"C:\\a  b"})), "C:\\a  b");
    EXPECT_EQ(rest, " c");
    EXPECT_EQ(wincmd::resolveProgram(" \t ", rest, filesAre(files)), "");
}

TEST(WindowsCommandLine, ALongProgramPathWithABlankIsQuotedAndSplitBackWhole) {
    const std::string runner = "C:\\Program Files\\VSoft\\Automise 3.0\\ATCMD.exe";
    // With what the system tries first for the path unquoted.
    const auto exists = filesAre({runner, "C:\\Program.exe"});
    const std::string arguments = " /B /L\"C:\\Agent\\AutomiseLogs\\x.txt\" /B /P\"C:\\Agent\\a b.atz\"";
    const std::string line = wincmd::commandLineProgram(runner) + arguments;
    EXPECT_EQ(line, "\"" + runner + "\"" + arguments);
    std::string_view rest;
    EXPECT_EQ(wincmd::resolveProgram(line, rest, exists), runner);
    EXPECT_EQ(wincmd::splitArguments(rest),
              (Args{"/B", "/LC:\\Agent\\AutomiseLogs\\x.txt", "/B", "/PC:\\Agent\\a b.atz"}));
    // A short path has no blank and stays as it is; a tab separates as a blank does.
    EXPECT_EQ(wincmd::commandLineProgram("C:\\PROGRA~1\\VSoft\\ATCMD.exe"), "C:\\PROGRA~1\\VSoft\\ATCMD.exe");
    EXPECT_EQ(wincmd::commandLineProgram("C:\\Tools\tx\\run.exe"), "\"C:\\Tools\tx\\run.exe\"");
}

}  // namespace
