// Text and number helpers that carry the old runtime's rules. Every part of
// the program uses these; none writes its own variant.
// May contain: text functions only; nothing above base/, no system calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/local_time.h"

/// The leading-number conversion: skips leading blanks, tabs and line feeds,
/// reads a sign, digits (blanks between them skipped), one decimal point and
/// an exponent, or an &H (hex) / &O (octal) number; stops at the first other
/// character. No number gives 0. " 12ab" is 12, "1 2 3" is 123, "&H1F" is 31.
double numericValue(std::string_view text);

/// A number as the shortest plain decimal text: at most 15 significant
/// digits, no exponent, no thousands separators, whole numbers without a
/// point (4.35 * 60000 is "261000").
std::string numberText(double value);

/// A single-precision value as text with at most 7 significant digits.
std::string singleText(float value);

/// Converts a text to a 32-bit integer the way the runtime's CLng does: the
/// whole text must be a number (else err::TypeMismatch), halves round to even,
/// and values beyond the 32-bit range raise err::Overflow.
std::int32_t toLong(std::string_view text);

/// Blanks removed at both ends (tabs and line ends stay).
std::string trimBlanks(std::string_view text);
/// The same, as a view into `text` (for a reader that must not copy every line).
inline std::string_view blankTrimmed(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return text.substr(b, e - b);
}

std::string lowerAscii(std::string_view text);
std::string upperAscii(std::string_view text);

/// Position of `needle` in `hay` from `from`, ASCII letters compared without
/// regard to case; npos when absent. An empty needle is found at `from`.
std::size_t findNoCase(std::string_view hay, std::string_view needle, std::size_t from = 0);
bool containsNoCase(std::string_view hay, std::string_view needle);
/// An ASCII letter in lower case; every other byte as it is.
inline char lowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
/// Inline, as the two below: parsers ask them of every line.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // the usual case, at the speed of memcmp
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerChar(a[i]) != lowerChar(b[i])) return false;
    }
    return true;
}
/// Whether `text` begins / ends with `part`, ASCII letters compared without regard to case.
inline bool startsWithNoCase(std::string_view text, std::string_view part) {
    return text.size() >= part.size() && equalsNoCase(text.substr(0, part.size()), part);
}
inline bool endsWithNoCase(std::string_view text, std::string_view part) {
    return text.size() >= part.size() && equalsNoCase(text.substr(text.size() - part.size()), part);
}
/// The order of file names in a folder listing: by their upper-case form,
/// byte by byte (so "_" comes after the letters, as NTFS orders names), and
/// names equal that way by their bytes. Copies nothing.
bool lessNoCase(std::string_view a, std::string_view b);
/// Every occurrence of `find` replaced by `with`, found without regard to case.
std::string replaceNoCase(std::string_view text, std::string_view find, std::string_view with);
/// Every occurrence of `find` replaced by `with`, case-sensitive.
std::string replaceAll(std::string_view text, std::string_view find, std::string_view with);

/// Splits at every occurrence of `separator`. The empty text gives no pieces
/// at all; "a" gives one.
std::vector<std::string> splitText(std::string_view text, std::string_view separator);
/// Splits at every occurrence of `separator` found without regard to case.
std::vector<std::string> splitNoCase(std::string_view text, std::string_view separator);

/// The first / last `n` characters; the whole text when it is shorter.
std::string leftText(std::string_view text, std::size_t n);
std::string rightText(std::string_view text, std::size_t n);
/// Characters from 1-based `start`, at most `length`; "" beyond the end.
std::string midText(std::string_view text, std::size_t start, std::size_t length = std::string_view::npos);

/// Inline: parsers ask these of every line, mostly with short literals.
inline bool startsWith(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
inline bool endsWith(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }

/// The most bytes a text that comes from a script may take in a record or
/// in one run-log line: a failing action that prints without end must not
/// make a record the server refuses, or a run log nobody can open.
inline constexpr std::size_t kTextBound = 64 * 1024;
/// What ends a text cut to the bound; kept within the bound itself.
inline constexpr std::string_view kCutMarker = " ... (cut: longer than 64 KiB)";

/// The text as it is when it holds at most `bound` bytes; otherwise its
/// beginning and kCutMarker, `bound` bytes in all.
std::string boundedText(std::string_view text, std::size_t bound = kTextBound);
/// The part of appendBounded for a `more` that does not fit.
void appendCut(std::string& text, std::string_view more, std::size_t bound);
/// Appends `more` to `text` as far as `bound` allows; when it does not fit,
/// `text` is cut as boundedText cuts. A text that was cut takes nothing more,
/// so a caller may go on appending without growing it. Inline: parsers call
/// it for every line they keep.
inline void appendBounded(std::string& text, std::string_view more, std::size_t bound = kTextBound) {
    if (more.size() <= bound - (text.size() < bound ? text.size() : bound)) {
        text.append(more);
    } else {
        appendCut(text, more, bound);
    }
}
/// True when `text` has been cut by the two helpers above (it is `bound`
/// bytes long and ends with the marker).
bool isCut(std::string_view text, std::size_t bound = kTextBound);

// The three places a record holds a text in. Whatever bytes a script
// printed, the record stays well-formed and a reader gets back the text that
// was counted and reported: a control character (below 0x20) other than TAB,
// LF and CR, which XML cannot carry in any form, becomes "?"; nothing else
// changes where it was already well-formed.

/// A CDATA section holding `text`: every "]]>" in it is split across two
/// sections ("]]]]><![CDATA[>"), so the section ends where the record says
/// and a reader gets `text` back unchanged.
std::string cdataSection(std::string_view text);
/// `text` made safe as an attribute value between single quotes: "&", "<"
/// and "'" become entities, and TAB, LF and CR character references
/// ("&#9;", "&#10;", "&#13;"), which a reader would otherwise turn into
/// blanks.
std::string attributeText(std::string_view text);
/// `text` made safe as the content of an element: "&" and "<" become
/// entities, and so does the ">" of a "]]>".
std::string elementText(std::string_view text);

/// A digest of `text` as 16 hexadecimal digits (64-bit FNV-1a): tells long
/// texts apart in a short form. Not a defence against a text made to collide.
std::string textDigest(std::string_view text);

/// Formats a time with a date picture: "MM"/"mm" month (minutes right after an
/// hour token), "DD"/"dd" day, "YYYY"/"yyyy" year, "HH"/"hh" hour 00-23,
/// "NN"/"nn" minutes, "SS"/"ss" seconds in two digits, a single "S"/"s"
/// seconds without a leading zero, "\/" a slash; other characters as they stand.
std::string formatPicture(const LocalTime& time, std::string_view picture);

/// The date and time a record and a run-log line carry, as in
/// 12/07/2026 10:15:30: the run's scan time, a variables record's time and
/// every run-log stamp.
inline constexpr std::string_view kRecordTimePicture = "MM\\/DD\\/YYYY HH:NN:SS";
