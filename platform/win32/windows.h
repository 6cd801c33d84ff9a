// <windows.h> for the Win32 files (the backend, its tests, the stand-ins),
// without the macros that would rewrite the names of the interfaces.
// May contain: the system headers whose macros collide with those names, and
// the undoing of those macros. Every Win32 file includes this instead of
// <windows.h>, before or after the interface headers alike.
#pragma once

// No min/max macros (they would rewrite std::min and std::max), and only the
// core of the system headers: a file that needs COM, the shell or sockets
// includes their headers itself.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>

// Functions whose names are methods of the interfaces (FileSystem::CopyFile,
// Processes::CreateProcess, Desktop::OpenDesktop, ...) are macros that pick
// the ANSI or wide variant. The Win32 files call the ANSI variants by their
// own names ("CopyFileA"), so the plain names stay the interfaces'.
#undef CopyFile
#undef MoveFile
#undef DeleteFile
#undef CreateProcess
#undef CreateProcessAsUser
#undef OpenDesktop

// Constants that the interfaces declare themselves (proc::INFINITE,
// reg::REG_SZ, desk::DESKTOP_SWITCHDESKTOP, ...): as macros they would turn
// those declarations into numbers. Their values and types are taken while
// the macros stand, and the Windows names stay usable as constants.
namespace win32_macro_values {
inline constexpr auto createNoWindow = CREATE_NO_WINDOW;
inline constexpr auto createUnicodeEnvironment = CREATE_UNICODE_ENVIRONMENT;
inline constexpr auto desktopEnumerate = DESKTOP_ENUMERATE;
inline constexpr auto desktopSwitchDesktop = DESKTOP_SWITCHDESKTOP;
inline constexpr auto errorFileNotFound = ERROR_FILE_NOT_FOUND;
inline constexpr auto errorMoreData = ERROR_MORE_DATA;
inline constexpr auto errorSuccess = ERROR_SUCCESS;
inline const auto hkeyLocalMachine = HKEY_LOCAL_MACHINE;
inline constexpr auto infinite = INFINITE;
inline constexpr auto keyQueryValue = KEY_QUERY_VALUE;
inline constexpr auto keyRead = KEY_READ;
inline constexpr auto maxPath = MAX_PATH;
inline constexpr auto processAllAccess = PROCESS_ALL_ACCESS;
inline constexpr auto regBinary = REG_BINARY;
inline constexpr auto regDword = REG_DWORD;
inline constexpr auto regExpandSz = REG_EXPAND_SZ;
inline constexpr auto regMultiSz = REG_MULTI_SZ;
inline constexpr auto regQword = REG_QWORD;
inline constexpr auto regSz = REG_SZ;
inline constexpr auto stillActive = STILL_ACTIVE;
inline constexpr auto th32csSnapAll = TH32CS_SNAPALL;
inline constexpr auto waitFailed = WAIT_FAILED;
inline constexpr auto waitObject0 = WAIT_OBJECT_0;
inline constexpr auto waitTimeout = WAIT_TIMEOUT;
}  // namespace win32_macro_values

#undef CREATE_NO_WINDOW
#undef CREATE_UNICODE_ENVIRONMENT
#undef DESKTOP_ENUMERATE
#undef DESKTOP_SWITCHDESKTOP
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_MORE_DATA
#undef ERROR_SUCCESS
#undef HKEY_LOCAL_MACHINE
#undef INFINITE
#undef KEY_QUERY_VALUE
#undef KEY_READ
#undef MAX_PATH
#undef PROCESS_ALL_ACCESS
#undef REG_BINARY
#undef REG_DWORD
#undef REG_EXPAND_SZ
#undef REG_MULTI_SZ
#undef REG_QWORD
#undef REG_SZ
#undef STILL_ACTIVE
#undef TH32CS_SNAPALL
#undef WAIT_FAILED
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT

inline constexpr auto CREATE_NO_WINDOW = win32_macro_values::createNoWindow;
inline constexpr auto CREATE_UNICODE_ENVIRONMENT = win32_macro_values::createUnicodeEnvironment;
inline constexpr auto DESKTOP_ENUMERATE = win32_macro_values::desktopEnumerate;
inline constexpr auto DESKTOP_SWITCHDESKTOP = win32_macro_values::desktopSwitchDesktop;
inline constexpr auto ERROR_FILE_NOT_FOUND = win32_macro_values::errorFileNotFound;
inline constexpr auto ERROR_MORE_DATA = win32_macro_values::errorMoreData;
inline constexpr auto ERROR_SUCCESS = win32_macro_values::errorSuccess;
inline const auto HKEY_LOCAL_MACHINE = win32_macro_values::hkeyLocalMachine;
inline constexpr auto INFINITE = win32_macro_values::infinite;
inline constexpr auto KEY_QUERY_VALUE = win32_macro_values::keyQueryValue;
inline constexpr auto KEY_READ = win32_macro_values::keyRead;
inline constexpr auto MAX_PATH = win32_macro_values::maxPath;
inline constexpr auto PROCESS_ALL_ACCESS = win32_macro_values::processAllAccess;
inline constexpr auto REG_BINARY = win32_macro_values::regBinary;
inline constexpr auto REG_DWORD = win32_macro_values::regDword;
inline constexpr auto REG_EXPAND_SZ = win32_macro_values::regExpandSz;
inline constexpr auto REG_MULTI_SZ = win32_macro_values::regMultiSz;
inline constexpr auto REG_QWORD = win32_macro_values::regQword;
inline constexpr auto REG_SZ = win32_macro_values::regSz;
inline constexpr auto STILL_ACTIVE = win32_macro_values::stillActive;
inline constexpr auto TH32CS_SNAPALL = win32_macro_values::th32csSnapAll;
inline constexpr auto WAIT_FAILED = win32_macro_values::waitFailed;
inline constexpr auto WAIT_OBJECT_0 = win32_macro_values::waitObject0;
inline constexpr auto WAIT_TIMEOUT = win32_macro_values::waitTimeout;
