// Finding the script runner: its registry value, a value that is missing or
// blank, and a path that names a folder or no file.
#include <gtest/gtest.h>

#include "context/atcmd.h"
#include "test_support.h"

namespace {

const std::string kRunnerKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0]\r\n";
const std::string kRunnerRead = "MSG : Preprocessing: Reading Registry key :: HKLM\\SOFTWARE\\VSoft\\Automise\\3.0[ATCMDLocation]";
const std::string kRunnerMissing =
    "ERR : ATCMDLocation Value not found in registry : HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0";

}  // namespace

TEST(CheckATCMD, RunnerDiscovery) {
    TestRun run;
    RunContext& ctx = *run.ctx;
    run.sandbox.writeFile("C:\\Tools\\ATCMD.exe", "");
    struct Case {
        std::string registry;  // the whole value line, or nothing
        bool found;
        std::string error;
        std::string failure;
    };
    const Case cases[] = {
        {"\"ATCMDLocation\"=\"C:\\\\Tools\\\\ATCMD.exe\"", true, "", "earlier"},
        {"", false, kRunnerMissing, "Preprocessing:Automise Binaries are not installed"},
        {"\"ATCMDLocation\"=\"  \"", false, kRunnerMissing, "Preprocessing:Automise Binaries are not installed"},
        {"\"ATCMDLocation\"=\"C:\\\\Tools\"", false, "ERR : File not found : C:\\Tools",
         "Preprocessing:File not found C:\\Tools"},
        {"\"ATCMDLocation\"=\"C:\\\\Tools\\\\none.exe\"", false, "ERR : File not found : C:\\Tools\\none.exe",
         "Preprocessing:File not found C:\\Tools\\none.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registry);
        run.sandbox.writeRegistry(kRunnerKey + c.registry + "\r\n");
        run.lines.clear();
        ctx.strFailureDesc = "earlier";
        EXPECT_EQ(fncCheckATCMD(ctx), c.found);
        EXPECT_EQ(ctx.strFailureDesc, c.failure);
        ASSERT_FALSE(run.messages().empty());
        EXPECT_EQ(run.messages().front(), kRunnerRead);
        if (!c.error.empty()) {
            EXPECT_EQ(run.messages().back(), c.error);
        } else {
            EXPECT_FALSE(run.loggedPart("ERR"));
        }
    }
}
