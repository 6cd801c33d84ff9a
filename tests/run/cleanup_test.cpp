// Clean-up of the script folders after each job and of old logs at the end of a run.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "run/cleanup.h"
#include "support/test_support.h"

namespace {

std::string localSync() { return programFilesFolder() + "\\KOVAExMonScripts"; }
const std::string kProcessed = "C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts";
const std::string kAutomiseLogs = "C:\\Agent\\AutomiseLogs";
const std::string kApplicationLog = "C:\\Agent\\ApplicationLog";

struct CleanupRun : TestRun {
    CleanupRun() {
        useInstallPath();
        ctx->strActionName = "Action_27_KRN";
        clock.time = LocalTime{2026, 12, 7, 10, 15, 30};
    }
    // Writes a file whose time stamps show the given local time.
    void writeFileAt(const std::string& path, const LocalTime& t) {
        sandbox.writeFile(path, "x");
        ASSERT_TRUE(setFileTime(sandbox.hostPath(path), t)) << path;
    }
    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& m : messages()) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
};

// The real file system, except that one path refuses to be deleted.
class StubbornFileSystem : public ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;
    std::string stubborn;
    void DeleteFile(const std::string& path, bool force) override {
        if (path == stubborn) throw runError(err::PathAccess);
        ForwardingFileSystem::DeleteFile(path, force);
    }
};

const char* const kNoLinks = "symbolic links are made with the posix machine's own calls";

std::string twoDigits(int n) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

}  // namespace

// ---- subDeleteDownloadedFiles ----

TEST(DeleteDownloadedFiles, SideFilesGoAndEverythingElseStays) {
    CleanupRun run;
    for (const char* name : {"SCRIPT.LOG3", "run.AtpInf", "notes.log3.txt", "script.atp", "padded.log3 "}) {
        run.sandbox.writeFile(localSync() + "\\" + name, "x");
    }
    run.sandbox.writeFile(localSync() + "\\locked.log3", "x");
    run.fs.SetReadOnly(localSync() + "\\locked.log3", true);
    // A folder with a side-file name.
    run.sandbox.writeFile(localSync() + "\\sub.log3\\inner.log3", "x");
    run.sandbox.writeFile(kProcessed + "\\b.ATPINF", "x");
    run.sandbox.writeFile(kProcessed + "\\main.atp", "x");

    subDeleteDownloadedFiles(*run.ctx);

    for (const char* gone : {"SCRIPT.LOG3", "run.AtpInf", "padded.log3 "}) {
        EXPECT_FALSE(run.sandbox.exists(localSync() + "\\" + gone)) << gone;
    }
    for (const char* kept : {"notes.log3.txt", "script.atp", "locked.log3", "sub.log3\\inner.log3"}) {
        EXPECT_TRUE(run.sandbox.exists(localSync() + "\\" + kept)) << kept;
    }
    EXPECT_FALSE(run.sandbox.exists(kProcessed + "\\b.ATPINF"));
    EXPECT_TRUE(run.sandbox.exists(kProcessed + "\\main.atp"));

    EXPECT_TRUE(run.logged("MSG : Preprocessing : Deleting file :: " + localSync() + "\\SCRIPT.LOG3"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing : Deleting file :: " + localSync() + "\\locked.log3"));
    EXPECT_TRUE(run.logged("MSG : Preprocessing : Deleting file :: " + kProcessed + "\\b.ATPINF"));
    const std::vector<std::string> errors = {"ERR : Preprocessing : in subDeleteDownloadedFiles. 70::Permission denied"};
    std::vector<std::string> seen;
    for (const auto& m : run.messages()) {
        if (m.rfind("ERR", 0) == 0) seen.push_back(m);
    }
    EXPECT_EQ(seen, errors);
    EXPECT_EQ(run.count("MSG : Preprocessing : Deleting file :: "), 5);
}

TEST(DeleteDownloadedFiles, ALinkToASideFileElsewhereIsNeitherDeletedNorFollowed) {
    if (!onPosixBackend()) GTEST_SKIP() << kNoLinks;
    CleanupRun run;
    run.sandbox.writeFile(localSync() + "\\plain.log3", "x");
    run.sandbox.writeFile("C:\\Elsewhere\\victim.log3", "x");
    std::filesystem::create_symlink(run.sandbox.hostPath("C:\\Elsewhere\\victim.log3"),
                                    run.sandbox.hostPath(localSync()) + "/link.log3");

    subDeleteDownloadedFiles(*run.ctx);

    EXPECT_FALSE(run.sandbox.exists(localSync() + "\\plain.log3"));
    EXPECT_TRUE(std::filesystem::is_symlink(run.sandbox.hostPath(localSync()) + "/link.log3"));
    EXPECT_TRUE(run.sandbox.exists("C:\\Elsewhere\\victim.log3"));
    EXPECT_EQ(run.count("MSG : Preprocessing : Deleting file :: "), 1);
}

TEST(DeleteDownloadedFiles, EachFolderHasItsOwnScanLimit) {
    CleanupRun run;
    // Alternating letter case: only an order that ignores case keeps the numbers in sequence.
    for (int i = 0; i < 40; ++i) {
        run.sandbox.writeFile(localSync() + "\\" + (i % 2 ? "f" : "F") + twoDigits(i) + ".log3", "x");
    }
    // The kept file counts as examined too.
    run.sandbox.writeFile(kProcessed + "\\a0.txt", "x");
    for (int i = 0; i < 24; ++i) run.sandbox.writeFile(kProcessed + "\\g" + twoDigits(i) + ".log3", "x");

    subDeleteDownloadedFiles(*run.ctx);

    for (int i = 0; i < 40; ++i) {
        const std::string path = localSync() + "\\" + (i % 2 ? "f" : "F") + twoDigits(i) + ".log3";
        EXPECT_EQ(run.sandbox.exists(path), i >= 31) << path;
    }
    for (int i = 0; i < 24; ++i) {
        const std::string path = kProcessed + "\\g" + twoDigits(i) + ".log3";
        EXPECT_EQ(run.sandbox.exists(path), i >= 20) << path;
    }
    EXPECT_TRUE(run.sandbox.exists(kProcessed + "\\a0.txt"));
    EXPECT_EQ(run.count("MSG : Preprocessing : Deleting file :: "), 51);
}

// Only the first files are ordered, the rest merely set apart: the files
// examined must still be exactly the first 21 of the whole folder's order.
TEST(DeleteDownloadedFiles, TheFilesExaminedAreTheFirstOfALargeFolder) {
    CleanupRun run;
    std::mt19937 random(20261207);
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        std::string name;
        for (int k = 0; k < 3; ++k) name += "aB_c"[random() % 4];
        name += std::to_string(i) + (i % 3 == 0 ? ".LOG3" : i % 3 == 1 ? ".atpinf" : ".atz");
        names.push_back(name);
        run.sandbox.writeFile(kProcessed + "\\" + name, "x");
    }

    subDeleteDownloadedFiles(*run.ctx);

    std::vector<std::string> order = names;
    std::sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
        const std::string ua = upperAscii(a), ub = upperAscii(b);
        return ua != ub ? ua < ub : a < b;
    });
    const std::set<std::string> examined(order.begin(), order.begin() + 21);
    int deleted = 0;
    for (const std::string& name : names) {
        const bool side = !endsWith(name, ".atz");
        const bool gone = side && examined.count(name) > 0;
        EXPECT_EQ(run.sandbox.exists(kProcessed + "\\" + name), !gone) << name;
        deleted += gone ? 1 : 0;
    }
    EXPECT_EQ(run.count("MSG : Preprocessing : Deleting file :: "), deleted);
}

TEST(DeleteDownloadedFiles, MissingFolderIsLoggedAndTheOtherStillCleaned) {
    CleanupRun run;
    run.sandbox.writeFile(kProcessed + "\\x.log3", "x");
    subDeleteDownloadedFiles(*run.ctx);
    EXPECT_FALSE(run.sandbox.exists(kProcessed + "\\x.log3"));
    EXPECT_TRUE(run.logged("ERR : Preprocessing : in subDeleteDownloadedFiles. 76::Path not found"));

    CleanupRun neither;
    subDeleteDownloadedFiles(*neither.ctx);
    EXPECT_EQ(neither.count("ERR : Preprocessing : in subDeleteDownloadedFiles. 76::Path not found"), 2);
}

// ---- subdeletepreviousfiles ----

TEST(DeletePreviousFiles, OldFilesByCalendarDay) {
    CleanupRun run;  // today is 12/07/2026 10:15:30
    run.writeFileAt(kAutomiseLogs + "\\yesterday_early.xml", {2026, 12, 6, 0, 0, 1});
    run.writeFileAt(kAutomiseLogs + "\\yesterday_late.xml", {2026, 12, 6, 23, 59, 59});
    run.writeFileAt(kAutomiseLogs + "\\two_days.xml", {2026, 12, 5, 0, 0, 0});
    run.writeFileAt(kAutomiseLogs + "\\three_days.xml", {2026, 12, 4, 23, 59, 0});
    run.writeFileAt(kAutomiseLogs + "\\tomorrow.xml", {2026, 12, 8, 9, 0, 0});
    run.writeFileAt(kAutomiseLogs + "\\last_year.xml", {2025, 12, 31, 12, 0, 0});
    run.writeFileAt(kAutomiseLogs + "\\locked.xml", {2026, 11, 1, 8, 0, 0});
    run.fs.SetReadOnly(kAutomiseLogs + "\\locked.xml", true);

    run.writeFileAt(kApplicationLog + "\\old_KTATCMD_1.txt", {2026, 12, 1, 8, 0, 0});
    run.writeFileAt(kApplicationLog + "\\other.txt", {2026, 12, 1, 8, 0, 0});
    run.writeFileAt(kApplicationLog + "\\kTATCMD_new.txt", {2026, 12, 5, 8, 0, 0});
    run.writeFileAt(kApplicationLog + "\\kHVRLog\\vorbex_kTATCMD_old.txt", {2026, 11, 1, 8, 0, 0});
    run.writeFileAt(kApplicationLog + "\\kHVRLog\\vorbex_20261101.txt", {2026, 11, 1, 8, 0, 0});

    subdeletepreviousfiles(*run.ctx);

    for (const char* kept : {"yesterday_early.xml", "yesterday_late.xml", "two_days.xml", "tomorrow.xml"}) {
        EXPECT_TRUE(run.sandbox.exists(kAutomiseLogs + "\\" + kept)) << kept;
    }
    for (const char* gone : {"three_days.xml", "last_year.xml", "locked.xml"}) {
        EXPECT_FALSE(run.sandbox.exists(kAutomiseLogs + "\\" + gone)) << gone;
    }
    EXPECT_FALSE(run.sandbox.exists(kApplicationLog + "\\old_KTATCMD_1.txt"));
    EXPECT_TRUE(run.sandbox.exists(kApplicationLog + "\\other.txt"));
    EXPECT_TRUE(run.sandbox.exists(kApplicationLog + "\\kTATCMD_new.txt"));
    EXPECT_TRUE(run.sandbox.exists(kApplicationLog + "\\kHVRLog\\vorbex_kTATCMD_old.txt"));
    EXPECT_TRUE(run.sandbox.exists(kApplicationLog + "\\kHVRLog\\vorbex_20261101.txt"));

    const std::vector<std::string> expected = {
        "MSG : Preprocessing : in subdeletepreviousfiles",
        "MSG : Deleting file " + kAutomiseLogs + "\\last_year.xml",
        "MSG : Deleting file " + kAutomiseLogs + "\\locked.xml",
        "MSG : Deleting file " + kAutomiseLogs + "\\three_days.xml",
        "MSG : Deleting file " + kApplicationLog + "\\old_KTATCMD_1.txt",
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST(DeletePreviousFiles, ALinkToAnOldRunnerLogIsNeitherDeletedNorFollowed) {
    if (!onPosixBackend()) GTEST_SKIP() << kNoLinks;
    CleanupRun run;
    run.sandbox.makeFolder(kAutomiseLogs);
    run.writeFileAt(kApplicationLog + "\\old_KTATCMD_1.txt", {2026, 12, 1, 8, 0, 0});
    run.writeFileAt("C:\\Elsewhere\\kTATCMD_target.txt", {2026, 11, 1, 8, 0, 0});
    const std::string link = run.sandbox.hostPath(kApplicationLog) + "/kTATCMD_link.txt";
    std::filesystem::create_symlink(run.sandbox.hostPath("C:\\Elsewhere\\kTATCMD_target.txt"), link);
    ASSERT_TRUE(setFileTime(link, {2026, 11, 1, 8, 0, 0}));

    subdeletepreviousfiles(*run.ctx);

    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(run.sandbox.exists("C:\\Elsewhere\\kTATCMD_target.txt"));
    const std::vector<std::string> expected = {
        "MSG : Preprocessing : in subdeletepreviousfiles",
        "MSG : Deleting file " + kApplicationLog + "\\old_KTATCMD_1.txt",
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST(DeletePreviousFiles, ErrorsAreIgnoredSilently) {
    CleanupRun run;
    StubbornFileSystem fs{run.fs};
    run.ctx->objFSO = &fs;
    // No AutomiseLogs folder at all; one runner log that cannot be deleted.
    run.writeFileAt(kApplicationLog + "\\a_kTATCMD_.txt", {2026, 12, 1, 8, 0, 0});
    run.writeFileAt(kApplicationLog + "\\b_kTATCMD_.txt", {2026, 12, 1, 8, 0, 0});
    run.writeFileAt(kApplicationLog + "\\c_kTATCMD_.txt", {2026, 12, 1, 8, 0, 0});
    fs.stubborn = kApplicationLog + "\\b_kTATCMD_.txt";

    subdeletepreviousfiles(*run.ctx);

    EXPECT_FALSE(run.sandbox.exists(kApplicationLog + "\\a_kTATCMD_.txt"));
    EXPECT_TRUE(run.sandbox.exists(kApplicationLog + "\\b_kTATCMD_.txt"));
    EXPECT_FALSE(run.sandbox.exists(kApplicationLog + "\\c_kTATCMD_.txt"));
    EXPECT_EQ(run.count("ERR"), 0);
    EXPECT_EQ(run.count("MSG : Deleting file "), 3);
}

// A folder of many old files: the deletion lines reach the real run log in
// batches, whole, each before its file goes, in the folder's order; a file
// that cannot be deleted costs nothing but itself.
TEST(DeletePreviousFiles, ManyOldFilesAreAllLoggedWholeAndDeleted) {
    CleanupRun run;
    StubbornFileSystem fs{run.fs};
    run.ctx->objFSO = &fs;
    const std::string runLog = "C:\\Agent\\ApplicationLog\\kHVRLog\\run.txt";
    run.sandbox.makeFolder("C:\\Agent\\ApplicationLog\\kHVRLog");
    run.ctx->objLogFile = run.fs.OpenSharedLog(runLog, 1024 * 1024);
    constexpr int kFiles = 600;  // more than two batches
    std::vector<std::string> expected{"MSG : Preprocessing : in subdeletepreviousfiles"};
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = kAutomiseLogs + "\\old_" + std::to_string(1000 + i) + ".xml";
        run.writeFileAt(path, {2026, 11, 1, 8, 0, 0});
        expected.push_back("MSG : Deleting file " + path);
    }
    fs.stubborn = kAutomiseLogs + "\\old_1300.xml";

    subdeletepreviousfiles(*run.ctx);
    run.ctx->objLogFile.reset();

    std::vector<std::string> messages;
    const std::string text = run.sandbox.readFile(runLog);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without its end";
        const std::string line = text.substr(at, end - at);
        ASSERT_EQ(line.rfind("12/07/2026 10:15:30\t", 0), 0u) << line;
        messages.push_back(line.substr(20));
        at = end + 2;
    }
    EXPECT_EQ(messages, expected);
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = kAutomiseLogs + "\\old_" + std::to_string(1000 + i) + ".xml";
        EXPECT_EQ(run.sandbox.exists(path), path == fs.stubborn) << path;
    }
}

// Temporary files that runs which died left behind go once they are more than
// a day old; nothing else in those folders is touched, and a complete record
// never has a temporary name.
TEST(DeletePreviousFiles, OwnLeftoversGoAfterADayAndOnlyThey) {
    CleanupRun run;  // today is 12/07/2026 10:15:30
    const LocalTime dayBefore{2026, 12, 5, 23, 59, 0}, yesterday{2026, 12, 6, 0, 0, 1};
    const std::string posted = "C:\\Agent\\HVRPostLogs\\";
    run.writeFileAt(posted + "wpdcmatztempexecst_N_42_120520262359000.xml.vx4711.tmp", dayBefore);
    run.writeFileAt(posted + "wpdcmatztempexecst_N_42_120620260000011.xml.vx4711.tmp", yesterday);
    run.writeFileAt(posted + "wpdcmatztempexecst_N_42_120120260800000.xml", {2026, 12, 1, 8, 0, 0});
    run.writeFileAt(posted + "vars.xml.tmp", dayBefore);
    run.writeFileAt(posted + "report.vx.tmp", dayBefore);
    run.writeFileAt(kAutomiseLogs + "\\wpdcmatztempexecfail_N_42_x.xml.VX12.TMP", dayBefore);
    run.writeFileAt("C:\\Agent\\Configuration\\.ATZThreshold.ini.vx99.tmp", dayBefore);
    run.writeFileAt("C:\\Agent\\Configuration\\ATZThreshold.ini", dayBefore);
    run.writeFileAt("C:\\Agent\\kScripts\\KOVAVariables.ini.vx7.tmp", dayBefore);
    run.writeFileAt("C:\\Agent\\kScripts\\Setup.atz.tmp", dayBefore);

    subdeletepreviousfiles(*run.ctx);

    for (const std::string& gone : {posted + "wpdcmatztempexecst_N_42_120520262359000.xml.vx4711.tmp",
                                   kAutomiseLogs + "\\wpdcmatztempexecfail_N_42_x.xml.VX12.TMP",
                                   std::string("C:\\Agent\\Configuration\\.ATZThreshold.ini.vx99.tmp"),
                                   std::string("C:\\Agent\\kScripts\\KOVAVariables.ini.vx7.tmp")}) {
        EXPECT_FALSE(run.sandbox.exists(gone)) << gone;
    }
    for (const std::string& kept : {posted + "wpdcmatztempexecst_N_42_120620260000011.xml.vx4711.tmp",
                                   posted + "wpdcmatztempexecst_N_42_120120260800000.xml", posted + "vars.xml.tmp",
                                   posted + "report.vx.tmp", std::string("C:\\Agent\\Configuration\\ATZThreshold.ini"),
                                   std::string("C:\\Agent\\kScripts\\Setup.atz.tmp")}) {
        EXPECT_TRUE(run.sandbox.exists(kept)) << kept;
    }
    EXPECT_EQ(run.count("MSG : Deleting file "), 4);
}
