#include <gtest/gtest.h>

#include <string>

#include "base/file_names.h"

// The names a script can hand the program, each against the rule, and the
// name a path gives when "/" counts as a separator as well as "\".
TEST(PlainName, OnlyANameThatMeansItselfIsPlain) {
    const struct {
        std::string name;
        bool plain;
    } cases[] = {
        {"vars.xml", true},      {"v", true},           {"a b.c d", true},     {"NULL.xml", true},
        {"COM10.txt", true},     {"LPTx", true},        {"caf\xE9.xml", true}, {".hidden", true},
        {"", false},             {".", false},          {"..", false},         {"a..b", false},
        {"vars.xml.", false},    {"vars.xml ", false},  {"a/b", false},        {"a\\b", false},
        {"C:x", false},          {"x:stream", false},   {"a*b", false},        {"a?b", false},
        {"a\"b", false},         {"a<b", false},        {"a>b", false},        {"a|b", false},
        {"a\tb", false},         {"a\r\nb", false},     {"NUL", false},        {"nul.xml", false},
        {"Con .txt", false},     {"COM1", false},       {"lpt9.log", false},   {"CONOUT$", false},
        {"aux.tar.gz", false},   {"COM\xB9.xml", false}, {"lpt\xB3", false},     {std::string("a\0b", 3), false},
    };
    for (const auto& c : cases) EXPECT_EQ(isPlainName(c.name), c.plain) << c.name;

    EXPECT_EQ(lastNameOf("C:\\Agent\\AutomiseLogs\\../../Agent/AutomiseLogs/q/v.xml"), "v.xml");
    EXPECT_EQ(lastNameOf("C:\\Agent\\AutomiseLogs\\q/.."), "..");
    EXPECT_EQ(lastNameOf("C:\\Agent\\AutomiseLogs\\"), "");
    EXPECT_EQ(lastNameOf("vars.xml"), "vars.xml");
}
