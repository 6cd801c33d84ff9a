// The Win32 platform as the program builds it: every service is there.
#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/system.h"

TEST(Win32SystemPlatform, EveryServiceIsSet) {
    static char name[] = "vorbex";
    static char* argv[] = {name, nullptr};
    const auto system = makeSystemPlatform(1, argv);
    const Platform& p = system->platform;
    EXPECT_NE(p.fs, nullptr);
    EXPECT_NE(p.registry, nullptr);
    EXPECT_NE(p.profile, nullptr);
    EXPECT_NE(p.paths, nullptr);
    EXPECT_NE(p.clock, nullptr);
    EXPECT_NE(p.host, nullptr);
    EXPECT_NE(p.processes, nullptr);
    EXPECT_NE(p.desktop, nullptr);
    EXPECT_NE(p.md5, nullptr);
    EXPECT_NE(p.webpost, nullptr);
    EXPECT_NE(p.xml, nullptr);
    // The command line comes from the system, not from argv.
    EXPECT_EQ(p.host->CommandLine().find("vorbex"), std::string::npos);
}
