// Whole-process timings of the log parsers on large files: each parse runs in
// a child process of its own (this program again, with --case), so its wall
// time and peak memory are its own; `wc -l` on the same file is the yardstick
// for "reading the file once". Not a test: run it by hand.
//   bench_scriptlog_speed [megabytes for the large files, default 200]
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

#include "platform/posix/backends.h"
#include "run/run_context.h"
#include "scriptlog/console_log.h"
#include "scriptlog/dispatch.h"
#include "scriptlog/html_export.h"
#include "scriptlog/text_export.h"
#include "scriptlog/xml_export.h"
#include "support/test_support.h"

extern char** environ;

namespace {

const char* kInstall = "C:\\Agent\\";
const char* kConsole = "C:\\Agent\\ATCMDLogs\\console.log";
// One failing action whose error lines fill the whole log.
const char* kErrors = "C:\\Agent\\ATCMDLogs\\errors.log";
const char* kText = "C:\\Agent\\AutomiseLogs\\run.txt";
const char* kXml = "C:\\Agent\\AutomiseLogs\\run.xml";
const char* kHtml = "C:\\Agent\\AutomiseLogs\\run.html";

// Failing actions reuse a few hundred names, as the steps of a real project do.
std::string stepName(std::size_t n) { return "Step " + std::to_string(n % 400); }
bool failing(std::size_t n) { return n % 100 == 7; }

std::string pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Writes one file of about `bytes` bytes from `piece(n)`, appended until full.
template <class Piece>
void generate(const std::string& hostPath, std::uint64_t bytes, const std::string& head, const std::string& tail,
              Piece piece) {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    std::string chunk = head;
    std::uint64_t written = 0;
    for (std::size_t n = 0; written + chunk.size() < bytes; ++n) {
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

void textRow(std::size_t n, std::string& out) {
    out += pad(failing(n) ? "Error" : "Completed", 15) + "|" + pad("12/07/2026 10:15:30", 26) + "|" +
           pad(stepName(n), 81) + "|" + pad("00:00:01", 12) + "|" + pad("", 10) + "|" + pad("", 10) + "|\r\n";
    out += kRule + "\r\n";
    out += "Copying C:\\Data\\file" + std::to_string(n) + ".dat\r\n";
    if (failing(n)) out += "Error : Access denied\r\n";
    out += kRule + "\r\n";
}

void xmlAction(std::size_t n, std::string& out) {
    out += "<ACTION actionname=\"Copy Files\" name=\"" + stepName(n) +
           "\" starttime=\"20261207101530\" endtime=\"20261207101531\" runtime=\"00000000000001\" status=\"" +
           (failing(n) ? "Error" : "Completed") + "\">\r\n";
    out += "<MESSAGE><![CDATA[Copying C:\\Data\\file" + std::to_string(n) + ".dat\r\n";
    out += "to D:\\Backup\\file" + std::to_string(n) + ".dat\r\n";
    out += "]]></MESSAGE>\r\n</ACTION>\r\n";
}

// Lines of output text per action: enough that the page stays below the
// parser's limit of 32768 table rows.
std::size_t outputLines = 12;

void htmlRows(std::size_t n, std::string& out) {
    out += "<tr class=\"" + std::string(failing(n) ? "ErrorRow" : "NormalRow") + "\"><td>" +
           (failing(n) ? "Error" : "Completed") + "</td><td>10:15:30</td><td>" + stepName(n) +
           "</td><td>00:00:01</td><td>Copy Files</td><td>1</td></tr>\r\n";
    out += "<tr class=\"ActionOutput\"><td colspan=\"6\"><div><pre>";
    for (std::size_t i = 0; i < outputLines; ++i) {
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

Outcome runChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
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

// The child side: one parse over the machine named by VORBEX_MACHINE.
int runCase(const std::string& which) {
    PosixFileSystem fs;
    PosixProfileFiles profile;
    FakeClock clock;
    Platform platform;
    platform.fs = &fs;
    platform.profile = &profile;
    platform.clock = &clock;
    RunContext ctx(platform);
    std::vector<std::string> lines;
    ctx.objLogFile = std::make_unique<CaptureStream>(&lines);
    ctx.strInstallPath = kInstall;
    ctx.strExecuteScript = "Job.atz";
    ctx.strVTXVariablesTh = "24";

    if (which == "readline") {
        // The yardstick inside the program: every line read once, nothing done with it.
        auto stream = fs.OpenTextFile(kConsole, IOMode::ForReading, false);
        std::size_t count = 0;
        while (!stream->AtEndOfStream()) count += stream->ReadLine().size() > 0;
        std::printf("    %-8s %zu non-empty lines\n", which.c_str(), count);
        return 0;
    }
    if (which == "console") fncParseCMDLog(ctx, kConsole, "0");
    else if (which == "errors") fncProcessScriptLog(ctx, kErrors);
    else if (which == "dispatch") fncProcessScriptLog(ctx, kConsole);
    else if (which == "text") fncEditScriptlog(ctx, kText, "0");
    else if (which == "xml") fncParseExportLogXML(ctx, kXml, "0");
    else if (which == "html") fncParseExportLogHTML(ctx, kHtml, "0");
    else return 2;
    std::printf("    %-8s list %zu bytes, %zu log lines\n", which.c_str(), ctx.strActionDescList.size(), lines.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--case") == 0) return runCase(argv[2]);
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const std::uint64_t large = megabytes << 20;
    const std::uint64_t html = large / 10;
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
    generate(sandbox.hostPath(kText), large,
             std::string(72, '*') + "\r\nAutomise LogFile : C:\\p.atl\r\nLog Title    : Job\r\n" +
                 std::string(72, '*') + "\r\n" + kRule + "\r\n",
             "Copyright (c) 2026\r\nEnd Log.\r\n", textRow);
    generate(sandbox.hostPath(kXml), large,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<FB6LOG filename=\"C:\\p.atl\" projectname=\"P\">\r\n",
             "</FB6LOG>\r\n", xmlAction);
    generate(sandbox.hostPath(kHtml), html,
             "<html><head><title>Log</title></head><body>\r\n<table><tr><td>Header</td></tr></table>\r\n<table>\r\n",
             "</table>\r\n</body></html>\r\n", htmlRows);
    std::printf("generated %llu MB logs and a %llu MB HTML export in %.1f s\n",
                static_cast<unsigned long long>(megabytes), static_cast<unsigned long long>(megabytes / 10),
                seconds(start));

    struct Case {
        const char* name;
        const char* file;
        const char* what;
    };
    const Case cases[] = {
        {"readline", kConsole, "ReadLine loop alone, no parsing"},
        {"console", kConsole, "console-log parser"},
        {"dispatch", kConsole, "dispatch + console-log parser (two passes)"},
        {"errors", kErrors, "dispatch + console-log parser, one action's error lines"},
        {"text", kText, "text export parser"},
        {"xml", kXml, "XML export parser"},
        {"html", kHtml, "HTML export parser (two streaming passes)"},
    };
    std::printf("%-9s %9s %9s %8s %9s %9s  %s\n", "case", "size MB", "parse s", "wc -l s", "ratio", "peak MB", "what");
    for (const auto& c : cases) {
        const std::string host = sandbox.hostPath(c.file);
        ::unlink(sandbox.hostPath("C:\\Agent\\Configuration\\ATZThreshold.ini").c_str());
        runChild({"sh", "-c", "cat \"$0\" >/dev/null", host});  // warms the page cache for both
        const Outcome wc = runChild({"sh", "-c", "wc -l \"$0\" >/dev/null", host});
        const Outcome parse = runChild({"/proc/self/exe", "--case", c.name});
        std::ifstream in(host, std::ios::binary | std::ios::ate);
        const double size = static_cast<double>(in.tellg()) / (1 << 20);
        std::printf("%-9s %9.1f %9.2f %8.2f %9.1f %9.1f  %s%s\n", c.name, size, parse.wall, wc.wall,
                    parse.wall / wc.wall, parse.maxRssKb / 1024.0, c.what, parse.status == 0 ? "" : "  (FAILED)");
    }
    return 0;
}
