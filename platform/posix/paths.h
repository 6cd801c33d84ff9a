// The posix backend of the well-known paths, over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in paths.cpp.
#pragma once

#include <string>

#include "platform/paths.h"

/// Program Files is "C:\Program Files"; a short path is the path itself when it exists (paths.cpp).
class PosixPaths : public Paths {
public:
    std::string ProgramFilesFolder() override;
    std::string ShortPath(const std::string& path) override;
};
