// The posix MD5 library itself (OpenSSL): known digests through both calls,
// files it cannot read, and block sizes it refuses. Built on posix only; the
// Windows library has its own tests (tests/win32/md5_test.cpp).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/md5.h"
#include "support/test_support.h"

namespace {

const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
const std::string kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

}  // namespace

TEST(PosixMd5, KnownVectorsThroughBothCalls) {
    Sandbox box;
    PosixMd5Library md5;
    struct Case {
        std::string content, digest;
    };
    const std::vector<Case> cases = {
        {"", kEmptyMd5},
        {"abc", kAbcMd5},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
        // Larger than one plain read.
        {std::string(3000000, 'a'), "99ddc9a3a46ea62c95652bdf937a1fb8"},
    };
    for (const auto& c : cases) {
        box.writeFile("C:\\Data\\file.bin", c.content);
        std::string digest, size, error = "old";
        ASSERT_NE(md5.KGetMD5("c:\\DATA\\File.BIN", digest, size, error), 0) << error;
        EXPECT_EQ(digest, c.digest);
        EXPECT_EQ(size, std::to_string(c.content.size()));
        EXPECT_EQ(error, "");
        for (const char* block : {"1", " 7", "3.5", "64"}) {
            std::string d2, s2, e2;
            ASSERT_NE(md5.KGetMD5WBlock("C:\\Data\\file.bin", block, d2, s2, e2), 0) << block << ": " << e2;
            EXPECT_EQ(d2, c.digest) << block;
            EXPECT_EQ(s2, size) << block;
        }
    }
}

TEST(PosixMd5, UnreadableFilesFailWithAReason) {
    Sandbox box;
    PosixMd5Library md5;
    box.makeFolder("C:\\Data\\folder");
    ASSERT_EQ(::mkfifo(box.hostPath("C:\\Data\\pipe").c_str(), 0600), 0);
    struct Case {
        std::string path, error;
    };
    const std::vector<Case> cases = {
        {"C:\\Data\\missing.bin", "Unable to open file: No such file or directory"},
        {"C:\\Data\\folder", "Unable to read file: Is a directory"},
        {"C:\\Data\\pipe", "Unable to read file: not a regular file"},
    };
    for (const auto& c : cases) {
        std::string digest = "keep", size = "keep", error;
        EXPECT_EQ(md5.KGetMD5(c.path, digest, size, error), 0) << c.path;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(digest + size, "keepkeep");
        error.clear();
        EXPECT_EQ(md5.KGetMD5WBlock(c.path, "4", digest, size, error), 0) << c.path;
        EXPECT_EQ(error, c.error);
    }
}

TEST(PosixMd5, UnusableBlockSizesFail) {
    Sandbox box;
    PosixMd5Library md5;
    box.writeFile("C:\\Data\\file.bin", "abc");
    for (const char* block : {"", "0", "0.5", "-4", "abc", "65537", "1e300"}) {
        std::string digest, size, error;
        EXPECT_EQ(md5.KGetMD5WBlock("C:\\Data\\file.bin", block, digest, size, error), 0) << block;
        EXPECT_EQ(error, std::string("Invalid block size: \"") + block + "\" KB");
        EXPECT_EQ(digest, "");
    }
}
