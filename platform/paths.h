// Shell folders and short path names.
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <string>

class Paths {
public:
    virtual ~Paths() = default;
    /// The Program Files folder without a trailing "\"; "" on failure.
    virtual std::string ProgramFilesFolder() = 0;
    /// GetShortPathNameA: the short form of an existing path; "" when it does not exist.
    virtual std::string ShortPath(const std::string& path) = 0;
};
