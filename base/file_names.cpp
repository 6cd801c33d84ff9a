// The plain-name rule.
#include "base/file_names.h"

#include "base/text.h"

bool isPlainName(std::string_view name) {
    if (name.empty() || name.find("..") != std::string_view::npos) return false;
    if (name.back() == '.' || name.back() == ' ') return false;  // "." among them
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
            return false;
        }
    }
    // A device name is one whatever follows its first dot, and blanks before that dot.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equalsNoCase(stem, device)) return false;
    }
    if (stem.size() != 4 || !(startsWithNoCase(stem, "COM") || startsWithNoCase(stem, "LPT"))) return true;
    // COM0-9 and LPT0-9, and with the code page's superscript 1, 2 or 3.
    const char n = stem[3];
    return !((n >= '0' && n <= '9') || n == '\xB9' || n == '\xB2' || n == '\xB3');
}

std::string_view lastNameOf(std::string_view path) {
    const auto pos = path.find_last_of("\\/");
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}
