// The posix backend's view of a Windows machine: a folder (the machine root)
// that holds one folder per drive and the registry file.
// May contain: POSIX file-system calls, nothing Windows-specific.
#pragma once

#include <string>

/// The machine root: $VORBEX_MACHINE, or /var/lib/vorbex when unset or empty.
std::string machineRoot();

/// Maps a Windows path (the program's text, in its code page) to a path of
/// this system, in UTF-8 (code_page.h). "X:" is <root>/drive_x (the
/// drive letter lower-cased); "\" and "/" separate components; empty and "."
/// components are skipped and ".." goes up (never above the drive). Each
/// component is matched without regard to case (ASCII letters, compared in
/// the code page) against what exists; a
/// component that does not exist is kept as spelled. Drive Z: is the system's
/// own root "/" unless <root>/drive_z exists, as under Wine. A path without a
/// drive is taken on drive C:.
std::string mapPath(const std::string& windowsPath);

/// The path of this system that `windowsPath` names as it is spelled, letter
/// case untouched: what mapPath gives whenever that path exists. For a
/// caller whose own call on it tells whether it exists, and that maps the
/// path only when it names nothing.
std::string spelledPath(const std::string& windowsPath);

/// The reverse mapping, for paths of this system that the program must show
/// as Windows paths (its own folder, for example): below <root>/drive_x it is
/// "X:\...", anything else is "Z:\..." with "/" turned into "\"; in the
/// program's code page.
std::string windowsPathOf(const std::string& posixPath);

/// The registry file, <root>/system.reg.
std::string registryFilePath();

/// errno's text, in the program's code page, ending with CR LF, as system message texts end; "" when the
/// system knows no text for the code.
std::string systemMessageText(long code);
