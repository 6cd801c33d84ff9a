// The lock test's classification, over a desktop the test sets, and what the
// real Linux desktop reports on a machine without a system bus.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "execute/desktop_lock.h"
#include "execute/fake_desktop.h"
#include "platform/posix/desktop.h"
#include "support/test_support.h"

namespace {

class DesktopLockTest : public ::testing::Test {
protected:
    void SetUp() override { run.ctx->sys.desktop = &desktop; }
    TestRun run;
    FakeDesktop desktop;
};

TEST_F(DesktopLockTest, SwitchRefusedWithoutCodeIsALock) {
    desktop.switchAccepted = false;
    desktop.switchError = 0;
    EXPECT_TRUE(fncUserLocked(*run.ctx));
    EXPECT_TRUE(run.ctx->blnDesktopLocked);
    EXPECT_EQ(run.ctx->launch.lngSwitchDesktopError, 0);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{"MSG : Preprocessing : Screen Saver is not running.",
                                                        "MSG : Preprocessing : Desktop is locked!!!"}));
    EXPECT_EQ(desktop.opened, desktop.closed);
}

TEST_F(DesktopLockTest, UnlockedWithoutScreenSaver) {
    EXPECT_FALSE(fncUserLocked(*run.ctx));
    EXPECT_FALSE(run.ctx->blnDesktopLocked);
    EXPECT_FALSE(run.ctx->launch.blnScreenSaverRunning);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{"MSG : Preprocessing : Screen Saver is not running.",
                                                        "MSG : Preprocessing : Not locked!"}));
    EXPECT_EQ(desktop.opened, 1);
    EXPECT_EQ(desktop.closed, 1);
}

TEST_F(DesktopLockTest, UnlockedWithScreenSaverSaysSoWithTwoBlanks) {
    desktop.screenSaver = true;
    EXPECT_FALSE(fncUserLocked(*run.ctx));
    EXPECT_TRUE(run.ctx->launch.blnScreenSaverRunning);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{"MSG : Preprocessing : Screen Saver is running.",
                                                        "MSG : Preprocessing :  Desktop is Not locked!"}));
    // Both desktops were opened, and both are released.
    EXPECT_EQ(desktop.opened, 2);
    EXPECT_EQ(desktop.closed, 2);
}

TEST_F(DesktopLockTest, ALockSeenOnceStaysForTheRun) {
    desktop.switchAccepted = false;
    ASSERT_TRUE(fncUserLocked(*run.ctx));
    desktop.switchAccepted = true;
    EXPECT_FALSE(fncUserLocked(*run.ctx));
    EXPECT_TRUE(run.ctx->blnDesktopLocked);
    EXPECT_TRUE(run.logged("MSG : Preprocessing : Not locked!"));
}

TEST_F(DesktopLockTest, SwitchRefusedWithACodeIsNoLock) {
    desktop.switchAccepted = false;
    desktop.switchError = 5;
    EXPECT_FALSE(fncUserLocked(*run.ctx));
    EXPECT_FALSE(run.ctx->blnDesktopLocked);
    EXPECT_EQ(run.ctx->launch.lngSwitchDesktopError, 5);
    EXPECT_EQ(run.messages().back(), "MSG : Preprocessing : Error with SwitchDesktop: 5");
}

TEST_F(DesktopLockTest, DefaultDesktopThatWillNotOpenEndsTheTest) {
    desktop.screenSaver = true;
    desktop.defaultError = 1444;
    EXPECT_FALSE(fncUserLocked(*run.ctx));
    EXPECT_EQ(run.messages().back(), "MSG : Preprocessing : Error with OpenDesktop: 1444");
    EXPECT_EQ(desktop.switches, 0);
    EXPECT_EQ(desktop.opened, desktop.closed);
}

TEST(PosixDesktopTest, WithoutASystemBusNothingOpens) {
    struct stat st {};
    if (::stat("/run/dbus/system_bus_socket", &st) == 0) GTEST_SKIP() << "a system bus is reachable here";
    TestRun run;
    PosixDesktop desktop;
    run.ctx->sys.desktop = &desktop;
    EXPECT_FALSE(fncUserLocked(*run.ctx));
    EXPECT_FALSE(run.ctx->blnDesktopLocked);
    const std::string last = run.messages().back();
    const std::string prefix = "MSG : Preprocessing : Error with OpenDesktop: ";
    ASSERT_EQ(last.rfind(prefix, 0), 0u) << last;
    // The code is the system's reason, never 0.
    EXPECT_GT(std::stol(last.substr(prefix.size())), 0);
    EXPECT_EQ(desktop.OpenDesktop("Winlogon", 0), 0u);
}

}  // namespace
