// The Windows command-line rules.
// May contain: text functions only; nothing of the project, no system calls.
#include "base/command_line.h"

namespace wincmd {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view skipBlanks(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    return s.substr(i);
}

}  // namespace

std::vector<std::string> splitArguments(std::string_view s) {
    std::vector<std::string> out;
    std::size_t i = 0;
    const std::size_t n = s.size();
    for (;;) {
        while (i < n && isBlank(s[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(s[i]))) {
            if (s[i] == '\\') {
                std::size_t count = 0;
                while (i < n && s[i] == '\\') ++count, ++i;
                if (i < n && s[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
            } else if (s[i] == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += s[i++];
            }
        }
        out.push_back(std::move(arg));
    }
    return out;
}

std::string programToken(std::string_view s, std::string_view& rest) {
    if (!s.empty() && s[0] == '"') {
        const auto close = s.find('"', 1);
        if (close == std::string_view::npos) {
            rest = {};
            return std::string(s.substr(1));
        }
        rest = s.substr(close + 1);
        return std::string(s.substr(1, close - 1));
    }
    std::size_t i = 0;
    while (i < s.size() && !isBlank(s[i])) ++i;
    rest = s.substr(i);
    return std::string(s.substr(0, i));
}

std::string argumentsAfterProgram(std::string_view commandLine) {
    std::string_view rest;
    programToken(commandLine, rest);
    return std::string(skipBlanks(rest));
}

std::string resolveProgram(std::string_view s, std::string_view& rest, const FileExists& exists) {
    s = skipBlanks(s);
    if (!s.empty() && s[0] == '"') return programToken(s, rest);

    auto existing = [&](std::string candidate) -> std::string {
        if (candidate.empty()) return "";
        if (exists(candidate)) return candidate;
        const auto slash = candidate.find_last_of("\\/");
        const bool hasExtension =
            candidate.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
        if (!hasExtension && exists(candidate + ".exe")) return candidate + ".exe";
        return "";
    };
    for (std::size_t end = 0; end <= s.size(); ++end) {
        if (end < s.size() && !isBlank(s[end])) continue;
        if (end > 0 && isBlank(s[end - 1])) continue;  // only the first of a run of blanks ends a candidate
        const std::string found = existing(std::string(s.substr(0, end)));
        if (!found.empty()) {
            rest = s.substr(end);
            return found;
        }
    }
    return programToken(s, rest);
}

std::string commandLineProgram(std::string_view path) {
    if (path.find_first_of(" \t") == std::string_view::npos) return std::string(path);
    return "\"" + std::string(path) + "\"";
}

}  // namespace wincmd
