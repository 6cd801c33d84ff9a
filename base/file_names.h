// The rule a file name must pass before the program composes it into a path
// from a text that a script (or a job) chose.
// May contain: text functions only; nothing above base/, no system calls.
#pragma once

#include <string_view>

/// True when `name` can stand as one file name inside a folder and mean
/// only that: not empty, not "." or "..", no ".." anywhere, no control
/// character and none of \ / : * ? " < > |, no trailing dot or blank (Windows
/// strips them, so the name would mean another), and no device name (CON,
/// PRN, AUX, NUL, COM0-9, LPT0-9, the two with a superscript 1, 2 or 3,
/// CONIN$, CONOUT$) whatever follows its first dot.
bool isPlainName(std::string_view name);

/// The text after the last "\" or "/" of `path` (all of it when it holds
/// neither): Windows takes either as a separator, so a name cut at "\"
/// alone could still lead elsewhere.
std::string_view lastNameOf(std::string_view path);
