// The registry of the machine root: <root>/system.reg in the registry
// editor's export format, read (never written) with the advapi32 meanings.
// May contain: file reading and parsing of that format; no program logic.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "base/text.h"
#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/machine.h"
#include "platform/posix/registry.h"

namespace {

constexpr long kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr long kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr char kHive[] = "HKEY_LOCAL_MACHINE";

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

// UTF-16LE code units as UTF-8; a lone surrogate becomes "?". An odd last
// byte is not a code unit and is dropped.
std::string utf8FromUtf16(const std::string& bytes) {
    std::string out;
    const std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
    };
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = '?';
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A number of at most `maxDigits` hex digits; nothing for other text.
std::optional<std::uint32_t> hexNumber(const std::string& digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
    std::uint32_t number = 0;
    for (char c : digits) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        number = number * 16 + digit;
    }
    return number;
}

// "hex:" (binary) or "hex(<type>):" followed by comma-separated bytes, the
// form the registry editor uses for every type it has no plain notation for.
// The string types are stored as UTF-16 there; the ANSI registry calls hand
// them out as text of the code page, so they are kept as that here.
std::optional<std::pair<std::uint32_t, std::string>> parseHexData(const std::string& text) {
    std::uint32_t type = reg::REG_BINARY;
    std::size_t pos = 3;
    if (text.compare(pos, 1, "(") == 0) {
        const auto close = text.find(')', pos);
        if (close == std::string::npos) return std::nullopt;
        const auto number = hexNumber(trimBlanks(text.substr(pos + 1, close - pos - 1)), 8);
        if (!number) return std::nullopt;
        type = *number;
        pos = close + 1;
    }
    if (text.compare(pos, 1, ":") != 0) return std::nullopt;
    std::string bytes;
    const std::string list = trimBlanks(text.substr(pos + 1));
    if (!list.empty()) {
        for (const std::string& piece : splitText(list, ",")) {
            const auto byte = hexNumber(trimBlanks(piece), 2);
            if (!byte) return std::nullopt;
            bytes += static_cast<char>(*byte);
        }
    }
    if (type == reg::REG_SZ || type == reg::REG_EXPAND_SZ || type == reg::REG_MULTI_SZ) {
        bytes = codePageFromUtf8(utf8FromUtf16(bytes));
    }
    return std::make_pair(type, bytes);
}

// The data of a value line's right-hand side; nothing for deletions ("-")
// and for malformed text.
std::optional<std::pair<std::uint32_t, std::string>> parseData(const std::string& text) {
    if (startsWith(text, "\"")) {
        std::size_t pos = 0;
        auto value = quoted(text, pos);
        if (!value) return std::nullopt;
        value->push_back('\0');
        return std::make_pair(reg::REG_SZ, *value);
    }
    if (startsWithNoCase(text, "dword:")) {
        const auto number = hexNumber(trimBlanks(text.substr(6)), 8);
        if (!number) return std::nullopt;
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((*number >> (8 * i)) & 0xFF);
        return std::make_pair(reg::REG_DWORD, bytes);
    }
    if (startsWithNoCase(text, "hex")) return parseHexData(text);
    return std::nullopt;
}

}  // namespace

long PosixRegistry::OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t, RegHandle& key) {
    if (hive != reg::HKEY_LOCAL_MACHINE) return reg::ERROR_FILE_NOT_FOUND;
    std::string wanted = upperAscii(kHive);
    const std::string sub = upperAscii(subkey);
    if (!sub.empty()) wanted += "\\" + sub;

    // A missing or unreadable file reads as empty: every key is missing.
    std::string text;
    if (!readWhole(registryFilePath(), text)) text.clear();
    if (startsWith(text, "\xEF\xBB\xBF")) text.erase(0, 3);
    // The file is UTF-8; key names, value names and texts are compared and
    // handed out in the program's code page. The format's own marks are ASCII.
    text = codePageFromUtf8(text);

    bool found = false;
    bool inKey = false;
    Values values;
    const std::vector<std::string> lines = splitText(text, "\n");
    auto lineAt = [&](std::size_t i) {
        std::string line = lines[i];
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return trimBlanks(line);
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = lineAt(i);
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
        std::string data = trimBlanks(rest.substr(1));
        // A long list of bytes goes on over lines that end in "\".
        if (startsWithNoCase(data, "hex")) {
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                data.pop_back();
                data += lineAt(++i);
            }
        }
        if (auto parsed = parseData(data)) {
            values[valueName] = Value{parsed->first, parsed->second};
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
