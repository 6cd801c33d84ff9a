// Profile (INI) files over mapped paths, read and written the way the
// kernel32 profile calls do it. Writes replace the file atomically.
// May contain: POSIX file calls and the INI line rules; no program logic.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/posix/backends.h"
#include "platform/posix/machine.h"
#include "run/text.h"

namespace {

// One line of the file: its text and the line end it had ("\r\n", "\n", or
// "" for a last line without one), so untouched lines go back byte for byte.
struct Line {
    std::string text;
    std::string end;
};

std::vector<Line> splitLines(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto lf = bytes.find('\n', start);
        if (lf == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        const bool cr = lf > start && bytes[lf - 1] == '\r';
        lines.push_back({bytes.substr(start, lf - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
        start = lf + 1;
    }
    return lines;
}

std::string joinLines(const std::vector<Line>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += line.text + line.end;
    return bytes;
}

// The name of a "[section]" line.
std::optional<std::string> sectionOf(const Line& line) {
    const std::string text = trimBlanks(line.text);
    if (text.empty() || text[0] != '[') return std::nullopt;
    const auto close = text.find(']');
    return trimBlanks(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// The key of a "key=value" line; comments have none.
std::optional<std::string> keyOf(const Line& line) {
    const std::string text = trimBlanks(line.text);
    const auto eq = text.find('=');
    if (text.empty() || text[0] == ';' || eq == std::string::npos) return std::nullopt;
    return trimBlanks(text.substr(0, eq));
}

// The whole file; false when it is missing or cannot be read (a folder, say).
bool readBytes(const std::string& hostPath, std::string& bytes) {
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes.clear();
    char block[65536];
    ssize_t n;
    for (;;) {
        n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return n == 0;
}

// The raw value of section/key (blanks trimmed, quotes not yet removed).
std::optional<std::string> lookUp(const std::string& section, const std::string& key, const std::string& file) {
    std::string bytes;
    if (!readBytes(mapPath(file), bytes)) return std::nullopt;
    const auto lines = splitLines(bytes);
    bool inSection = false;
    for (const auto& line : lines) {
        if (auto name = sectionOf(line)) {
            // The first section of a name is the one that counts.
            if (inSection) return std::nullopt;
            inSection = equalsNoCase(*name, section);
        } else if (inSection) {
            const auto found = keyOf(line);
            if (found && equalsNoCase(*found, key)) {
                return trimBlanks(line.text.substr(line.text.find('=') + 1));
            }
        }
    }
    return std::nullopt;
}

// Sets key=value in `lines`: the key's own line when it exists, else after
// the section's last non-blank line, else a new section at the end.
void applyEntry(std::vector<Line>& lines, const ProfileEntry& entry) {
    const Line newLine{entry.key + "=" + entry.value, "\r\n"};
    std::size_t at = 0;
    while (at < lines.size()) {
        const auto name = sectionOf(lines[at]);
        if (name && equalsNoCase(*name, entry.section)) break;
        ++at;
    }
    if (at == lines.size()) {
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
        lines.push_back({"[" + entry.section + "]", "\r\n"});
        lines.push_back(newLine);
        return;
    }
    std::size_t last = at;
    for (std::size_t i = at + 1; i < lines.size() && !sectionOf(lines[i]); ++i) {
        const auto key = keyOf(lines[i]);
        if (key && equalsNoCase(*key, entry.key)) {
            lines[i].text = newLine.text;
            return;
        }
        if (!trimBlanks(lines[i].text).empty()) last = i;
    }
    if (lines[last].end.empty()) lines[last].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), newLine);
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `bytes` to a temporary file beside `hostPath` and renames it over
// the original, so readers see the old file or the new one, never a part.
bool replaceFile(const std::string& hostPath, const std::string& bytes, std::optional<mode_t> mode) {
    const auto slash = hostPath.find_last_of('/');
    const std::string folder = hostPath.substr(0, slash);
    // A hidden name with a suffix of its own: no reader maps an INI name to it.
    const std::string temp =
        folder + "/." + hostPath.substr(slash + 1) + ".vx" + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    if (ok && mode) ok = ::fchmod(fd, *mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), hostPath.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is durable only once the folder is synced.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

std::string PosixProfileFiles::GetString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue, std::uint32_t bufferChars,
                                         const std::string& file) {
    std::string value = defaultValue;
    if (auto found = lookUp(section, key, file)) {
        value = *found;
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
            value = value.substr(1, value.size() - 2);
        }
    }
    if (bufferChars == 0) return "";
    if (value.size() > bufferChars - 1) value.resize(bufferChars - 1);
    return value;
}

std::int32_t PosixProfileFiles::GetInt(const std::string& section, const std::string& key,
                                       std::int32_t defaultValue, const std::string& file) {
    const auto found = lookUp(section, key, file);
    // An empty value counts as missing, as with the Windows call.
    if (!found || found->empty()) return defaultValue;
    const std::string& text = *found;
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        ++i;
    }
    // Wraps at 32 bits as the Windows call's unsigned result does.
    std::uint32_t number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10 + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) number = 0u - number;
    return static_cast<std::int32_t>(number);
}

bool PosixProfileFiles::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                    const std::string& file) {
    return WriteStrings({ProfileEntry{section, key, value}}, file);
}

bool PosixProfileFiles::WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) {
    const std::string host = mapPath(file);
    std::string bytes;
    std::optional<mode_t> mode;
    struct stat st {};
    if (::stat(host.c_str(), &st) == 0) {
        // A read-only file refuses writing, even to root.
        if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return false;
        if (!readBytes(host, bytes)) return false;
        mode = st.st_mode & 07777;
    } else {
        struct stat folder {};
        const std::string parent = host.substr(0, host.find_last_of('/'));
        if (::stat(parent.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return false;
    }
    auto lines = splitLines(bytes);
    for (const auto& entry : entries) applyEntry(lines, entry);
    return replaceFile(host, joinLines(lines), mode);
}
