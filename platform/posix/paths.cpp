// Shell folders and short names for the machine root.
// May contain: POSIX stat; no program logic.
#include <sys/stat.h>

#include "platform/posix/machine.h"
#include "platform/posix/paths.h"

std::string PosixPaths::ProgramFilesFolder() { return "C:\\Program Files"; }

std::string PosixPaths::ShortPath(const std::string& path) {
    // No 8.3 names here: the long form is the only one an existing path has.
    struct stat st {};
    return ::stat(mapPath(path).c_str(), &st) == 0 ? path : "";
}
