// Helpers shared by the Win32 backend.
// May contain: code-page conversion, COM initialisation and process start
// calls; no program logic.
#include "platform/win32/support.h"

#include "platform/win32/windows.h"
#include <objbase.h>

#include <vector>

#include "platform/win32/handle.h"

namespace win32 {

std::wstring wideOf(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string ansiOf(const wchar_t* text, std::size_t length) {
    if (text == nullptr || length == 0) return std::string();
    // Without WC_NO_BEST_FIT_CHARS a fullwidth reverse solidus (U+FF3C) would
    // come out as a real separator and could make a path the text never
    // named. UTF-8 has a form for every character and refuses both the flag
    // and a default character.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = utf8 ? nullptr : "?";
    const int size = static_cast<int>(length);
    const int n = ::WideCharToMultiByte(CP_ACP, flags, text, size, nullptr, 0, fallback, nullptr);
    if (n <= 0) return std::string();
    std::string ansi(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, text, size, ansi.data(), n, fallback, nullptr);
    return ansi;
}

std::string ansiOf(const std::wstring& text) { return ansiOf(text.data(), text.size()); }

bool ensureComApartment() {
    // Every COM call comes from the program's one thread (the Win32 backend
    // starts no other): one apartment, entered once.
    static const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // RPC_E_CHANGED_MODE: the host entered a multi-threaded apartment first,
    // which serves the in-process objects used here just as well.
    return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
}

unsigned long startHidden(const std::string& commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    // CreateProcessA may write into the command line, so it gets its own copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
        return ::GetLastError();
    }
    const Handle thread(info.hThread), process(info.hProcess);
    return 0;
}

}  // namespace win32
