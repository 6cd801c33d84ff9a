// The Win32 backend of shell folders and short path names.
// May contain: the declaration of the backend class; the shell32 and kernel32 calls live in paths.cpp.
#pragma once

#include "platform/paths.h"

/// The Program Files folder from the shell (CSIDL_PROGRAM_FILES) and short
/// names from GetShortPathNameA. A 32-bit program on 64-bit Windows gets the
/// 32-bit Program Files folder. A short form of any length is returned whole.
class Win32Paths : public Paths {
public:
    std::string ProgramFilesFolder() override;
    std::string ShortPath(const std::string& path) override;
};
