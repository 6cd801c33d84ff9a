// The Win32 backend of shell folders and short path names.
// May contain: the declaration of the backend class; the shell32 and kernel32 calls live in paths.cpp.
#pragma once

#include "platform/paths.h"

/// The Program Files folder from the shell and short names from
/// GetShortPathNameA. The folder is the 32-bit programs' one
/// (CSIDL_PROGRAM_FILESX86: "Program Files (x86)" on 64-bit Windows, "Program
/// Files" on 32-bit Windows), where the agent installs the runner and its
/// scripts, whichever the bitness of this build. A short form of any length
/// is returned whole.
class Win32Paths : public Paths {
public:
    std::string ProgramFilesFolder() override;
    std::string ShortPath(const std::string& path) override;
};
