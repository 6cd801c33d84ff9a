// The MD5 library: the digest of a whole file through both calls, whatever
// the block size, and failures that keep the caller's values and say why.
#include <string>
#include <vector>

#include "contract.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

using Md5Contract = Contract;

TEST_F(Md5Contract, KnownDigestsThroughBothCalls) {
    Md5Library& md5 = *sys.md5;
    struct Case {
        std::string content, digest;
    };
    const std::vector<Case> cases = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
        // Larger than one plain read, and not a whole number of blocks.
        {std::string(3000000, 'a') + "bc", systemMd5Hex(std::string(3000000, 'a') + "bc")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 16));
        box.writeFile("C:\\Data\\file.bin", c.content);
        std::string digest, size, error = "old";
        ASSERT_NE(md5.KGetMD5("c:\\DATA\\File.BIN", digest, size, error), 0) << error;
        EXPECT_EQ(lower(digest), c.digest);
        EXPECT_EQ(size, std::to_string(c.content.size()));
        EXPECT_EQ(error, "");
        for (const char* block : {"1", " 7", "64"}) {
            std::string d2, s2, e2 = "old";
            ASSERT_NE(md5.KGetMD5WBlock("C:\\Data\\file.bin", block, d2, s2, e2), 0) << block << ": " << e2;
            EXPECT_EQ(lower(d2), c.digest) << block;
            EXPECT_EQ(s2, size) << block;
            EXPECT_EQ(e2, "") << block;
        }
    }
}

// What was there is kept on a failure, since the block call starts from it.
TEST_F(Md5Contract, FailuresKeepTheValuesAndSayWhy) {
    Md5Library& md5 = *sys.md5;
    box.makeFolder("C:\\Data\\folder");
    for (const std::string path : {"C:\\Data\\missing.bin", "C:\\None\\missing.bin", "C:\\Data\\folder"}) {
        SCOPED_TRACE(path);
        std::string digest = "keep", size = "keep", error;
        EXPECT_EQ(md5.KGetMD5(path, digest, size, error), 0);
        EXPECT_NE(error, "");
        EXPECT_EQ(digest + size, "keepkeep");
        error.clear();
        EXPECT_EQ(md5.KGetMD5WBlock(path, "4", digest, size, error), 0);
        EXPECT_NE(error, "");
        EXPECT_EQ(digest + size, "keepkeep");
    }

    box.writeFile("C:\\Data\\file.bin", "abc");
    for (const char* block : {"", "0", "-4", "abc"}) {
        SCOPED_TRACE(block);
        std::string digest, size, error;
        EXPECT_EQ(md5.KGetMD5WBlock("C:\\Data\\file.bin", block, digest, size, error), 0);
        EXPECT_NE(error.find("block size"), std::string::npos) << error;
        EXPECT_EQ(digest, "");
    }
}

}  // namespace
