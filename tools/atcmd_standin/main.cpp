// atcmd-standin: does for the tests and the demo what the script runner does
// for the program, and nothing more. It takes the runner's argument string
// (/B, /L"console log", /A, /P"project", /V...), reads the project file named
// by /P (the format is in README.md) and carries out its lines: console-log
// lines, an exported log, a variables file, sleeps, a grandchild, exit codes.
// Files and the run variables file go through the platform seam with Windows
// paths: native on Windows, mapped through VORBEX_MACHINE on Linux.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "context/agent_files.h"
#include "context/atcmd.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "process_self.h"

namespace {

struct Arguments {
    std::string log;      // /L
    std::string project;  // /P
    std::string parameters;  // /V, the pieces joined by blanks
    bool interactive = false;  // /A
    int batch = 0;             // /B, however often
    std::vector<std::string> all;
};

Arguments parseArguments(int argc, char** argv) {
    Arguments a;
    bool inParameters = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argumentText(argv[i]);
        a.all.push_back(arg);
        // Everything after /V belongs to the parameters, switches included.
        if (inParameters) {
            a.parameters += " " + arg;
            continue;
        }
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) continue;
        const char letter = static_cast<char>(arg[1] & ~0x20);
        const std::string value = arg.substr(2);
        switch (letter) {
            case 'B': ++a.batch; break;
            case 'A': a.interactive = true; break;
            case 'L':
                if (a.log.empty()) a.log = value;
                break;
            case 'P':
                if (a.project.empty()) a.project = value;
                break;
            case 'V':
                a.parameters = value;
                inParameters = true;
                break;
            default: break;
        }
    }
    return a;
}

bool isAbsoluteWindows(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

// Creates the folders of a Windows path that are missing, outermost first.
void makeFolders(FileSystem& fs, const std::string& folder) {
    if (folder.empty() || folder.back() == ':' || fs.FolderExists(folder)) return;
    makeFolders(fs, folderOf(folder));
    ignoreErrors([&] { fs.CreateFolder(folder); });
}

// Writes a whole file, creating its folders; false when it cannot.
bool writeFile(FileSystem& fs, const std::string& path, const std::string& bytes) {
    makeFolders(fs, folderOf(path));
    bool ok = false;
    ignoreErrors([&] {
        fs.CreateTextFile(path, true)->Write(bytes);
        ok = true;
    });
    return ok;
}

bool readFile(FileSystem& fs, const std::string& path, std::string& bytes) {
    bool ok = false;
    ignoreErrors([&] {
        bytes = fs.OpenTextFile(path, IOMode::ForReading, false)->ReadAll();
        ok = true;
    });
    return ok;
}

std::string replaceAll(std::string text, const std::string& find, const std::string& with) {
    for (std::size_t pos = 0; (pos = text.find(find, pos)) != std::string::npos; pos += with.size()) {
        text.replace(pos, find.size(), with);
    }
    return text;
}

class Runner {
public:
    Runner(Platform& sys, Arguments args) : sys_(sys), args_(std::move(args)) {
        // The program writes the console log into <install>AutomiseLogs\, so
        // the installation is the folder above the log's folder unless the
        // project names it.
        const std::string above = folderOf(folderOf(args_.log));
        if (!above.empty()) install_ = above + "\\";
    }

    int run() {
        std::string text;
        if (args_.project.empty() || !readFile(*sys_.fs, args_.project, text)) {
            console("Error : project file not found: " + args_.project);
            console("Build Failed");
            return 3;
        }
        std::vector<std::string> lines;
        std::stringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& l = lines[i];
            const auto blank = l.find(' ');
            const std::string word = l.substr(0, blank);
            const std::string rest = blank == std::string::npos ? std::string() : l.substr(blank + 1);
            if (word.empty() || word[0] == '#') continue;
            // "inline" takes the lines up to "end" as the content.
            auto content = [&](const std::string& source, bool& ok) {
                ok = true;
                if (source == "inline") {
                    std::string body;
                    while (++i < lines.size() && lines[i] != "end") body += substitute(lines[i]) + "\r\n";
                    return body;
                }
                std::string bytes;
                const std::string path = isAbsoluteWindows(source) ? source : folderOf(args_.project) + "\\" + source;
                ok = readFile(*sys_.fs, path, bytes);
                if (!ok) console("Error : cannot read " + path);
                return bytes;
            };

            if (word == "install") {
                install_ = rest;
                if (!install_.empty() && install_.back() != '\\') install_ += "\\";
            } else if (word == "exportfile") {
                exportName_ = rest;
            } else if (word == "varsfile") {
                varsName_ = rest;
            } else if (word == "console") {
                console(substitute(rest));
            } else if (word == "repeat") {
                const auto space = rest.find(' ');
                const long count = std::atol(rest.substr(0, space).c_str());
                const std::string text =
                    space == std::string::npos ? std::string() : substitute(rest.substr(space + 1));
                for (long n = 0; n < count; ++n) console(text);
            } else if (word == "export") {
                const auto space = rest.find(' ');
                const std::string kind = rest.substr(0, space);
                const std::string source = space == std::string::npos ? std::string() : rest.substr(space + 1);
                std::string label;
                if (kind == "xml") label = atcmd::kExportXml;
                else if (kind == "text") label = atcmd::kExportText;
                else if (kind == "html") label = atcmd::kExportHtml;
                else return fail("unknown export kind " + kind);
                bool ok = false;
                const std::string body = content(source, ok);
                if (!ok) return 4;
                writeFile(*sys_.fs, exportPath(), body);
                console(label + " " + exportPath() + "]");
            } else if (word == "vars") {
                bool ok = true;
                const std::string body = rest == "inline" ? content(rest, ok) : substitute(rest) + "\r\n";
                writeFile(*sys_.fs, varsPath(), body);
                console(std::string(atcmd::kVariablesFileLine) + varsPath());
            } else if (word == "write") {
                // Another file rewritten while the runner runs, as a script may
                // rewrite a file of its own job.
                const auto space = rest.find(' ');
                const std::string name = rest.substr(0, space);
                const std::string text =
                    space == std::string::npos ? std::string() : substitute(rest.substr(space + 1));
                const std::string path = isAbsoluteWindows(name) ? name : folderOf(args_.project) + "\\" + name;
                console((writeFile(*sys_.fs, path, text + "\r\n") ? "Wrote " : "Cannot write ") + path);
            } else if (word == "sleep") {
                sys_.clock->sleepMs(static_cast<std::uint32_t>(std::atol(rest.c_str())));
            } else if (word == "child" || word == "stubborn") {
                std::uint32_t pid = 0;
                if (!startSleepingChild(sys_, std::atol(rest.c_str()), word == "stubborn", pid)) {
                    return fail("cannot start a child");
                }
                console("Child process id: " + std::to_string(pid));
            } else if (word == "detached") {
                std::uint32_t pid = 0;
                if (!startDetachedChild(sys_, std::atol(rest.c_str()), pid)) return fail("cannot start a child");
                console("Detached process id: " + std::to_string(pid));
            } else if (word == "hop") {
                const auto space = rest.find(' ');
                const long interval = std::atol(rest.substr(0, space).c_str());
                const long lifetime = space == std::string::npos ? 60000 : std::atol(rest.c_str() + space + 1);
                std::uint32_t pid = 0;
                if (!startHopper(interval, lifetime, pid)) return fail("cannot start a hopping process");
                console("Hopper process id: " + std::to_string(pid));
            } else if (word == "pid") {
                console("Process id: " + std::to_string(currentProcessId()));
            } else if (word == "env") {
                const char* value = std::getenv(rest.c_str());
                console(value ? "Environment " + rest + "=" + value : "Environment " + rest + " is not set");
                console("User id: " + currentUserId());
            } else if (word == "args") {
                for (std::size_t n = 0; n < args_.all.size(); ++n) {
                    console("Argument " + std::to_string(n + 1) + ": " + args_.all[n]);
                }
                console("Parameters: " + args_.parameters);
            } else if (word == "exit") {
                return std::atoi(rest.c_str());
            } else {
                return fail("unknown directive " + l);
            }
        }
        return 0;
    }

private:
    int fail(const std::string& what) {
        console("Error : " + what);
        return 2;
    }

    // ${INSTALL}, ${LOG}, ${PROJECT}, ${EXPORT}, ${VARS}, ${PARAMETERS}.
    std::string substitute(std::string text) {
        text = replaceAll(text, "${INSTALL}", install_);
        text = replaceAll(text, "${LOG}", args_.log);
        text = replaceAll(text, "${PROJECT}", args_.project);
        text = replaceAll(text, "${PARAMETERS}", args_.parameters);
        if (text.find("${EXPORT}") != std::string::npos) text = replaceAll(text, "${EXPORT}", exportPath());
        if (text.find("${VARS}") != std::string::npos) text = replaceAll(text, "${VARS}", varsPath());
        return text;
    }

    // The name the program handed over in the run variables file.
    std::string exportName() {
        if (!exportName_.empty()) return exportName_;
        const std::string name =
            sys_.profile->GetString(std::string(atcmd::kRunVariablesSection), std::string(atcmd::kExportLogNameKey), "",
                              554, install_ + agent::kRunVariablesFile);
        return name.empty() ? "KOVAExportLog_" + std::to_string(currentProcessId()) + ".xml" : name;
    }

    std::string exportPath() { return install_ + agent::kLogsFolder + "\\" + exportName(); }

    std::string varsPath() {
        return install_ + agent::kLogsFolder + "\\" + (varsName_.empty() ? "VTXVariables_" + exportName() : varsName_);
    }

    // One line, handed to the system at once: a runner that is killed later
    // leaves every line it wrote. The log is created with its first line.
    void console(const std::string& line) {
        if (args_.log.empty()) return;
        if (!log_ && !logFailed_) {
            makeFolders(*sys_.fs, folderOf(args_.log));
            ignoreErrors([&] { log_ = sys_.fs->CreateTextFile(args_.log, true); });
            logFailed_ = !log_;
        }
        if (log_) ignoreErrors([&] { log_->WriteLine(line); });
    }

    Platform& sys_;
    Arguments args_;
    std::string install_;
    std::string exportName_;
    std::string varsName_;
    std::unique_ptr<TextStream> log_;
    bool logFailed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    auto system = makeSystemPlatform(argc, argv);
    // The child that `child` starts on Windows: the stand-in again, asleep.
    if (argc == 3 && std::string(argv[1]) == "--sleep") {
        system->platform.clock->sleepMs(static_cast<std::uint32_t>(std::atol(argv[2])));
        return 0;
    }
    // The middle process of `detached` on Windows: it starts the sleeper and
    // ends at once, handing the sleeper's id back as its exit code.
    if (argc == 3 && std::string(argv[1]) == "--detach") {
        std::uint32_t pid = 0;
        return startSleepingChild(system->platform, std::atol(argv[2]), false, pid) ? static_cast<int>(pid) : 0;
    }
    // A user's process that holds the job lock's name (Windows; see process_self.h).
    if (argc == 4 && std::string(argv[1]) == "--squat") {
        return squatJobLockName(argv[2], std::atol(argv[3])) ? 0 : 1;
    }
    Arguments args = parseArguments(argc, argv);
    if (args.log.empty()) return 2;  // without /L there is nowhere to report anything
    Runner runner(system->platform, std::move(args));
    return runner.run();
}
