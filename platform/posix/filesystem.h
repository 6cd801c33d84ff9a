// The posix backend of the file-system object (objFSO), over a Windows machine mapped onto a folder
// (see machine.h).
// May contain: the declaration of the backend class; the calls live in filesystem.cpp, confined.cpp and file_hold.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/filesystem.h"

/// objFSO over mapped paths (filesystem.cpp; the confined operations in confined.cpp).
class PosixFileSystem : public FileSystem {
public:
    bool FolderExists(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    void CreateFolder(const std::string& path) override;
    std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite) override;
    std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IOMode mode, bool create) override;
    void CopyFile(const std::string& source, const std::string& target, bool overwrite) override;
    void MoveFile(const std::string& source, const std::string& target, bool replace) override;
    void DeleteFile(const std::string& path, bool force) override;
    void PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) override;
    std::uint64_t GetFileSize(const std::string& path) override;
    std::string GetFileVersion(const std::string& path) override;
    /// With an entry filter every file is looked at, in a large folder by
    /// helper threads (folder_looks.h); both filters run in the calling thread.
    std::vector<FileEntry> GetFiles(const std::string& folder, const FileQuery& query = {}) override;
    void SetReadOnly(const std::string& path, bool readOnly) override;
    /// Holds a shared flock on the log while the stream is open; only a
    /// process that gets the exclusive lock (so nobody else has the log open)
    /// may cut it.
    std::unique_ptr<TextStream> OpenSharedLog(const std::string& path, std::uint64_t restartSize) override;
    bool FileExistsInside(const std::string& folder, const std::string& path) override;
    std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) override;
    void DeleteInside(const std::string& folder, const std::string& path, bool force) override;
    /// A descriptor of the file and its status as opened (file_hold.cpp).
    std::unique_ptr<FileHold> HoldFile(const std::string& path) override;
};
