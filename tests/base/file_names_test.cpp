#include <gtest/gtest.h>

#include <string>

#include "base/file_names.h"

// The names a script can hand the program against the rule, and the name a
// path gives when "/" counts as a separator as well as "\".
TEST(PlainName, OnlyANameThatMeansItselfIsPlain) {
    for (const std::string name : {"vars.xml", "v", "a b.c d", "NULL.xml", "COM10.txt", "LPTx", "caf\xE9.xml", ".x"}) {
        EXPECT_TRUE(isPlainName(name)) << name;
    }
    for (const std::string name : {"", ".", "..", "a..b", "vars.xml.", "vars.xml ", "a/b", "a\\b", "C:x", "a*b", "a?b",
                                   "a\"b", "a<b", "a>b", "a|b", "a\tb", "a\r\nb", "NUL", "nul.xml", "Con .txt", "COM1",
                                   "lpt9.log", "CONOUT$", "aux.tar.gz", "COM\xB9.xml", "lpt\xB3"}) {
        EXPECT_FALSE(isPlainName(name)) << name;
    }
    EXPECT_FALSE(isPlainName(std::string("a\0b", 3)));
    EXPECT_EQ(lastNameOf("C:\\Agent\\AutomiseLogs\\../../Agent/AutomiseLogs/q/v.xml"), "v.xml");
    EXPECT_EQ(lastNameOf("C:\\Agent\\AutomiseLogs\\q/.."), "..");
    EXPECT_EQ(lastNameOf("vars.xml"), "vars.xml");
}
