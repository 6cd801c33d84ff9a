// The one text encoding at the posix seam: the program's Windows-1252 text
// against UTF-8 names on disk, and names on disk that are not UTF-8.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/code_page.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/machine.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

TEST(CodePage, EveryByteComesBackAndWhatIsNotUtf8KeepsItsBytes) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(codePageFromUtf8(utf8FromCodePage(all)), all);
    EXPECT_EQ(utf8FromCodePage("\x80\x81\x9D\xE9"), "\xE2\x82\xAC\xC2\x81\xC2\x9D\xC3\xA9");
    // Characters the code page lacks: a C1 control it has no byte for, a CJK
    // letter, one beyond the basic plane.
    EXPECT_EQ(codePageFromUtf8("a\xC2\x80" "b\xE6\x97\xA5" "c\xF0\x9F\x98\x80"), "a?b?c?");
    // Not UTF-8, kept byte for byte: a cut-off sequence, an overlong "/" (which
    // must not become a separator), an encoded surrogate.
    EXPECT_EQ(codePageFromUtf8("x\xC3"), "x\xC3");
    EXPECT_EQ(codePageFromUtf8("\xC0\xAF"), "\xC0\xAF");
    // Overlong "\" and "/" in three and four bytes.
    EXPECT_EQ(codePageFromUtf8("\xE0\x81\x9C"), "\xE0\x81\x9C");
    EXPECT_EQ(codePageFromUtf8("\xF0\x80\x80\xAF"), "\xF0\x80\x80\xAF");
    EXPECT_EQ(codePageFromUtf8("\xED\xA0\x80"), "\xED\xA0\x80");
}

// A name written by a tool that does not speak UTF-8 is listed by its bytes and
// found again by them; a UTF-8 name is listed in the code page and matched
// without regard to the case of its ASCII letters.
TEST(CodePage, NamesOnDiskAreListedAndFoundInTheCodePage) {
    Sandbox box;
    const std::string folder = box.root() + "/drive_c/Scripts";
    fs::create_directories(folder);
    std::ofstream(folder + "/caf\xC3\xA9.atz") << "utf8";
    std::ofstream(folder + "/na\xEFve.atz") << "latin1";

    PosixFileSystem files;
    std::vector<std::string> names;
    for (const FileEntry& f : files.GetFiles("C:\\Scripts")) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"caf\xE9.atz", "na\xEFve.atz"}));

    EXPECT_EQ(mapPath("C:\\scripts\\CAF\xE9.ATZ"), folder + "/caf\xC3\xA9.atz");
    EXPECT_EQ(files.OpenTextFile("C:\\Scripts\\NA\xEFVE.atz", IOMode::ForReading, false)->ReadAll(), "latin1");
    EXPECT_TRUE(files.FileExistsInside("C:\\Scripts", "C:\\Scripts\\Caf\xE9.atz"));
    EXPECT_EQ(windowsPathOf(folder + "/caf\xC3\xA9.atz"), "C:\\Scripts\\caf\xE9.atz");
    // A new name is made in UTF-8.
    files.CreateTextFile("C:\\Scripts\\\xE9t\xE9.txt", false)->Write("new");
    EXPECT_TRUE(fs::exists(folder + "/\xC3\xA9t\xC3\xA9.txt"));
}
