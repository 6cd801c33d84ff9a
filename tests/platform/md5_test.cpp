// The posix MD5 library's own texts and rules (OpenSSL): the reasons it
// gives, a pipe it will not read, and the block sizes it takes. What every
// MD5 library promises is in tests/contract/md5_contract.cpp.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/md5.h"
#include "support/test_support.h"

TEST(PosixMd5, ReasonsAndBlockSizes) {
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

    box.writeFile("C:\\Data\\file.bin", "abc");
    std::string digest, size, error;
    ASSERT_NE(md5.KGetMD5WBlock("C:\\Data\\file.bin", "3.5", digest, size, error), 0) << error;
    EXPECT_EQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    for (const char* block : {"", "0", "0.5", "-4", "abc", "65537", "1e300"}) {
        digest.clear();
        EXPECT_EQ(md5.KGetMD5WBlock("C:\\Data\\file.bin", block, digest, size, error), 0) << block;
        EXPECT_EQ(error, std::string("Invalid block size: \"") + block + "\" KB");
        EXPECT_EQ(digest, "");
    }
}
