// Profile (INI) files over mapped paths, read and written the way the
// kernel32 profile calls do it. Writes replace the file atomically.
// May contain: POSIX file calls and the INI line rules; no program logic.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <unordered_map>

#include "base/text.h"
#include "platform/posix/fd.h"
#include "platform/posix/machine.h"
#include "platform/posix/profile.h"
#include "platform/posix/sys_calls.h"
#include "platform/temp_names.h"

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
    std::size_t total = 0;
    for (const auto& line : lines) total += line.text.size() + line.end.size();
    std::string bytes;
    bytes.reserve(total);
    for (const auto& line : lines) {
        bytes += line.text;
        bytes += line.end;
    }
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

// Upper-cased key -> raw value of one section (the first key of a name is
// the one that counts).
using SectionValues = std::unordered_map<std::string, std::string>;

// The parsed values of one file, kept while the file stays the same one
// (same inode, size and modification time), so that many reads of a large
// file do not parse it again each time.
struct ParsedFile {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    // Upper-cased section -> its keys (the first section of a name is the
    // one that counts); shared with the sections opened from it.
    std::unordered_map<std::string, std::shared_ptr<SectionValues>> values;
};

std::unordered_map<std::string, ParsedFile>& parsedFiles() {
    static std::unordered_map<std::string, ParsedFile> files;
    return files;
}

const ParsedFile* parsed(const std::string& hostPath) {
    auto& files = parsedFiles();
    struct stat st {};
    if (::stat(hostPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        files.erase(hostPath);
        return nullptr;
    }
    auto it = files.find(hostPath);
    if (it != files.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
        it->second.size == st.st_size && it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
        it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
        return &it->second;
    }
    std::string bytes;
    if (!readWhole(hostPath, bytes)) {
        files.erase(hostPath);
        return nullptr;
    }
    ParsedFile file;
    file.dev = st.st_dev;
    file.ino = st.st_ino;
    file.size = st.st_size;
    file.mtime = st.st_mtim;
    SectionValues* current = nullptr;
    for (const auto& line : splitLines(bytes)) {
        if (auto name = sectionOf(line)) {
            const auto inserted = file.values.try_emplace(upperAscii(*name));
            if (inserted.second) inserted.first->second = std::make_shared<SectionValues>();
            current = inserted.second ? inserted.first->second.get() : nullptr;
        } else if (current != nullptr) {
            if (const auto key = keyOf(line)) {
                current->try_emplace(upperAscii(*key), trimBlanks(line.text.substr(line.text.find('=') + 1)));
            }
        }
    }
    // Keep the cache small: only the files of the current run are read often.
    if (files.size() > 64) files.clear();
    return &(files[hostPath] = std::move(file));
}

// The keys of section `section` of a file; nullptr when the file or section is missing.
std::shared_ptr<const SectionValues> sectionValues(const std::string& hostPath, const std::string& section) {
    const ParsedFile* parsedFile = parsed(hostPath);
    if (parsedFile == nullptr) return nullptr;
    const auto sec = parsedFile->values.find(upperAscii(section));
    return sec == parsedFile->values.end() ? nullptr : sec->second;
}

// The raw value of key in a section's keys (blanks trimmed, quotes not yet removed).
std::optional<std::string> lookUp(const SectionValues* values, const std::string& key) {
    if (values == nullptr) return std::nullopt;
    const auto value = values->find(upperAscii(key));
    if (value == values->end()) return std::nullopt;
    return value->second;
}

std::optional<std::string> lookUp(const std::string& section, const std::string& key, const std::string& file) {
    return lookUp(sectionValues(mapPath(file), section).get(), key);
}

// What GetPrivateProfileString returns for a raw value (or the default):
// one pair of enclosing quotes removed, at most bufferChars - 1 characters.
std::string profileValue(const std::optional<std::string>& raw, const std::string& defaultValue,
                         std::uint32_t bufferChars) {
    std::string value = defaultValue;
    if (raw) {
        value = *raw;
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
            value = value.substr(1, value.size() - 2);
        }
    }
    if (bufferChars == 0) return "";
    if (value.size() > bufferChars - 1) value.resize(bufferChars - 1);
    return value;
}

// One section as the file held it when it was opened.
class PosixProfileSection : public ProfileSection {
public:
    explicit PosixProfileSection(std::shared_ptr<const SectionValues> values) : values_(std::move(values)) {}
    std::string GetString(const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars) override {
        return profileValue(lookUp(values_.get(), key), defaultValue, bufferChars);
    }

private:
    std::shared_ptr<const SectionValues> values_;  // nullptr: no such file or section
};

// Applies key=value entries to `lines` in order: a key's own line when it
// exists in the first section of that name, else a new line after the
// section's last non-blank line, else a new section at the end. Indexed, so a
// batch of many keys costs one pass over the file, not one pass per key.
void applyEntries(std::vector<Line>& lines, const std::vector<ProfileEntry>& entries) {
    struct Section {
        std::size_t lastNonBlank = 0;
        std::unordered_map<std::string, std::size_t> keyLines;  // upper key -> line index
        std::vector<Line> added;
        std::unordered_map<std::string, std::size_t> addedKeys;  // upper key -> index in added
    };
    std::unordered_map<std::string, Section> sections;
    Section* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = sectionOf(lines[i])) {
            const auto inserted = sections.try_emplace(upperAscii(*name));
            current = inserted.second ? &inserted.first->second : nullptr;
            if (current != nullptr) current->lastNonBlank = i;
        } else if (current != nullptr) {
            if (const auto key = keyOf(lines[i])) current->keyLines.try_emplace(upperAscii(*key), i);
            if (!trimBlanks(lines[i].text).empty()) current->lastNonBlank = i;
        }
    }
    std::unordered_map<std::string, std::unique_ptr<Section>> created;
    std::vector<std::pair<std::string, Section*>> createdOrder;
    for (const auto& entry : entries) {
        const Line newLine{entry.key + "=" + entry.value, "\r\n"};
        const std::string sectionKey = upperAscii(entry.section);
        const std::string key = upperAscii(entry.key);
        Section* section = nullptr;
        if (auto it = sections.find(sectionKey); it != sections.end()) {
            section = &it->second;
            if (auto line = section->keyLines.find(key); line != section->keyLines.end()) {
                lines[line->second].text = newLine.text;
                continue;
            }
        } else if (auto it2 = created.find(sectionKey); it2 != created.end()) {
            section = it2->second.get();
        } else {
            auto made = std::make_unique<Section>();
            section = made.get();
            createdOrder.emplace_back(entry.section, section);
            created.emplace(sectionKey, std::move(made));
        }
        if (auto added = section->addedKeys.find(key); added != section->addedKeys.end()) {
            section->added[added->second].text = newLine.text;
        } else {
            section->addedKeys.emplace(key, section->added.size());
            section->added.push_back(newLine);
        }
    }
    // New keys of existing sections go after each section's last non-blank line.
    std::vector<const Section*> after(lines.size(), nullptr);
    for (auto& [name, section] : sections) {
        if (!section.added.empty()) after[section.lastNonBlank] = &section;
    }
    std::vector<Line> out;
    out.reserve(lines.size() + entries.size() + 2 * createdOrder.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out.push_back(std::move(lines[i]));
        if (after[i] != nullptr) {
            if (out.back().end.empty()) out.back().end = "\r\n";
            out.insert(out.end(), after[i]->added.begin(), after[i]->added.end());
        }
    }
    for (const auto& [name, section] : createdOrder) {
        if (!out.empty() && out.back().end.empty()) out.back().end = "\r\n";
        out.push_back({"[" + name + "]", "\r\n"});
        out.insert(out.end(), section->added.begin(), section->added.end());
    }
    lines = std::move(out);
}

// Writes `bytes` to a temporary file beside `hostPath` and renames it over
// the original, so readers see the old file or the new one, never a part.
bool replaceFile(const std::string& hostPath, const std::string& bytes, std::optional<mode_t> mode) {
    const auto slash = hostPath.find_last_of('/');
    const std::string folder = hostPath.substr(0, slash);
    // A hidden name with a suffix of its own: no reader maps an INI name to it.
    const std::string temp =
        folder + "/." + temporaryNameOf(hostPath.substr(slash + 1), static_cast<std::uint32_t>(::getpid()));
    // A leftover of this process goes first (a link as a link); the file is
    // then made new, so nothing planted there is ever written through.
    posix::sysCalls.unlink(temp.c_str());
    Fd file{posix::sysCalls.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
    if (file.fd < 0) return false;
    bool ok = writeAll(file.fd, bytes.data(), bytes.size());
    if (ok && mode) ok = ::fchmod(file.fd, *mode) == 0;
    if (ok) ok = posix::sysCalls.fsync(file.fd) == 0;
    if (!file.close()) ok = false;
    if (ok) ok = posix::sysCalls.rename(temp.c_str(), hostPath.c_str()) == 0;
    if (!ok) {
        posix::sysCalls.unlink(temp.c_str());
        return false;
    }
    // The rename itself is durable only once the folder is synced.
    const Fd dir{posix::sysCalls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0)};
    if (dir.fd >= 0) posix::sysCalls.fsync(dir.fd);
    return true;
}

}  // namespace

std::string PosixProfileFiles::GetString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue, std::uint32_t bufferChars,
                                         const std::string& file) {
    return profileValue(lookUp(section, key, file), defaultValue, bufferChars);
}

std::unique_ptr<ProfileSection> PosixProfileFiles::OpenSection(const std::string& section, const std::string& file) {
    return std::make_unique<PosixProfileSection>(sectionValues(mapPath(file), section));
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
    return WriteStrings({ProfileEntry{section, key, value}}, file).front();
}

std::vector<bool> PosixProfileFiles::WriteStrings(const std::vector<ProfileEntry>& entries, const std::string& file) {
    const std::vector<bool> none(entries.size(), false);
    std::vector<bool> written(entries.size(), false);
    std::vector<ProfileEntry> storable;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        written[i] = storableProfileEntry(entries[i]);
        if (written[i]) storable.push_back(entries[i]);
    }
    if (storable.empty()) return none;
    const std::string host = mapPath(file);
    std::string bytes;
    std::optional<mode_t> mode;
    struct stat st {};
    if (::stat(host.c_str(), &st) == 0) {
        // A read-only file refuses writing, even to root.
        if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return none;
        if (!readWhole(host, bytes)) return none;
        mode = st.st_mode & 07777;
    } else {
        struct stat folder {};
        const std::string parent = host.substr(0, host.find_last_of('/'));
        if (::stat(parent.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return none;
    }
    auto lines = splitLines(bytes);
    applyEntries(lines, storable);
    if (!replaceFile(host, joinLines(lines), mode)) return none;
    return written;
}
