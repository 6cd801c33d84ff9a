// The Win32 backend of the file-system object (objFSO).
// May contain: the declaration of the backend class; the Win32 calls live in filesystem.cpp
// and, for the confined operations, confined.cpp.
#pragma once

#include "platform/filesystem.h"

/// objFSO over the Win32 file API (ANSI calls; paths are used as given).
///
/// How it matches the posix backend:
/// - errors are raised with the scripting runtime's numbers: a missing file
///   53, a missing folder 76, a refused access or sharing conflict 70, an
///   existing target 58, a full disk 61, a bad name 52, anything else 57;
/// - text streams read in blocks and write each WriteLine with one WriteFile
///   call; files are opened with every kind of sharing, so that another
///   process may read, write or delete a file this program holds open;
/// - appending goes to the end of the file for every write;
/// - a read-only file refuses writing and deletion, unless deletion is forced;
/// - GetFiles lists the regular files of a folder (no folders, no reparse
///   points) with their creation time in local time, in the order of names
///   compared without regard to case (in upper case, as NTFS orders them);
///   FindFirstFileA/FindNextFileA hand over each file's date and size with
///   its name, so only the ordering is left to spare;
/// - a call on a file that another process holds for a moment (a sharing or
///   lock violation, or a denied access on a writable file) is run again
///   within a bound (see retry.h), then fails as it always did;
/// - the confined operations open every folder below the given one and the
///   file itself with FILE_FLAG_OPEN_REPARSE_POINT, so a junction or link is
///   opened as itself and refused by its FILE_ATTRIBUTE_REPARSE_POINT; the
///   folders on the way stay open without FILE_SHARE_DELETE while the file is
///   opened, so none can be renamed or replaced meanwhile; and the file's
///   GetFinalPathNameByHandleA must lie below that of the given folder, which
///   also refuses what the attributes cannot show (a Unix link under Wine, a
///   device name such as NUL); the file itself is opened so that a user's
///   opportunistic lock is never waited for: a file whose lock break is
///   pending raises err::DeviceIO, as an unreadable file does.
class Win32FileSystem : public FileSystem {
public:
    bool FolderExists(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    void CreateFolder(const std::string& path) override;
    std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite) override;
    std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IOMode mode, bool create) override;
    void CopyFile(const std::string& source, const std::string& target, bool overwrite) override;
    void MoveFile(const std::string& source, const std::string& target, bool replace) override;
    void DeleteFile(const std::string& path, bool force) override;
    /// CREATE_NEW, FlushFileBuffers and MoveFileExA without replacing, with
    /// MOVEFILE_WRITE_THROUGH.
    void PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) override;
    std::uint64_t GetFileSize(const std::string& path) override;
    std::string GetFileVersion(const std::string& path) override;
    std::vector<FileEntry> GetFiles(const std::string& folder, const FileQuery& query = {}) override;
    void SetReadOnly(const std::string& path, bool readOnly) override;
    /// Every writer opens the log for appending with all sharing. Only a start
    /// that finds the log at its limit asks, once, for a handle that refuses
    /// to share writing, and cuts the log through it: the system grants that
    /// handle only while no other handle can write the log.
    std::unique_ptr<TextStream> OpenSharedLog(const std::string& path, std::uint64_t restartSize) override;
    bool FileExistsInside(const std::string& folder, const std::string& path) override;
    std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) override;
    void DeleteInside(const std::string& folder, const std::string& path, bool force) override;
    /// A handle sharing reading only (file_hold.cpp).
    std::unique_ptr<FileHold> HoldFile(const std::string& path) override;
};

namespace win32 {

/// Whether a file opened below a folder may be used by a confined operation:
/// its attributes (from GetFileInformationByHandle) carry no
/// FILE_ATTRIBUTE_REPARSE_POINT and no FILE_ATTRIBUTE_DIRECTORY, it has one
/// name (`links`), GetFileType says FILE_TYPE_DISK (`fileType`), and its
/// final path lies below the folder's (both as GetFinalPathNameByHandleA
/// gives them; an empty final path is refused).
bool usableBeneath(unsigned long attributes, unsigned long links, unsigned long fileType,
                   const std::string& realFolder, const std::string& finalPath);

}  // namespace win32
