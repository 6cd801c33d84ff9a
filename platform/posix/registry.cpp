// The registry of the machine root: <root>/system.reg in the registry
// editor's export format, read (never written) with the advapi32 meanings.
// May contain: file reading and parsing of that format; no program logic.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/posix/backends.h"
#include "platform/posix/machine.h"
#include "run/text.h"

namespace {

constexpr long kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr long kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr char kHive[] = "HKEY_LOCAL_MACHINE";

// The file's bytes; "" when it is missing or cannot be read (a folder, say).
std::string readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    std::string bytes;
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) bytes.clear();
        if (n <= 0) break;
        bytes.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

// A quoted text starting at text[pos] == '"', with \\ and \" escapes; pos
// ends after the closing quote. Nothing when the quote is not closed.
std::optional<std::string> quoted(const std::string& text, std::size_t& pos) {
    std::string out;
    for (std::size_t i = pos + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (text[i] == '"') {
            pos = i + 1;
            return out;
        } else {
            out += text[i];
        }
    }
    return std::nullopt;
}

// The data of a value line's right-hand side; nothing for the kinds we skip
// (hex:, hex(n):, deletions) and for malformed text.
std::optional<std::pair<std::uint32_t, std::string>> parseData(const std::string& text) {
    if (startsWith(text, "\"")) {
        std::size_t pos = 0;
        auto value = quoted(text, pos);
        if (!value) return std::nullopt;
        value->push_back('\0');
        return std::make_pair(reg::REG_SZ, *value);
    }
    if (startsWith(lowerAscii(text), "dword:")) {
        const std::string digits = trimBlanks(text.substr(6));
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        std::uint32_t number = 0;
        for (char c : digits) {
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else return std::nullopt;
            number = number * 16 + digit;
        }
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
        return std::make_pair(reg::REG_DWORD, bytes);
    }
    return std::nullopt;
}

}  // namespace

long PosixRegistry::OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t, RegHandle& key) {
    if (hive != reg::HKEY_LOCAL_MACHINE) return reg::ERROR_FILE_NOT_FOUND;
    std::string wanted = upperAscii(kHive);
    const std::string sub = upperAscii(subkey);
    if (!sub.empty()) wanted += "\\" + sub;

    // A missing or unreadable file reads as empty: every key is missing.
    std::string text = readWholeFile(registryFilePath());
    if (startsWith(text, "\xEF\xBB\xBF")) text.erase(0, 3);

    bool found = false;
    bool inKey = false;
    Values values;
    for (std::string line : splitText(text, "\n")) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = trimBlanks(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const auto close = line.rfind(']');
            const std::string name = upperAscii(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inKey = name == wanted;
            // A key exists when it is written out or when a key below it is.
            if (inKey || startsWith(name, wanted + "\\")) found = true;
            continue;
        }
        if (!inKey) continue;
        std::string valueName;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            auto name = quoted(line, pos);
            if (!name) continue;
            valueName = upperAscii(*name);
        } else {
            continue;
        }
        const std::string rest = trimBlanks(line.substr(pos));
        if (!startsWith(rest, "=")) continue;
        if (auto data = parseData(trimBlanks(rest.substr(1)))) {
            values[valueName] = Value{data->first, data->second};
        }
    }
    if (!found) return reg::ERROR_FILE_NOT_FOUND;
    key = next_++;
    open_[key] = std::move(values);
    return reg::ERROR_SUCCESS;
}

long PosixRegistry::QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                               std::uint32_t* size) {
    const auto open = open_.find(key);
    if (open == open_.end()) return kInvalidHandle;
    const auto it = open->second.find(upperAscii(name));
    if (it == open->second.end()) return reg::ERROR_FILE_NOT_FOUND;
    const Value& value = it->second;
    const auto needed = static_cast<std::uint32_t>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data == nullptr) {
        if (size != nullptr) *size = needed;
        return reg::ERROR_SUCCESS;
    }
    if (size == nullptr) return kInvalidParameter;
    if (*size < needed) {
        *size = needed;
        return reg::ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), needed);
    *size = needed;
    return reg::ERROR_SUCCESS;
}

long PosixRegistry::CloseKey(RegHandle key) {
    return open_.erase(key) == 1 ? reg::ERROR_SUCCESS : kInvalidHandle;
}
