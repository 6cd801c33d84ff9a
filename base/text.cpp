// Text and number helpers with the old runtime's rules.
// May contain: text functions only; nothing above base/, no system calls.
#include "base/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"

namespace {

char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Builds plain decimal text from "%.<n>e" output: no exponent, no trailing zeros.
std::string plainFromScientific(double value, int significant) {
    if (value == 0 || !std::isfinite(value)) return "0";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", significant - 1, value);
    std::string s = buffer;
    bool negative = false;
    if (s[0] == '-') {
        negative = true;
        s.erase(0, 1);
    }
    const auto ePos = s.find('e');
    const int exponent = std::atoi(s.c_str() + ePos + 1);
    std::string digits;
    for (std::size_t i = 0; i < ePos; ++i) {
        if (s[i] != '.') digits += s[i];
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out;
    if (exponent < 0) {
        out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
        out = digits + std::string(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
    } else {
        out = digits.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
              digits.substr(static_cast<std::size_t>(exponent) + 1);
    }
    if (out == "0") return out;
    return negative ? "-" + out : out;
}

std::string twoDigits(int v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", v);
    return buffer;
}

}  // namespace

double numericValue(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    // Only blanks, tabs and line feeds lead a number; a carriage return ends it.
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    if (i + 1 < n && text[i] == '&') {
        const char kind = upperChar(text[i + 1]);
        if (kind == 'H' || kind == 'O') {
            const int base = kind == 'H' ? 16 : 8;
            std::int64_t v = 0;
            for (std::size_t j = i + 2; j < n; ++j) {
                const char c = upperChar(text[j]);
                int d = -1;
                if (c >= '0' && c <= '9') d = c - '0';
                else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
                if (d < 0 || d >= base) break;
                v = v * base + d;
                if (v > 0xFFFFFFFFLL) break;
            }
            // The runtime reads &H and &O numbers as 16 or 32-bit signed values.
            if (v <= 0xFFFF && v > 0x7FFF) v -= 0x10000;
            else if (v > 0xFFFF && v > 0x7FFFFFFF) v -= 0x100000000LL;
            return static_cast<double>(v);
        }
    }
    std::string number;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        number += text[i];
        ++i;
    }
    bool sawDigit = false, sawPoint = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            number += c;
            sawDigit = true;
        } else if (c == '.' && !sawPoint) {
            number += c;
            sawPoint = true;
        } else if (c == ' ') {
            continue;
        } else {
            break;
        }
    }
    if (!sawDigit) return 0;
    // Optional exponent: E or D, sign, digits.
    if (i < n && (upperChar(text[i]) == 'E' || upperChar(text[i]) == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        std::size_t digitsStart = j;
        while (j < n && text[j] >= '0' && text[j] <= '9') exponent += text[j++];
        if (j > digitsStart) number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

std::string numberText(double value) { return plainFromScientific(value, 15); }

std::string singleText(float value) { return plainFromScientific(static_cast<double>(value), 7); }

std::int32_t toLong(std::string_view text) {
    const std::string trimmed = trimBlanks(text);
    if (trimmed.empty()) throw runError(err::TypeMismatch);
    char* end = nullptr;
    const double v = std::strtod(trimmed.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(v)) throw runError(err::TypeMismatch);
    const double rounded = std::nearbyint(v);  // the default mode rounds halves to even
    if (rounded > 2147483647.0 || rounded < -2147483648.0) throw runError(err::Overflow);
    return static_cast<std::int32_t>(rounded);
}

std::string trimBlanks(std::string_view text) { return std::string(blankTrimmed(text)); }

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lowerChar(c);
    return out;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upperChar(c);
    return out;
}

std::size_t findNoCase(std::string_view hay, std::string_view needle, std::size_t from) {
    if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
    if (hay.size() < needle.size()) return std::string_view::npos;
    const std::size_t last = hay.size() - needle.size();  // the last place a match may begin
    const char first = lowerChar(needle[0]);
    const bool caseless = first == upperChar(first);
    for (std::size_t i = from; i <= last; ++i) {
        // A first character without case is found with memchr.
        if (caseless) {
            const void* hit = std::memchr(hay.data() + i, first, last - i + 1);
            if (hit == nullptr) break;
            i = static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data());
        } else if (lowerChar(hay[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < needle.size() && lowerChar(hay[i + k]) == lowerChar(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool containsNoCase(std::string_view hay, std::string_view needle) {
    return findNoCase(hay, needle) != std::string_view::npos;
}

bool lessNoCase(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    // Names in one folder often share a long beginning: skip the equal bytes
    // eight at a time before folding any.
    std::size_t i = 0;
    for (std::uint64_t x = 0, y = 0; i + 8 <= common; i += 8) {
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) break;
    }
    for (; i < common; ++i) {
        if (a[i] == b[i]) continue;
        const auto x = static_cast<unsigned char>(upperChar(a[i]));
        const auto y = static_cast<unsigned char>(upperChar(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::string replaceNoCase(std::string_view text, std::string_view find, std::string_view with) {
    if (find.empty()) return std::string(text);
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = findNoCase(text, find, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(with);
        pos = hit + find.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::string replaceAll(std::string_view text, std::string_view find, std::string_view with) {
    if (find.empty()) return std::string(text);
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = text.find(find, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(with);
        pos = hit + find.size();
    }
    out.append(text.substr(pos));
    return out;
}

namespace {
template <class Find>
std::vector<std::string> splitWith(std::string_view text, std::string_view separator, Find find) {
    std::vector<std::string> pieces;
    if (text.empty()) return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = find(text, separator, pos);
        if (hit == std::string_view::npos) break;
        pieces.emplace_back(text.substr(pos, hit - pos));
        pos = hit + separator.size();
    }
    pieces.emplace_back(text.substr(pos));
    return pieces;
}
}  // namespace

std::vector<std::string> splitText(std::string_view text, std::string_view separator) {
    return splitWith(text, separator,
                     [](std::string_view h, std::string_view s, std::size_t p) { return h.find(s, p); });
}

std::vector<std::string> splitNoCase(std::string_view text, std::string_view separator) {
    return splitWith(text, separator,
                     [](std::string_view h, std::string_view s, std::size_t p) { return findNoCase(h, s, p); });
}

std::string leftText(std::string_view text, std::size_t n) { return std::string(text.substr(0, n)); }

std::string rightText(std::string_view text, std::size_t n) {
    return n >= text.size() ? std::string(text) : std::string(text.substr(text.size() - n));
}

std::string midText(std::string_view text, std::size_t start, std::size_t length) {
    if (start == 0) throw runError(err::InvalidCall);
    if (start > text.size()) return "";
    return std::string(text.substr(start - 1, length));
}

std::string boundedText(std::string_view text, std::size_t bound) {
    std::string out;
    appendBounded(out, text, bound);
    return out;
}

void appendCut(std::string& text, std::string_view more, std::size_t bound) {
    if (isCut(text, bound)) return;
    const std::size_t keep = bound > kCutMarker.size() ? bound - kCutMarker.size() : 0;
    if (text.size() < keep) {
        text.append(more.substr(0, keep - text.size()));
    } else {
        text.resize(keep);
    }
    text.append(kCutMarker.substr(0, bound - keep));
}

bool isCut(std::string_view text, std::size_t bound) {
    return text.size() == bound && endsWith(text, kCutMarker.substr(0, std::min(bound, kCutMarker.size())));
}

namespace {

enum class XmlPlace { Cdata, Attribute, Element };

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

// The one pass behind the three helpers: a text that needs nothing comes
// back as it is, so a record that was well-formed stays byte for byte.
std::string xmlSafe(std::string_view text, XmlPlace place) {
    const auto needs = [place](std::string_view t, std::size_t i) {
        const char c = t[i];
        if (isControl(c)) return true;
        switch (place) {
            case XmlPlace::Cdata: return c == '>' && i >= 2 && t[i - 1] == ']' && t[i - 2] == ']';
            case XmlPlace::Attribute: return c == '&' || c == '<' || c == '\'' || c == '\t' || c == '\n' || c == '\r';
            case XmlPlace::Element: return c == '&' || c == '<' || (c == '>' && i >= 2 && t[i - 1] == ']' && t[i - 2] == ']');
        }
        return false;
    };
    std::size_t i = 0;
    while (i < text.size() && !needs(text, i)) ++i;
    if (i == text.size()) return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    out.append(text.substr(0, i));
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (!needs(text, i)) {
            out += c;
        } else if (isControl(c)) {
            out += '?';
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '\'') {
            out += "&apos;";
        } else if (c == '\t') {
            out += "&#9;";
        } else if (c == '\n') {
            out += "&#10;";
        } else if (c == '\r') {
            out += "&#13;";
        } else if (place == XmlPlace::Cdata) {
            out += "]]><![CDATA[>";  // the "]]" before it is already out
        } else {
            out += "&gt;";
        }
    }
    return out;
}

}  // namespace

std::string cdataSection(std::string_view text) { return "<![CDATA[" + xmlSafe(text, XmlPlace::Cdata) + "]]>"; }

std::string attributeText(std::string_view text) { return xmlSafe(text, XmlPlace::Attribute); }

std::string elementText(std::string_view text) { return xmlSafe(text, XmlPlace::Element); }

std::string textDigest(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(hash));
    return buffer;
}

std::string formatPicture(const LocalTime& t, std::string_view picture) {
    std::string out;
    bool afterHour = false;
    std::size_t i = 0;
    auto take = [&](std::string_view token) {
        if (picture.size() - i >= token.size() && equalsNoCase(picture.substr(i, token.size()), token)) {
            i += token.size();
            return true;
        }
        return false;
    };
    while (i < picture.size()) {
        if (picture[i] == '\\' && i + 1 < picture.size()) {
            out += picture[i + 1];
            i += 2;
        } else if (take("YYYY")) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%04d", t.year);
            out += buffer;
            afterHour = false;
        } else if (take("MM")) {
            out += twoDigits(afterHour ? t.minute : t.month);
            afterHour = false;
        } else if (take("DD")) {
            out += twoDigits(t.day);
            afterHour = false;
        } else if (take("HH")) {
            out += twoDigits(t.hour);
            afterHour = true;
        } else if (take("NN")) {
            out += twoDigits(t.minute);
            afterHour = false;
        } else if (take("SS")) {
            out += twoDigits(t.second);
            afterHour = false;
        } else if (take("S")) {
            out += std::to_string(t.second);
            afterHour = false;
        } else {
            out += picture[i++];
        }
    }
    return out;
}
