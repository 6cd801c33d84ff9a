// The one text encoding of the program at the seam with Linux: the program
// works in the system code page (Windows-1252, as on the machines it was
// written for); Linux names files, passes arguments and keeps text in UTF-8.
// Every text that crosses between them in this backend goes through this pair.
// May contain: the conversions only; no system calls, no program logic.
#pragma once

#include <string>
#include <string_view>

/// Text of the program as UTF-8. Every byte has a character: 0x80-0x9F are
/// the code page's own (0x80 is the euro sign), and the five bytes the code
/// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1
/// control of the same value, as Windows maps them, so they too come back.
std::string utf8FromCodePage(std::string_view text);

/// UTF-8 as text of the program. A character the code page has no byte for
/// becomes "?". A byte that does not begin a well-formed UTF-8 sequence (an
/// invalid, overlong or cut-off one, a surrogate, or beyond U+10FFFF) is kept
/// as the same byte: a file name on disk that is not UTF-8 is shown byte for
/// byte, and the case-insensitive match, which compares in the code page,
/// finds the file again by that name.
std::string codePageFromUtf8(std::string_view utf8);

/// True when `text` is plain ASCII, the same in both encodings.
bool isAsciiText(std::string_view text);
