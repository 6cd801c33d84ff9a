// atcmd-standin: does for the tests and the demo what the script runner does
// for the program, and nothing more. It takes the runner's argument string
// (/B, /L"console log", /A, /P"project", /V...), reads the project file named
// by /P (the format is in README.md) and carries out its lines: console-log
// lines, an exported log, a variables file, sleeps, a grandchild, exit codes.
// Windows paths are mapped through VORBEX_MACHINE as the program maps them.
#include <sys/stat.h>
#include <sys/types.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "execute/atcmd.h"
#include "platform/posix/backends.h"
#include "platform/posix/machine.h"

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
        const std::string arg = argv[i];
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

std::string folderOf(const std::string& windowsPath) {
    const auto pos = windowsPath.find_last_of('\\');
    return pos == std::string::npos ? std::string() : windowsPath.substr(0, pos);
}

bool isAbsoluteWindows(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

void makeFolders(const std::string& posixFolder) {
    std::string path;
    std::stringstream parts(posixFolder);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        path += "/" + part;
        ::mkdir(path.c_str(), 0777);
    }
}

// Writes a whole file, creating its folders; false when it cannot.
bool writeFile(const std::string& windowsPath, const std::string& bytes) {
    const std::string path = mapPath(windowsPath);
    makeFolders(path.substr(0, path.find_last_of('/')));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

bool readFile(const std::string& windowsPath, std::string& bytes) {
    std::ifstream in(mapPath(windowsPath), std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return true;
}

std::string replaceAll(std::string text, const std::string& find, const std::string& with) {
    for (std::size_t pos = 0; (pos = text.find(find, pos)) != std::string::npos; pos += with.size()) {
        text.replace(pos, find.size(), with);
    }
    return text;
}

class Runner {
public:
    explicit Runner(Arguments args) : args_(std::move(args)) {
        // The program writes the console log into <install>AutomiseLogs\, so
        // the installation is the folder above the log's folder unless the
        // project names it.
        const std::string above = folderOf(folderOf(args_.log));
        if (!above.empty()) install_ = above + "\\";
    }

    ~Runner() {
        if (log_ >= 0) ::close(log_);
    }

    int run() {
        std::string text;
        if (args_.project.empty() || !readFile(args_.project, text)) {
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
                ok = readFile(path, bytes);
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
                writeFile(exportPath(), body);
                console(label + " " + exportPath() + "]");
            } else if (word == "vars") {
                bool ok = true;
                const std::string body = rest == "inline" ? content(rest, ok) : substitute(rest) + "\r\n";
                writeFile(varsPath(), body);
                console(std::string(atcmd::kVariablesFileLine) + varsPath());
            } else if (word == "sleep") {
                sleepMs(std::atol(rest.c_str()));
            } else if (word == "child") {
                const long ms = std::atol(rest.c_str());
                const pid_t pid = ::fork();
                if (pid == 0) {
                    sleepMs(ms);
                    ::_exit(0);
                }
                console("Child process id: " + std::to_string(pid));
            } else if (word == "pid") {
                console("Process id: " + std::to_string(::getpid()));
            } else if (word == "env") {
                const char* value = std::getenv(rest.c_str());
                console(value ? "Environment " + rest + "=" + value : "Environment " + rest + " is not set");
                console("User id: " + std::to_string(::getuid()));
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
        PosixProfileFiles profile;
        const std::string name =
            profile.GetString(std::string(atcmd::kRunVariablesSection), std::string(atcmd::kExportLogNameKey), "",
                              554, install_ + std::string(atcmd::kRunVariablesFile));
        return name.empty() ? "KOVAExportLog_" + std::to_string(::getpid()) + ".xml" : name;
    }

    std::string exportPath() { return install_ + "AutomiseLogs\\" + exportName(); }

    std::string varsPath() {
        return install_ + "AutomiseLogs\\" + (varsName_.empty() ? "VTXVariables_" + exportName() : varsName_);
    }

    // One line, handed to the system at once: a runner that is killed later
    // leaves every line it wrote.
    void console(const std::string& line) {
        if (args_.log.empty()) return;
        if (log_ < 0) {
            const std::string path = mapPath(args_.log);
            makeFolders(path.substr(0, path.find_last_of('/')));
            log_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (log_ < 0) return;
        }
        const std::string bytes = line + "\r\n";
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(log_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    static void sleepMs(long ms) {
        timespec left{ms / 1000, (ms % 1000) * 1000000L};
        while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }

    Arguments args_;
    std::string install_;
    std::string exportName_;
    std::string varsName_;
    int log_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    Arguments args = parseArguments(argc, argv);
    if (args.log.empty()) return 2;  // without /L there is nowhere to report anything
    Runner runner(std::move(args));
    return runner.run();
}
