// The Win32 MD5 backend against the stand-in KGnMD5.dll: the digest, the
// VARIANT texts that come back, and the errors of a missing library.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "raised.h"
#include "platform/win32/host.h"
#include "platform/win32/md5.h"
#include "win32_test_support.h"

namespace {

constexpr const char* kAbcMd5 = "900150983CD24FB0D6963F7D28E17F72";

// The stand-in is built beside the test program.
std::string standInLibrary() { return Win32Host().ExeFolder() + "\\KGnMD5.dll"; }

TEST(Win32Md5, ThePlainCallDigestsTheWholeFile) {
    TempFolder dir;
    writeBytes(dir / "abc.txt", "abc");
    Win32Md5Library md5(standInLibrary());
    std::string digest, size, error = "stale";
    ASSERT_NE(md5.KGetMD5(dir / "abc.txt", digest, size, error), 0) << error;
    EXPECT_EQ(digest, kAbcMd5);
    EXPECT_EQ(size, "3");
    EXPECT_EQ(error, "");
}

TEST(Win32Md5, AFailureKeepsTheOutValuesAndSaysWhy) {
    TempFolder dir;
    Win32Md5Library md5(standInLibrary());
    std::string digest, size, error;
    EXPECT_EQ(md5.KGetMD5(dir / "missing.txt", digest, size, error), 0);
    EXPECT_EQ(digest, "");
    EXPECT_EQ(size, "");
    EXPECT_FALSE(error.empty());
}

TEST(Win32Md5, TheBlockCallNeedsAUsableBlockSize) {
    TempFolder dir;
    // More than one block of 1 KB, and not a whole number of blocks.
    std::string bytes;
    for (int i = 0; i < 3000; ++i) bytes += static_cast<char>('a' + i % 26);
    writeBytes(dir / "big.txt", bytes);
    Win32Md5Library md5(standInLibrary());
    std::string plain, size, error;
    ASSERT_NE(md5.KGetMD5(dir / "big.txt", plain, size, error), 0);

    std::string digest, blockSize, blockError;
    EXPECT_EQ(md5.KGetMD5WBlock(dir / "big.txt", "", digest, blockSize, blockError), 0);
    EXPECT_NE(blockError.find("block size"), std::string::npos) << blockError;
    ASSERT_NE(md5.KGetMD5WBlock(dir / "big.txt", "1", digest, blockSize, blockError), 0) << blockError;
    EXPECT_EQ(digest, plain);
    EXPECT_EQ(blockSize, "3000");
}

TEST(Win32Md5, TheBlockCallGetsTheValuesThePlainCallLeft) {
    TempFolder dir;
    Win32Md5Library md5(Win32Host().ExeFolder() + "\\Md5Probe.dll");
    std::string digest, size, error;
    ASSERT_EQ(md5.KGetMD5(dir / "any.txt", digest, size, error), 0);
    EXPECT_EQ(size, "4096");
    // The probe succeeds only when it gets its own Null, number and text back.
    EXPECT_NE(md5.KGetMD5WBlock(dir / "any.txt", "", digest, size, error), 0) << error;
    EXPECT_EQ(digest, "SAME");

    // Texts the caller changed in between go in as new values.
    ASSERT_EQ(md5.KGetMD5(dir / "any.txt", digest, size, error), 0);
    size = "0";
    EXPECT_EQ(md5.KGetMD5WBlock(dir / "any.txt", "", digest, size, error), 0);
    EXPECT_EQ(error, "got md5 vt 8, size vt 8, error vt 8");
}

TEST(Win32Md5, AMissingLibraryOrFunctionRaisesTheRuntimesErrors) {
    TempFolder dir;
    writeBytes(dir / "abc.txt", "abc");
    std::string digest, size, error;

    Win32Md5Library missing(dir / "KGnMD5.dll");
    const RunError notFound = raisedBy([&] { missing.KGetMD5(dir / "abc.txt", digest, size, error); });
    EXPECT_EQ(notFound.number, err::FileNotFound);
    EXPECT_EQ(notFound.description, "File not found: KGnMD5.dll");

    // A library that loads but has no such function.
    Win32Md5Library wrong("kernel32.dll");
    const RunError noEntry = raisedBy([&] { wrong.KGetMD5WBlock(dir / "abc.txt", "1", digest, size, error); });
    EXPECT_EQ(noEntry.number, 453);
    EXPECT_EQ(noEntry.description, "Can't find DLL entry point KGetMD5WBlock in kernel32.dll");
}

}  // namespace
