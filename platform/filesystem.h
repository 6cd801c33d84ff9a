// The file-system object (objFSO) and its text streams.
// Operations raise RunError as the scripting file-system object does:
// 53 File not found, 76 Path not found, 70 Permission denied, 58 File already exists,
// and 75 Path/File access error for a path the confined operations refuse.
// Paths are Windows paths; each backend maps them to its own file system.
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

/// An open text file, read or written as bytes (the system code page).
class TextStream {
public:
    virtual ~TextStream() = default;
    /// True when no byte is left to read.
    virtual bool AtEndOfStream() = 0;
    /// The next line without its line end (LF, or CR LF). Raises err::PastEnd at the end.
    /// A line longer than kMaxLineBytes gives its first kMaxLineBytes bytes;
    /// the rest of it is read past, so a script's endless line never sits in
    /// memory whole.
    virtual std::string ReadLine() = 0;
    /// The next lines, at most `max` (at least one), as ReadLine gives them,
    /// as views of the stream's own buffer that hold until the stream is used
    /// again: a parser takes the lines of a block without copying them, and
    /// copies only what it keeps past the call. The lines lie in order in one
    /// buffer, each followed by its line end (or the rest of a line longer than
    /// kMaxLineBytes), so one search from the first line's start to the last
    /// line's end covers them all. 0 at the end.
    virtual std::size_t ReadLines(std::string_view* lines, std::size_t max) = 0;
    /// The bytes that follow, as many as the stream holds at once (at least
    /// one), as a view that holds until the stream is used again. False at
    /// the end.
    virtual bool ReadView(std::string_view& bytes) = 0;
    /// Everything from the current position to the end.
    virtual std::string ReadAll() = 0;
    /// Writes the text as it stands.
    virtual void Write(const std::string& text) = 0;
    /// Writes the text and CR LF, and hands both to the system at once, so a
    /// process that dies later loses nothing already written.
    virtual void WriteLine(const std::string& text) = 0;
    /// Writes each text followed by CR LF, all handed to the system at once:
    /// a long series of lines costs one call, and another process's lines
    /// never fall between them.
    virtual void WriteLines(const std::vector<std::string>& texts) = 0;
    /// Closes the file; later calls raise an error. The destructor closes too.
    virtual void Close() = 0;
};

/// The most bytes ReadLine returns of one line.
inline constexpr std::size_t kMaxLineBytes = 1024 * 1024;
/// How many lines a parser asks of ReadLines at once.
inline constexpr std::size_t kLineBatch = 256;

/// The bytes from the first of `count` lines that ReadLines gave to the end
/// of the last: a view that holds the lines and the line ends between them.
inline std::string_view spanOfLines(const std::string_view* lines, std::size_t count) {
    const char* end = lines[count - 1].data() + lines[count - 1].size();
    return std::string_view(lines[0].data(), static_cast<std::size_t>(end - lines[0].data()));
}

enum class IOMode { ForReading = 1, ForWriting = 2, ForAppending = 8 };

/// One file of a folder, as the Files collection shows it.
struct FileEntry {
    std::string name;         // file name
    std::string path;         // full Windows path: folder + "\" + name
    LocalTime dateCreated;    // local creation date (see the backend for its source)
    std::uint64_t size = 0;
};

/// Which files of a folder GetFiles gives. A folder may hold many thousands
/// of files of which a caller wants a few: the filters let the backend skip
/// the rest without examining or ordering them. Unset filters keep all.
struct FileQuery {
    /// Asked of each file's name before anything else is learnt of the file.
    std::function<bool(std::string_view name)> name;
    /// Asked of each file the name filter kept, with its date and size.
    std::function<bool(const FileEntry& file)> entry;
    /// At most this many files: the first, in the enumeration order, of
    /// those both filters keep.
    std::size_t limit = std::numeric_limits<std::size_t>::max();
};

/// A file held against change while this object lives (FileSystem::HoldFile);
/// destroying it lets the file go.
class FileHold {
public:
    virtual ~FileHold() = default;
    /// True when the system itself keeps writers out while the file is held
    /// (Win32); false where a change can only be found afterwards (posix).
    virtual bool KeepsWritersOut() const = 0;
    /// True when the held path still names the held file, as it was when the
    /// hold was taken: the same file (device and file number), the same size,
    /// and (posix) the same status-change time, which a rename, a new link, a
    /// write or a change of mode all move and nobody can set back.
    virtual bool Unchanged() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual bool FolderExists(const std::string& path) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    /// Creates one folder; raises err::FileExists when it exists, err::PathNotFound
    /// when its parent is missing.
    virtual void CreateFolder(const std::string& path) = 0;
    /// Creates a text file (replacing an existing one only when `overwrite`).
    virtual std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite) = 0;
    /// Opens a text file; with `create` a missing file is created, else 53.
    virtual std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IOMode mode, bool create) = 0;
    /// Copies a file; an existing target is replaced only when `overwrite` (else 58).
    virtual void CopyFile(const std::string& source, const std::string& target, bool overwrite) = 0;
    /// Renames a file to a new name in the same file system, atomically replacing
    /// an existing target only when `replace` (else 58).
    virtual void MoveFile(const std::string& source, const std::string& target, bool replace) = 0;
    /// Deletes a file; a read-only file is deleted only when `force` (else 70).
    virtual void DeleteFile(const std::string& path, bool force) = 0;
    /// Puts `text` into a new file `target` that no reader sees before it is
    /// whole and on disk. The bytes go into `partial`, a name of this
    /// process's own in the same folder: a leftover there (a file of an
    /// earlier attempt, or a link, removed as itself) is deleted first and the
    /// file is created anew, never opened through a link or over an existing
    /// file. It is written, flushed to the disk, and renamed to `target`
    /// without replacing; the rename is made durable too. Raises err::FileExists
    /// when `target` is taken, and any other error as it comes; either way
    /// `partial` is gone afterwards. A partial name the call cannot free
    /// raises err::PermissionDenied.
    virtual void PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) = 0;
    /// Size in bytes of an existing file (GetFile(path).Size).
    virtual std::uint64_t GetFileSize(const std::string& path) = 0;
    /// The file version resource of a file; "" when it has none; 53 when missing.
    virtual std::string GetFileVersion(const std::string& path) = 0;
    /// The regular files of a folder (not sub-folders, not links) that
    /// `query` keeps, in the enumeration order: by name compared without
    /// regard to case (lessNoCase). Raises err::PathNotFound when the folder is missing.
    virtual std::vector<FileEntry> GetFiles(const std::string& folder, const FileQuery& query = {}) = 0;
    /// Marks a file read-only or writable (the read-only attribute).
    virtual void SetReadOnly(const std::string& path, bool readOnly) = 0;
    /// Opens a log that several processes may write at the same moment: the
    /// file is created when missing and otherwise appended to, and every
    /// WriteLine lands whole at its end. When the file has reached
    /// `restartSize` bytes and no other process has it open through this call,
    /// its contents are dropped first; a log that another process is writing
    /// is never cut. The file counts as being written until the stream closes.
    virtual std::unique_ptr<TextStream> OpenSharedLog(const std::string& path, std::uint64_t restartSize) = 0;

    // Confined operations, for files that a script's output names. `path`
    // must name a regular file that lies, by its real location, below
    // `folder`: below it once "." and ".." are applied (see componentsBelow),
    // with no component below `folder` -- a folder on the way or the file
    // itself -- a symbolic link, junction or other reparse point, and with no
    // second name (a hard link). Each call checks and acts on handles it holds
    // open, so a component swapped for a link meanwhile is refused, never
    // followed. `folder` itself is trusted as it is named. A path that breaks
    // the rule raises err::PathAccess; a missing file err::FileNotFound, a
    // missing folder on the way err::PathNotFound.

    /// True when a regular file is there; false when nothing (or a folder) is.
    virtual bool FileExistsInside(const std::string& folder, const std::string& path) = 0;
    /// Opens the file for reading.
    virtual std::unique_ptr<TextStream> OpenInside(const std::string& folder, const std::string& path) = 0;
    /// Deletes the file; a read-only one only when `force` (else 70). A link
    /// found there is neither followed nor deleted.
    virtual void DeleteInside(const std::string& folder, const std::string& path, bool force) = 0;

    /// Holds the existing file `path` until the returned object goes, so that
    /// what was verified is what is used. Win32 keeps it open sharing reading
    /// only: nobody can write, replace, rename or delete it meanwhile, while
    /// anyone may still read it by its path. posix cannot forbid that; it
    /// keeps a descriptor, so that a change can be found afterwards
    /// (FileHold::Unchanged). Raises RunError when the file cannot be opened
    /// so: 53 when it is missing, 70 when refused (Win32: also while another
    /// process has it open for writing or deleting).
    virtual std::unique_ptr<FileHold> HoldFile(const std::string& path) = 0;
};

/// The name after the last "\" (GetFileName).
inline std::string fileNameOf(const std::string& path) {
    const auto pos = path.find_last_of('\\');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

/// The part before the last "\" (the folder of a file's path); "" when there is none.
inline std::string folderOf(const std::string& path) {
    const auto pos = path.find_last_of('\\');
    return pos == std::string::npos ? std::string() : path.substr(0, pos);
}
