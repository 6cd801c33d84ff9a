// The posix profile files' own side: the file is replaced as a whole, so a
// reader never sees half of a write and a write cut short leaves the old
// file. The rules every backend keeps are in tests/contract/profile_contract.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    Sandbox box;
    PosixProfileFiles ini;
    const std::string file = "C:\\Agent\\Configuration\\ATZThreshold.ini";
};

}  // namespace

TEST_F(ProfileTest, TheFileIsReplacedNotRewrittenInPlace) {
    box.writeFile(file, "[S]\r\nK=old\r\n");
    fs::permissions(box.hostPath(file), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A reader that opened the file before the write keeps the old whole file.
    std::ifstream reader(box.hostPath(file), std::ios::binary);
    ASSERT_TRUE(ini.WriteString("S", "K", "new", file));
    std::ostringstream seen;
    seen << reader.rdbuf();
    EXPECT_EQ(seen.str(), "[S]\r\nK=old\r\n");
    EXPECT_EQ(box.readFile(file), "[S]\r\nK=new\r\n");
    // The replacement keeps the file's permissions and leaves nothing behind.
    EXPECT_EQ(fs::status(box.hostPath(file)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(box.hostPath("C:\\Agent\\Configuration")),
                            fs::directory_iterator()),
              1);
}

TEST_F(ProfileTest, AWriteCutShortLeavesTheOldFile) {
    const std::string old = "[S]\r\nK=old\r\n";
    box.writeFile(file, old);
    // Limit the size of any file this process writes, so the temporary copy
    // cannot be completed: the write stops before the rename, as a crash would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ini.WriteString("S", "K", std::string(500, 'v'), file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);

    EXPECT_FALSE(written);
    EXPECT_EQ(box.readFile(file), old);
    EXPECT_EQ(ini.GetString("S", "K", "", 555, file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(box.hostPath("C:\\Agent\\Configuration")),
                            fs::directory_iterator()),
              1);
}
