// Command lines the program builds for the system to split.
#include "platform/command_line.h"

std::string commandLineProgram(std::string_view path) {
    if (path.find_first_of(" \t") == std::string_view::npos) return std::string(path);
    return "\"" + std::string(path) + "\"";
}
