// The running process: its command line and executable, and detached starts
// of other programs from a Windows command line.
// May contain: /proc, fork/exec and signal-mask calls; no program logic.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/backends.h"
#include "platform/posix/machine.h"
#include "run/text.h"

namespace {

std::string selfPath() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    return n > 0 ? buffer.substr(0, static_cast<std::size_t>(n)) : "";
}

bool isProgram(const std::string& hostPath) {
    struct stat st {};
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(hostPath.c_str(), X_OK) == 0;
}

// The host path of a program named as on Windows, or "". Programs here have
// no ".exe", so the name is tried with and without one.
std::string findProgram(const std::string& name) {
    if (name.empty()) return "";
    std::vector<std::string> names{name};
    if (endsWith(lowerAscii(name), ".exe")) names.push_back(name.substr(0, name.size() - 4));
    else names.push_back(name + ".exe");

    if (name.find_first_of("\\/:") != std::string::npos) {
        for (const auto& candidate : names) {
            const std::string host = mapPath(candidate);
            if (isProgram(host)) return host;
        }
        return "";
    }
    // A bare name: the program's own folder first, then the search path.
    std::vector<std::string> folders;
    const std::string self = selfPath();
    folders.push_back(self.substr(0, self.find_last_of('/')));
    if (const char* path = std::getenv("PATH")) {
        for (const auto& folder : splitText(path, ":")) folders.push_back(folder);
    }
    for (const auto& folder : folders) {
        for (const auto& candidate : names) {
            if (isProgram(folder + "/" + candidate)) return folder + "/" + candidate;
        }
    }
    return "";
}

// Splits argument text by the Windows C runtime's rules: blanks and tabs
// separate outside quotes; 2n backslashes before a quote give n and the quote
// toggles quoting, 2n+1 give n and a literal quote; other backslashes are
// literal; "" inside quotes is one literal quote.
std::vector<std::string> windowsArguments(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false, quoted = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) args.push_back(current);
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            std::size_t n = 0;
            for (; i < text.size() && text[i] == '\\'; ++i) ++n;
            if (i < text.size() && text[i] == '"') {
                current.append(n / 2, '\\');
                if (n % 2 == 1) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(n, '\\');
            }
        } else if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            current += c;
            ++i;
        }
    }
    if (inArgument) args.push_back(current);
    return args;
}

// Takes the program off the front of a Windows command line: a quoted first
// token, or else the shortest blank-separated prefix that names an existing
// program ("C:\Program Files\x.exe a" tries "C:\Program" first), as
// CreateProcess does. Sets `token` (as written), `rest`, and returns the host path.
std::string takeProgram(const std::string& commandLine, std::string& token, std::string& rest) {
    const std::size_t start = commandLine.find_first_not_of(" \t");
    if (start == std::string::npos) return "";
    if (commandLine[start] == '"') {
        const auto close = commandLine.find('"', start + 1);
        token = commandLine.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
        rest = close == std::string::npos ? "" : commandLine.substr(close + 1);
        return findProgram(token);
    }
    std::size_t end = start;
    for (;;) {
        end = commandLine.find_first_of(" \t", end + 1);
        token = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
        rest = end == std::string::npos ? "" : commandLine.substr(end);
        const std::string found = findProgram(token);
        if (!found.empty() || end == std::string::npos) return found;
    }
}

// Starts the program in a grandchild that the caller never has to reap: the
// child in between exits at once and is waited for here by its own id, so no
// SIGCHLD handling changes. A close-on-exec pipe tells whether exec worked.
bool startDetached(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                const int error = errno;
                (void)!::write(report[1], &error, sizeof error);
            }
            ::_exit(0);
        }
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (null > 2) ::close(null);
        }
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(program.c_str(), argv.data());
        const int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    return n == 0;  // closed by a successful exec, nothing written
}

}  // namespace

PosixHost::PosixHost(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine_ += ' ';
        commandLine_ += argv[i];
    }
}

std::string PosixHost::CommandLine() { return commandLine_; }

std::string PosixHost::ExeFolder() {
    const std::string self = selfPath();
    const auto slash = self.find_last_of('/');
    return windowsPathOf(slash == 0 || slash == std::string::npos ? "/" : self.substr(0, slash));
}

std::string PosixHost::ExeBaseName() {
    const std::string self = selfPath();
    const std::string name = self.substr(self.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void PosixHost::HideFromTaskList() {}  // there is no task list to hide from

bool PosixHost::StartHidden(const std::string& commandLine) {
    std::string token, rest;
    const std::string program = takeProgram(commandLine, token, rest);
    if (program.empty()) return false;
    std::vector<std::string> args{token};
    for (auto& arg : windowsArguments(rest)) args.push_back(std::move(arg));
    return startDetached(program, args);
}

std::string PosixHost::SystemMessage(long code) { return systemMessageText(code); }

std::uint32_t PosixHost::ProcessId() { return static_cast<std::uint32_t>(::getpid()); }
