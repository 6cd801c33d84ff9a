// Command lines the program builds for the system to split.
// May contain: text functions shared by the logic and both backends; no system calls.
#pragma once

#include <string>
#include <string_view>

/// A program's path as the first token of a command line: in double quotes
/// when it holds a blank or a tab, as it stands otherwise. Without quotes the
/// system takes the path up to a blank as the program and tries
/// "C:\Program.exe" before "C:\Program Files\...\x.exe"; the short form of a
/// path has no blank, but a volume without short names gives the long one.
/// A Windows path never holds a double quote, so nothing inside needs escaping.
std::string commandLineProgram(std::string_view path);
