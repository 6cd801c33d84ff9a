#include <gtest/gtest.h>

#include <new>

#include "base/text.h"
#include "context/config.h"
#include "context/run_log.h"
#include "test_support.h"

namespace {

const char* kAgentKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n"
    "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
    "\"RegID\"=\"42\"\r\n";

}  // namespace

TEST(ReadReg, StringValuesAndMissingOnes) {
    TestRun run;
    run.sandbox.writeRegistry(std::string(kAgentKey) + "\"Number\"=dword:0000002a\r\n");
    RunContext& ctx = *run.ctx;
    EXPECT_EQ(ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", "InstallationPath", 1), "C:\\Agent");
    EXPECT_EQ(ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, "software\\kovaod", "RegID", 1), "42");
    EXPECT_EQ(ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", "Missing", 1), "");
    EXPECT_EQ(ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", "RegID", 1), "");
    EXPECT_EQ(ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", "Number", 4), "42");
    EXPECT_EQ(ReadReg(ctx, reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", "RegID", 3), "");
    EXPECT_TRUE(run.lines.empty());
}

TEST(ReadReg, KeyClosedWhenTheValueBufferCannotBeHad) {
    // The value's buffer is refused as a failed allocation would refuse it.
    struct Refusing : Registry {
        int open = 0;
        long OpenKey(RegHandle, const std::string&, std::uint32_t, RegHandle& key) override {
            key = 0x77;
            ++open;
            return reg::ERROR_SUCCESS;
        }
        long QueryValue(RegHandle, const std::string&, std::uint32_t*, char* data, std::uint32_t* size) override {
            if (data != nullptr) throw std::bad_alloc();
            *size = 16;
            return reg::ERROR_MORE_DATA;
        }
        long CloseKey(RegHandle key) override {
            if (key == 0x77) --open;
            return reg::ERROR_SUCCESS;
        }
    } registry;
    TestRun run;
    run.ctx->sys.registry = &registry;
    EXPECT_EQ(ReadReg(*run.ctx, reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", "RegID", 1), "");
    EXPECT_TRUE(run.loggedPart("ERR : in fnc ReadReg. Err : 7::"));
    EXPECT_EQ(registry.open, 0);
}

TEST(GetRegInfo, ValidIdentity) {
    TestRun run;
    run.sandbox.writeRegistry(std::string(kAgentKey) +
                              "\"MEMBERID\"=\"7\"\r\n\"SITEID\"=\"9\"\r\n\"TYPE\"=\" dpma \"\r\n");
    EXPECT_TRUE(fncGetRegInfo(*run.ctx));
    EXPECT_EQ(run.ctx->strRegType, " dpma ");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Opening Registry key SOFTWARE\\KOVAOD"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: MEMBERID :: 7"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: SITEID :: 9"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: REGTYPE ::  dpma "));
    EXPECT_EQ(run.ctx->strFailureDesc, "");
}

TEST(GetRegInfo, FirstInvalidValueWins) {
    struct Case {
        std::string values;
        std::string failure;
    };
    const Case cases[] = {
        {"\"MEMBERID\"=\"0\"\r\n\"SITEID\"=\"x\"\r\n\"TYPE\"=\"MSMA\"\r\n", "Preprocessing:Invalid MEMBERID"},
        {"\"MEMBERID\"=\"abc\"\r\n\"SITEID\"=\"1\"\r\n\"TYPE\"=\"MSMA\"\r\n", "Preprocessing:Invalid MEMBERID"},
        {"\"MEMBERID\"=\"1\"\r\n\"SITEID\"=\"0\"\r\n\"TYPE\"=\"MSMA\"\r\n", "Preprocessing:Invalid SITEID"},
        {"\"MEMBERID\"=\"1\"\r\n\"SITEID\"=\"2\"\r\n\"TYPE\"=\"MSMA2\"\r\n", "Preprocessing:Invalid REGTYPE"},
        {"\"MEMBERID\"=dword:00000005\r\n\"SITEID\"=\"2\"\r\n\"TYPE\"=\"MSMA\"\r\n", "Preprocessing:Invalid MEMBERID"},
    };
    for (const auto& c : cases) {
        TestRun run;
        run.sandbox.writeRegistry(std::string(kAgentKey) + c.values);
        EXPECT_FALSE(fncGetRegInfo(*run.ctx)) << c.values;
        EXPECT_EQ(run.ctx->strFailureDesc, c.failure) << c.values;
        EXPECT_TRUE(run.logged("ERR : " + c.failure)) << c.values;
    }
}

TEST(GetRegInfo, DwordMemberIdReadsAsEmptyWithoutALogLine) {
    TestRun run;
    run.sandbox.writeRegistry(std::string(kAgentKey) +
                              "\"MEMBERID\"=dword:00000005\r\n\"SITEID\"=\"2\"\r\n\"TYPE\"=\"MSMA\"\r\n");
    EXPECT_FALSE(fncGetRegInfo(*run.ctx));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: MEMBERID :: "));
    EXPECT_FALSE(run.loggedPart("Failed to read Registry key MEMBERID"));
}

TEST(GetRegInfo, MissingKeyOrUnreadableFile) {
    TestRun run;  // no registry file at all
    EXPECT_FALSE(fncGetRegInfo(*run.ctx));
    EXPECT_EQ(run.ctx->strFailureDesc.rfind(
                  "Preprocessing:Unable to locate registry entries for SOFTWARE\\KOVAOD. ERRDesc:", 0),
              0u);
    // The system's text for the code keeps its line end.
    EXPECT_TRUE(endsWith(run.ctx->strFailureDesc, "\r\n"));
}

TEST(GetRegInfo, MissingValueLogsTheReadFailure) {
    TestRun run;
    run.sandbox.writeRegistry(std::string(kAgentKey) + "\"SITEID\"=\"2\"\r\n\"TYPE\"=\"MSMA\"\r\n");
    EXPECT_FALSE(fncGetRegInfo(*run.ctx));
    EXPECT_TRUE(run.loggedPart("ERR : Failed to read Registry key MEMBERID. ERRDesc :: "));
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Invalid MEMBERID");
}

TEST(IniAccess, ReadMissingAndWriteLogsSuccess) {
    TestRun run;
    run.useInstallPath();
    RunContext& ctx = *run.ctx;
    std::string value = "old";
    EXPECT_EQ(fncReadINI(ctx, value, "S", "K", "C:\\Agent\\missing.ini"), 0);
    EXPECT_EQ(value, "");
    EXPECT_EQ(fncWriteINI(ctx, "S", "K", "v1", "C:\\Agent\\x.ini"), 0);
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Successfully Written v1 to variable K to file C:\\Agent\\x.ini"));
    EXPECT_EQ(fncReadINI(ctx, value, "s", "k", "C:\\Agent\\x.ini"), 2);
    EXPECT_EQ(value, "v1");
    // A folder that does not exist: nothing is written and nothing is logged.
    const auto before = run.lines.size();
    EXPECT_EQ(fncWriteINI(ctx, "S", "K", "v", "C:\\Nowhere\\x.ini"), 0);
    EXPECT_EQ(run.lines.size(), before);
}

TEST(IniAccess, ValuesAreCutAt554Characters) {
    TestRun run;
    run.useInstallPath();
    run.sandbox.writeFile("C:\\Agent\\long.ini", "[S]\r\nK=" + std::string(600, 'x') + "\r\n");
    std::string value;
    EXPECT_EQ(fncReadINI(*run.ctx, value, "S", "K", "C:\\Agent\\long.ini"), 554);
}

TEST(Paths, SpecialFolderAndShortPath) {
    TestRun run;
    const std::string programFiles = programFilesFolder();
    EXPECT_EQ(GetSpecialfolder(*run.ctx), programFiles);
    EXPECT_EQ(GetShortpath(*run.ctx, programFiles + "\\Nope"), "");
    run.sandbox.makeFolder(programFiles + "\\Here");
    const std::string shortHere = GetShortpath(*run.ctx, programFiles + "\\Here");
    if (onPosixBackend()) {
        // The posix machine has no short names: a path is its own short form.
        EXPECT_EQ(shortHere, programFiles + "\\Here");
    } else {
        // Windows gives the 8.3 form of the same folder: no blanks, and "Here" is short already.
        EXPECT_EQ(shortHere.find(' '), std::string::npos) << shortHere;
        EXPECT_TRUE(startsWith(shortHere, "C:\\")) << shortHere;
        EXPECT_TRUE(endsWith(shortHere, "\\Here")) << shortHere;
        EXPECT_TRUE(run.sandbox.exists(shortHere)) << shortHere;
    }
}

TEST(Paths, AShortPathOfAnyLengthComesBackWhole) {
    TestRun run;
    // Names of eight letters are their own short form, so the short path is as long as the path.
    std::string folder = "C:\\VxRunner";
    while (folder.size() < 200) folder += "\\abcdefgh";
    const std::string runner = folder + "\\atcmd12.exe";
    ASSERT_EQ(runner.size(), 212u);
    run.sandbox.writeFile(runner, "x");
    EXPECT_EQ(upperAscii(GetShortpath(*run.ctx, runner)), upperAscii(runner));
    EXPECT_TRUE(run.lines.empty());
}

TEST(RunLog, StampedLinesAndMessageFunctions) {
    TestRun run;
    RunContext& ctx = *run.ctx;
    WriteLog(ctx, "MSG : one\r\ntwo");
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(run.lines[0], "12/07/2026 10:15:30\tMSG : one\r\ntwo");
    ctx.objLogFile.reset();
    WriteLog(ctx, "lost");  // no log open: nothing happens
    EXPECT_EQ(run.lines.size(), 1u);

    EXPECT_EQ(StripNulls(ctx, std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(StripNulls(ctx, std::string("\0x", 2)), "");
    EXPECT_EQ(StripNulls(ctx, "plain"), "plain");

    const std::string two = launcher::fncFormatMessage(ctx, std::int32_t{2});
    EXPECT_EQ(two.rfind("2-", 0), 0u);
    EXPECT_GT(two.size(), 2u);
    EXPECT_FALSE(endsWith(two, "\r\n"));
    EXPECT_EQ(launcher::fncFormatMessage(ctx, std::int32_t{987654}), "987654");
    EXPECT_TRUE(endsWith(runlog::fncFormatMessage(ctx, std::string("2")), "\r\n"));
}
