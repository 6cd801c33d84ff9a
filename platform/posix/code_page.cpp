// Windows-1252 <-> UTF-8.
// May contain: the conversions only.
#include "platform/posix/code_page.h"

#include <cstdint>

namespace {

// The characters of the bytes 0x80-0x9F; for the five the code page leaves
// undefined, the C1 control of the same value.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char byteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The length of the well-formed UTF-8 sequence at text[i] and its character;
// 0 when none begins there.
std::size_t sequenceAt(std::string_view text, std::size_t i, char32_t& c) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t least = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2, c = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, c = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, c = b & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto n = static_cast<unsigned char>(text[i + k]);
        if ((n & 0xC0) != 0x80) return 0;
        c = (c << 6) | (n & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

bool isAsciiText(std::string_view text) {
    for (const char ch : text) {
        if (static_cast<unsigned char>(ch) >= 0x80) return false;
    }
    return true;
}

std::string utf8FromCodePage(std::string_view text) {
    if (isAsciiText(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        appendUtf8(out, b >= 0x80 && b <= 0x9F ? kHigh[b - 0x80] : char32_t{b});
    }
    return out;
}

std::string codePageFromUtf8(std::string_view utf8) {
    if (isAsciiText(utf8)) return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i++];
        } else if (const std::size_t length = sequenceAt(utf8, i, c)) {
            out += byteOf(c);
            i += length;
        } else {
            out += utf8[i++];  // not UTF-8: the byte as it is
        }
    }
    return out;
}
