// Whole-process timings of the log parsers on large files: each parse runs in
// a child process of its own (this program again, with --case), so its wall
// time and peak memory are its own; `wc -l` on the same file, timed in the
// same round, is the yardstick for "reading the file once". Each case runs
// kRounds rounds and the best of each side is taken. Failing actions are rare
// in the large files, so no failure list fills and every parser reads its
// file to the end. Not a test: run it by hand.
//   bench_scriptlog_speed [MB of the large logs, default 200] [MB of the HTML export, default 80] [cases, comma-separated]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "context/run_context.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/locks.h"
#include "platform/posix/profile.h"
#include "scriptlog/console_log.h"
#include "scriptlog/dispatch.h"
#include "scriptlog/failure_desc.h"
#include "scriptlog/html_export.h"
#include "scriptlog/text_export.h"
#include "scriptlog/xml_export.h"
#include "support/test_support.h"

extern char** environ;

namespace {

const char* kInstall = "C:\\Agent\\";
const char* kIni = "C:\\Agent\\Configuration\\ATZThreshold.ini";
const char* kRunLog = "C:\\Agent\\run.log";
const char* kConsole = "C:\\Agent\\ATCMDLogs\\console.log";
// One failing action whose error lines fill the whole log.
const char* kErrors = "C:\\Agent\\ATCMDLogs\\errors.log";
const char* kText = "C:\\Agent\\AutomiseLogs\\run.txt";
const char* kXml = "C:\\Agent\\AutomiseLogs\\run.xml";
const char* kHtml = "C:\\Agent\\AutomiseLogs\\run.html";
// 100,000 rows of a text export, every one a failing action of its own name.
const char* kDistinct = "C:\\Agent\\AutomiseLogs\\distinct.txt";
constexpr std::size_t kDistinctActions = 100000;
// Rounds per case; the best of each side is taken, as the machine may be shared.
constexpr int kRounds = 5;

// Failing actions reuse a few hundred names, as the steps of a real project do.
std::string stepName(std::size_t n) { return "Step " + std::to_string(n % 400); }
bool failing(std::size_t n) { return n % 20000 == 7; }

std::string pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Writes one file of about `bytes` bytes from `piece(n)`, appended until full
// (or `count` pieces).
template <class Piece>
void generate(const std::string& hostPath, std::uint64_t bytes, const std::string& head, const std::string& tail,
              Piece piece, std::size_t count = SIZE_MAX) {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    std::string chunk = head;
    std::uint64_t written = 0;
    for (std::size_t n = 0; written + chunk.size() < bytes && n < count; ++n) {
        piece(n, chunk);
        if (chunk.size() > (1u << 20)) {
            out << chunk;
            written += chunk.size();
            chunk.clear();
        }
    }
    chunk += tail;
    out << chunk;
}

void consoleLine(std::size_t n, std::string& out) {
    out += "[" + stepName(n) + "]\r\n";
    out += "Copying C:\\Data\\file" + std::to_string(n) + ".dat to D:\\Backup\\file" + std::to_string(n) + ".dat\r\n";
    out += "  1 file(s) copied, 4096 bytes\r\n";
    if (failing(n)) out += "Error : Access denied to D:\\Backup\\file" + std::to_string(n) + ".dat\r\n";
}

void errorLine(std::size_t n, std::string& out) {
    out += "Error : Access denied to D:\\Backup\\file" + std::to_string(n) + ".dat\r\n";
}

const std::string kRule = "---------------|--------------------------|" + std::string(81, '-') +
                          "|------------|----------|----------|";

void textRowOf(const std::string& name, bool fails, std::size_t n, std::string& out) {
    out += pad(fails ? "Error" : "Completed", 15) + "|" + pad("12/07/2026 10:15:30", 26) + "|" + pad(name, 81) + "|" +
           pad("00:00:01", 12) + "|" + pad("", 10) + "|" + pad("", 10) + "|\r\n";
    out += kRule + "\r\n";
    out += "Copying C:\\Data\\file" + std::to_string(n) + ".dat\r\n";
    if (fails) out += "Error : Access denied\r\n";
    out += kRule + "\r\n";
}

void textRow(std::size_t n, std::string& out) { textRowOf(stepName(n), failing(n), n, out); }
void distinctRow(std::size_t n, std::string& out) { textRowOf("Action " + std::to_string(n), true, n, out); }

const std::string kTextHead = std::string(72, '*') + "\r\nAutomise LogFile : C:\\p.atl\r\nLog Title    : Job\r\n" +
                              std::string(72, '*') + "\r\n" + kRule + "\r\n";
const std::string kTextTail = "Copyright (c) 2026\r\nEnd Log.\r\n";

void xmlAction(std::size_t n, std::string& out) {
    out += "<ACTION actionname=\"Copy Files\" name=\"" + stepName(n) +
           "\" starttime=\"20261207101530\" endtime=\"20261207101531\" runtime=\"00000000000001\" status=\"" +
           (failing(n) ? "Error" : "Completed") + "\">\r\n";
    out += "<MESSAGE><![CDATA[Copying C:\\Data\\file" + std::to_string(n) + ".dat\r\n";
    out += "to D:\\Backup\\file" + std::to_string(n) + ".dat\r\n";
    out += "]]></MESSAGE>\r\n</ACTION>\r\n";
}

// Lines of output text per action: enough that the page stays below the
// parser's limit of 32768 table rows. A failing action prints one line, so
// its output never fills the list.
std::size_t outputLines = 12;

void htmlRows(std::size_t n, std::string& out) {
    const bool fails = n % 5000 == 7;
    out += "<tr class=\"" + std::string(fails ? "ErrorRow" : "NormalRow") + "\"><td>" +
           (fails ? "Error" : "Completed") + "</td><td>10:15:30</td><td>" + stepName(n) +
           "</td><td>00:00:01</td><td>Copy Files</td><td>1</td></tr>\r\n";
    out += "<tr class=\"ActionOutput\"><td colspan=\"6\"><div><pre>";
    for (std::size_t i = 0; i < (fails ? 1 : outputLines); ++i) {
        out += "Copying C:\\Data\\file" + std::to_string(n) + " &lt;part " + std::to_string(i) + "&gt;\r\n";
    }
    out += "</pre></div></td></tr>\r\n";
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Outcome {
    double wall = 0;
    long maxRssKb = 0;
    int status = 0;
};

// Runs a program to its end; `quiet` sends its output to /dev/null.
Outcome runChild(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (quiet) ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::perror("posix_spawnp");
        std::exit(1);
    }
    Outcome outcome;
    struct rusage usage {};
    ::wait4(pid, &outcome.status, 0, &usage);
    outcome.wall = seconds(start);
    outcome.maxRssKb = usage.ru_maxrss;
    return outcome;
}

// The counters alone at the scale of the distinct case: 100,000 distinct
// failing actions recorded and written back, the list emptied every 1,000
// actions so that it never fills (no parse gets that far: the list's bound
// stops it first).
void counterPass(RunContext& ctx) {
    FailureCounters counters = beginFailureCounters(ctx);
    for (std::size_t n = 0; n < kDistinctActions; ++n) {
        if (n % 1000 == 0) ctx.script.strActionDescList.clear();
        recordCountedFailure(ctx, counters, "Action " + std::to_string(n), "\r\nError : Access denied", true);
    }
    writeFailureCounters(ctx, counters);
}

// The child side: one parse over the machine named by VORBEX_MACHINE.
int runCase(const std::string& which) {
    PosixFileSystem fs;
    PosixProfileFiles profile;
    PosixLocks locks;
    FakeClock clock;
    Platform platform;
    platform.fs = &fs;
    platform.profile = &profile;
    platform.locks = &locks;
    platform.clock = &clock;
    RunContext ctx(platform);
    // The run log is a file, as in a run: every line is one write.
    ctx.objLogFile = fs.OpenTextFile(kRunLog, IOMode::ForAppending, true);
    ctx.strInstallPath = kInstall;
    ctx.job.strExecuteScript = "Job.atz";
    ctx.strVTXVariablesTh = "24";

    if (which == "readline") {
        // The yardstick inside the program: every line read once, nothing done with it.
        auto stream = fs.OpenTextFile(kConsole, IOMode::ForReading, false);
        std::size_t count = 0;
        std::string_view lines[kLineBatch];
        while (const std::size_t n = stream->ReadLines(lines, kLineBatch)) {
            for (std::size_t i = 0; i < n; ++i) count += !lines[i].empty();
        }
        std::printf("    %-9s %zu non-empty lines\n", which.c_str(), count);
        return 0;
    }
    std::string variablesFile;
    if (which == "console") fncParseCMDLog(ctx, kConsole);
    else if (which == "errors") fncProcessScriptLog(ctx, kErrors, variablesFile);
    else if (which == "dispatch") fncProcessScriptLog(ctx, kConsole, variablesFile);
    else if (which == "text") fncEditScriptlog(ctx, kText);
    else if (which == "xml") fncParseExportLogXML(ctx, kXml);
    else if (which == "html") fncParseExportLogHTML(ctx, kHtml);
    else if (which == "distinct") fncEditScriptlog(ctx, kDistinct);
    else if (which == "counters") counterPass(ctx);
    else return 2;
    ctx.objLogFile.reset();
    std::printf("    %-9s list %zu bytes%s\n", which.c_str(), ctx.script.strActionDescList.size(),
                isCut(ctx.script.strActionDescList) ? " (full: an export parser stops reading there)" : "");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--case") == 0) return runCase(argv[2]);
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const std::uint64_t htmlMegabytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 80;
    const std::uint64_t large = megabytes << 20;
    const std::uint64_t html = htmlMegabytes << 20;
    outputLines = std::max<std::size_t>(12, html / 15000 / 40 + 1);

    Sandbox sandbox;
    sandbox.makeFolder("C:\\Agent\\Configuration");
    sandbox.makeFolder("C:\\Agent\\AutomiseLogs");
    sandbox.makeFolder("C:\\Agent\\ATCMDLogs");

    auto start = std::chrono::steady_clock::now();
    generate(sandbox.hostPath(kConsole), large, "Project File: C:\\p.atp\r\nBuild Started: now\r\n",
             "Build Failed\r\nElapsed time: 10s\r\n", consoleLine);
    generate(sandbox.hostPath(kErrors), large, "Project File: C:\\p.atp\r\n[Copy]\r\n",
             "[Report]\r\nBuild Failed\r\nExit with return code: 1\r\n", errorLine);
    generate(sandbox.hostPath(kText), large, kTextHead, kTextTail, textRow);
    generate(sandbox.hostPath(kDistinct), UINT64_MAX, kTextHead, kTextTail, distinctRow, kDistinctActions);
    generate(sandbox.hostPath(kXml), large,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<FB6LOG filename=\"C:\\p.atl\" projectname=\"P\">\r\n",
             "</FB6LOG>\r\n", xmlAction);
    generate(sandbox.hostPath(kHtml), html,
             "<html><head><title>Log</title></head><body>\r\n<table><tr><td>Header</td></tr></table>\r\n<table>\r\n",
             "</table>\r\n</body></html>\r\n", htmlRows);
    std::printf("generated %llu MB logs and a %llu MB HTML export in %.1f s\n",
                static_cast<unsigned long long>(megabytes), static_cast<unsigned long long>(htmlMegabytes),
                seconds(start));

    struct Case {
        const char* name;
        const char* file;
        const char* what;
    };
    const Case cases[] = {
        {"readline", kConsole, "line reader alone (views, no parsing)"},
        {"console", kConsole, "console-log parser"},
        {"dispatch", kConsole, "dispatch + console-log parser, no export (one pass)"},
        {"errors", kErrors, "dispatch + console-log parser, one action's error lines"},
        {"text", kText, "text export parser"},
        {"xml", kXml, "XML export parser"},
        {"html", kHtml, "HTML export parser (two streaming passes)"},
        {"distinct", kDistinct, "text export, 100,000 distinct failing actions"},
        {"counters", kDistinct, "counters alone, 100,000 distinct actions"},
    };
    std::printf("%-9s %8s %8s %8s %7s %8s  %s\n", "case", "size MB", "parse s", "wc -l s", "ratio", "peak MB", "what");
    const std::string only = argc > 3 ? "," + std::string(argv[3]) + "," : "";
    for (const auto& c : cases) {
        if (!only.empty() && only.find("," + std::string(c.name) + ",") == std::string::npos) continue;
        const std::string host = sandbox.hostPath(c.file);
        runChild({"sh", "-c", "cat \"$0\" >/dev/null", host});  // warms the page cache for both
        Outcome wc, parse;
        for (int round = 0; round < kRounds; ++round) {
            ::unlink(sandbox.hostPath(kIni).c_str());
            ::unlink(sandbox.hostPath(kRunLog).c_str());
            const Outcome w = runChild({"sh", "-c", "wc -l \"$0\" >/dev/null", host});
            const Outcome p = runChild({"/proc/self/exe", "--case", c.name}, round > 0);
            if (round == 0 || w.wall < wc.wall) wc = w;
            if (round == 0 || p.wall < parse.wall) parse = p;
            parse.maxRssKb = std::max(parse.maxRssKb, p.maxRssKb);
            if (p.status != 0) parse.status = p.status;
        }
        std::ifstream in(host, std::ios::binary | std::ios::ate);
        const double size = static_cast<double>(in.tellg()) / (1 << 20);
        std::printf("%-9s %8.1f %8.3f %8.3f %7.1f %8.1f  %s%s\n", c.name, size, parse.wall, wc.wall,
                    parse.wall / wc.wall, parse.maxRssKb / 1024.0, c.what, parse.status == 0 ? "" : "  (FAILED)");
    }
    return 0;
}
