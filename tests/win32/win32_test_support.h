// Shared pieces of the Win32 backend tests: a temporary folder, files written
// byte for byte, and this test program started again as a helper process.
#pragma once

#include <string>

/// A fresh folder under the system's temporary folder, removed with all it
/// holds when the test ends. Paths are Windows paths without a trailing "\".
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    /// path() + "\" + name.
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

/// Writes exactly these bytes (creating or replacing the file).
void writeBytes(const std::string& path, const std::string& bytes);
/// The file's bytes; "" when it cannot be read.
std::string readBytes(const std::string& path);

/// The full path of this test program.
std::string testProgramPath();
/// A command line that starts this test program as the helper `mode` (see main.cpp).
std::string helperCommandLine(const std::string& mode, const std::string& argument = "");
