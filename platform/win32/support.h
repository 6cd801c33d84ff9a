// Helpers shared by the Win32 backend: text conversions between the system
// code page and UTF-16, the COM apartment, and hidden program starts.
// May contain: declarations only; no <windows.h> here, so that code which
// includes a backend header does not get the Windows macros with it.
#pragma once

#include <cstdint>
#include <string>

namespace win32 {

/// Text of the system code page (CP_ACP) as UTF-16; characters the code page
/// cannot map come out as the system converts them.
std::wstring wideOf(const std::string& text);
/// UTF-16 as text of the system code page. A character the code page has
/// no form of its own for becomes "?", never a look-alike (a fullwidth
/// reverse solidus, U+FF3C, is not a separator); "?" can be no part of a
/// Windows file name, so such a text never names a file (see
/// subCompareCheksum, where job-list text becomes a path).
std::string ansiOf(const wchar_t* text, std::size_t length);
std::string ansiOf(const std::wstring& text);

/// Makes sure the calling thread is in a single-threaded COM apartment before
/// the first COM object is created. The apartment is kept to the end of the
/// process: objects handed out may be released at any time before that.
/// False when COM could not be initialised.
bool ensureComApartment();

/// Starts `commandLine` with its window hidden and does not wait for it;
/// the handles of the new process are closed at once. The first token of the
/// command line names the program, searched for as CreateProcess does.
/// Returns the system error code: 0 when the program started.
unsigned long startHidden(const std::string& commandLine);

}  // namespace win32
