// The Win32 desktops: opening by name, the error code of a failed open, and
// a switch to the default desktop of an unlocked session.
//
// What cannot be checked here: under Wine SwitchDesktop never refuses and
// there is no screen-saver desktop, so a locked workstation cannot be made.
// The classification of a refused switch is tested with a fake desktop in the
// execute tests; these tests check only what a real session shows.
#include <gtest/gtest.h>

#include "platform/win32/desktop.h"

TEST(Win32Desktop, TheDefaultDesktopOpensAndTakesTheInput) {
    Win32Desktop desktop;
    ScopedDesktop handle(desktop, desktop.OpenDesktop("Default", desk::DESKTOP_SWITCHDESKTOP));
    ASSERT_TRUE(handle) << desktop.GetLastError();
    EXPECT_EQ(desktop.GetLastError(), 0);
    // Nobody has locked this session.
    EXPECT_TRUE(desktop.SwitchDesktop(handle.get()));
    EXPECT_EQ(desktop.GetLastError(), 0);
}

TEST(Win32Desktop, AnUnknownDesktopFailsWithACode) {
    Win32Desktop desktop;
    EXPECT_EQ(desktop.OpenDesktop("vorbex-no-such-desktop", desk::DESKTOP_ENUMERATE), 0u);
    EXPECT_NE(desktop.GetLastError(), 0);
    // A success afterwards clears the code.
    ScopedDesktop handle(desktop, desktop.OpenDesktop("Default", desk::DESKTOP_ENUMERATE));
    ASSERT_TRUE(handle);
    EXPECT_EQ(desktop.GetLastError(), 0);
}
