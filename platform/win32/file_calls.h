// What the plain and the confined file operations of the Win32 backend share:
// the error mapping and the text stream over a handle.
// May contain: declarations only; defined in filesystem.cpp.
#pragma once

#include <memory>

#include "base/errors.h"
#include "platform/filesystem.h"
#include "platform/win32/handle.h"
#include "platform/win32/windows.h"

namespace win32 {

/// Shares reading, writing and deleting with everyone.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// The scripting runtime's error for a Win32 error code.
RunError errorFor(DWORD code);
/// Raises the error of GetLastError.
[[noreturn]] void raiseLastError();
/// A text stream that owns `file`.
std::unique_ptr<TextStream> streamOver(Handle file, bool forReading);

}  // namespace win32
