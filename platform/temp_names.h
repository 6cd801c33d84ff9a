// The names under which this program writes a file before it is complete.
// May contain: plain name rules shared by the backends and the logic.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"

/// `name` + ".vx" + process id + ".tmp". The process id keeps two runs from
/// ever writing one temporary file; the ending keeps it apart from the
/// "*.xml" files that the forwarding component takes, and lets the clean-up
/// find leftovers of runs that died (isTemporaryName).
inline std::string temporaryNameOf(const std::string& name, std::uint32_t processId) {
    return name + ".vx" + std::to_string(processId) + ".tmp";
}

/// True for a file name made by temporaryNameOf, with or without the leading
/// "." by which the posix backend hides its temporary INI files. Letter case
/// is not compared, as Windows file names go.
inline bool isTemporaryName(std::string_view name) {
    if (!endsWithNoCase(name, ".tmp")) return false;
    std::size_t digits = name.size() - 4;
    const std::size_t digitsEnd = digits;
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == digitsEnd || !endsWithNoCase(name.substr(0, digits), ".vx")) return false;
    // Something must stand before ".vx": the name of the file being written.
    const std::size_t marker = digits - 3;
    return marker > 0 && !(marker == 1 && name[0] == '.');
}
