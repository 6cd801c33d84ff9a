// Files a script's output names, while the script swaps a link in and out of
// the logs folder, and script entries that reach through a link: nothing
// outside the folder is read, changed or deleted. Needs posix links.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/text.h"
#include "prepare/checksum.h"
#include "report/variables_post.h"
#include "scriptlog/dispatch.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kLogs = "C:\\Agent\\AutomiseLogs\\";
const std::string kVictim = "C:\\Outside\\passwd";
const std::string kVictimText = "root:x:0:0:root:/root:/bin/sh\n";
const std::string kOutsideExport =
    "<?xml version=\"1.0\"?>\r\n<FB6LOG filename=\"o\">\r\n<ACTION name=\"Outside\" status=\"Error\">\r\n"
    "<MESSAGE><![CDATA[OUTSIDE TEXT]]></MESSAGE>\r\n</ACTION>\r\n</FB6LOG>\r\n";

// Replaces `path` atomically by a link to `target` or by a fresh regular file
// (or folder), as a script racing the program would.
void swapIn(const std::string& path, const std::string& target, bool link, bool folder, const std::string& bytes) {
    const std::string staging = path + ".swap";
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    if (link) {
        fs::create_symlink(target, staging, ignored);
    } else if (folder) {
        fs::create_directory(staging, ignored);
        FILE* f = std::fopen((staging + "/x.xml").c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    } else {
        FILE* f = std::fopen(staging.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    // rename() replaces a link or file at once; a folder must go first.
    if (::rename(staging.c_str(), path.c_str()) != 0) {
        fs::remove_all(path, ignored);
        ::rename(staging.c_str(), path.c_str());
    }
}

}  // namespace

// The variables file and a folder of the export are swapped between the real
// thing and a link to outside as fast as the system allows, while the job's
// steps run again and again. Measured on the program before confinement, such
// a race overwrote the outside file in about half the tries.
TEST(Confinement, LinkSwappedDuringTheRunNeverReachesOutside) {
    TestRun run;
    XmlLibrary& xml = *run.real.xml;
    RunContext& ctx = *run.ctx;
    run.useInstallPath("C:\\Agent\\");
    ctx.sys.xml = &xml;
    ctx.job.strExecuteScript = "Job.atz";
    ctx.strVTXVariablesTh = "1000000";
    ctx.strRegID = "42";
    for (const char* folder : {"C:\\Agent\\AutomiseLogs", "C:\\Agent\\HVRPostLogs", "C:\\Agent\\Configuration"}) {
        run.sandbox.makeFolder(folder);
    }
    run.sandbox.writeFile(kVictim, kVictimText);
    run.sandbox.writeFile("C:\\Outside\\x.xml", kOutsideExport);
    const std::string vars = run.sandbox.hostPath(kLogs) + "/vars.xml";
    const std::string folder = run.sandbox.hostPath(kLogs) + "/d";
    const std::string consoleLog = kLogs + "console.log";
    const std::string variables = "<wpatcmdscrvardata><var name='Disk'>40</var></wpatcmdscrvardata>";
    const std::string insideExport = replaceAll(kOutsideExport, "OUTSIDE", "INSIDE");

    std::atomic<bool> stop{false};
    std::thread script([&] {
        for (bool link = false; !stop; link = !link) {
            swapIn(vars, run.sandbox.hostPath(kVictim), link, false, variables);
            swapIn(folder, run.sandbox.hostPath("C:\\Outside"), link, true, insideExport);
        }
    });
    int rewritten = 0, parsed = 0;
    for (int i = 0; i < 300; ++i) {
        run.sandbox.writeFile(consoleLog,
                              "[Export log as XML to file: " + kLogs + "d\\x.xml]\r\nBuild Failed\r\nx\r\n");
        ctx.script.strActionDescList.clear();
        std::string variablesFile;
        fncProcessScriptLog(ctx, consoleLog, variablesFile);
        EXPECT_EQ(ctx.script.strActionDescList.find("OUTSIDE"), std::string::npos);
        if (ctx.script.strActionDescList.find("INSIDE") != std::string::npos) ++parsed;
        if (fncPostVTXVariables(ctx, kLogs + "vars.xml")) ++rewritten;
    }
    stop = true;
    script.join();

    EXPECT_EQ(run.sandbox.readFile(kVictim), kVictimText);
    EXPECT_EQ(run.sandbox.readFile("C:\\Outside\\x.xml"), kOutsideExport);
    const std::string dropped = run.sandbox.readFile("C:\\Agent\\HVRPostLogs\\vars.xml");
    EXPECT_EQ(dropped.find("root:"), std::string::npos);
    // The race was real: some tries found the real file and folder and used them.
    EXPECT_GT(rewritten, 0);
    EXPECT_GT(parsed, 0);
}

// A script entry reached through a link in its deploy folder is not found
// there, whether the link is the file or a folder on the way.
TEST(Confinement, ScriptThroughALinkInTheDeployFolderIsNotFound) {
    TestRun run;
    Md5Library& md5 = *run.real.md5;
    run.useInstallPath("C:\\Agent\\");
    run.ctx->strActionName = "Action_27_KRN";
    run.ctx->sys.md5 = &md5;
    const std::string processed = "C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts";
    run.sandbox.makeFolder(processed);
    run.sandbox.writeFile("C:\\Outside\\up.atz", "abc");
    fs::create_symlink(run.sandbox.hostPath("C:\\Outside\\up.atz"), run.sandbox.hostPath(processed) + "/up.atz");
    fs::create_symlink(run.sandbox.hostPath("C:\\Outside"), run.sandbox.hostPath(processed) + "/lib");
    run.ctx->job.strExecuteScript = "HTTP@#@up.atz@#@900150983cd24fb0d6963f7d28e17f72";
    run.ctx->job.strAdditionalScripts = "HTTP@#@lib\\up.atz@#@900150983cd24fb0d6963f7d28e17f72";
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:File not found " + processed + "\\up.atz\r\nFile not found " +
                                           processed + "\\lib\\up.atz");
    EXPECT_FALSE(run.loggedPart("Getting MD5 checksum"));
}
