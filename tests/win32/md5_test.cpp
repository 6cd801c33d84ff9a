// The Win32 MD5 backend's own side: the VARIANT values carried from one call
// to the next, and the errors of a missing library. The digests and failures
// every MD5 library gives are in tests/contract/md5_contract.cpp.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "raised.h"
#include "platform/win32/host.h"
#include "platform/win32/md5.h"
#include "win32_test_support.h"

namespace {

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
