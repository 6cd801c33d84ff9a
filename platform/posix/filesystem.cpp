// objFSO over the machine root: files and folders of mapped Windows paths.
// May contain: POSIX file calls and the mapping of their errno values to the
// scripting runtime's error numbers; no program logic.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstring>

#include "base/errors.h"
#include "base/text.h"
#include "platform/buffered_stream.h"
#include "platform/file_order.h"
#include "platform/path_components.h"
#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_calls.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/folder_looks.h"
#include "platform/posix/machine.h"
#include "platform/posix/sys_calls.h"

#ifndef VORBEX_VERSION
#define VORBEX_VERSION "0.0.0.0"
#endif

namespace {

constexpr std::size_t kCopyBlock = 1024 * 1024;
// How long a log opener waits for a share of a log that another process is
// cutting (which takes a moment): 200 tries 10 ms apart.
constexpr int kLogShareTries = 200;

std::string parentOf(const std::string& hostPath) {
    const auto slash = hostPath.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : hostPath.substr(0, slash);
}

bool isFolder(const std::string& hostPath) {
    struct stat st {};
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The scripting runtime's error for a failed call on `hostPath`. A missing
// entry is "File not found" when its folder exists and "Path not found" when
// the folder itself is missing, as the Windows calls tell them apart.
RunError errorFor(int error, const std::string& hostPath) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return runError(isFolder(parentOf(hostPath)) ? err::FileNotFound : err::PathNotFound);
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
        case EBUSY:
            return runError(err::PermissionDenied);
        case EEXIST:
        case ENOTEMPTY:
            return runError(err::FileExists);
        case ENOSPC:
        case EDQUOT:
            return runError(err::DiskFull);
        case EXDEV:
            return runError(err::RenameAcrossDrives);
        case ENAMETOOLONG:
            return runError(err::BadFileName);
        default:
            return runError(err::DeviceIO);
    }
}

}  // namespace

[[noreturn]] void posix::raise(int error, const std::string& hostPath) { throw errorFor(error, hostPath); }

// Windows keeps a read-only attribute that stops even administrators; here it
// is the owner's write bit, checked by hand because root ignores it.
bool posix::isReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

namespace {

using posix::isReadOnly;
using posix::raise;

LocalTime localTimeOf(time_t t) {
    struct tm tm {};
    ::localtime_r(&t, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Writes all bytes, or raises the error of the write that failed.
void writeOrRaise(int fd, const char* data, std::size_t size, const std::string& hostPath) {
    if (!writeAll(fd, data, size)) raise(errno, hostPath);
}

class PosixTextStream : public BufferedTextStream {
public:
    PosixTextStream(int fd, bool forReading, std::string hostPath)
        : BufferedTextStream(forReading), fd_(fd), path_(std::move(hostPath)) {}
    ~PosixTextStream() override { closeRaw(); }

protected:
    std::size_t readRaw(char* data, std::size_t size) override {
        ssize_t n;
        do {
            n = posix::sysCalls.read(fd_.fd, data, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) raise(errno, path_);
        return static_cast<std::size_t>(n);
    }
    void writeRaw(const char* data, std::size_t size) override { writeOrRaise(fd_.fd, data, size, path_); }
    bool isOpen() const override { return fd_.fd >= 0; }
    void closeRaw() override { fd_.reset(); }

private:
    Fd fd_;
    std::string path_;
};

}  // namespace

std::unique_ptr<TextStream> posix::streamOver(Fd file, bool forReading, std::string hostPath) {
    return std::make_unique<PosixTextStream>(file.release(), forReading, std::move(hostPath));
}

namespace {

// Opens `hostPath` with `flags` and returns the descriptor; an existing
// folder refuses, and so does a read-only existing file for writing.
int openChecked(const std::string& hostPath, int flags) {
    struct stat st {};
    if (::stat(hostPath.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw runError(err::PermissionDenied);
        if ((flags & O_ACCMODE) != O_RDONLY && isReadOnly(st)) throw runError(err::PermissionDenied);
    }
    const int fd = posix::sysCalls.open(hostPath.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) raise(errno, hostPath);
    return fd;
}

std::unique_ptr<TextStream> openStream(const std::string& hostPath, int flags) {
    const int fd = openChecked(hostPath, flags);
    return std::make_unique<PosixTextStream>(fd, (flags & O_ACCMODE) == O_RDONLY, hostPath);
}

// Copies the rest of `in` to `out`: in the kernel where it can, else through a buffer.
void copyBytes(int in, int out, const std::string& target) {
    for (;;) {
        const ssize_t n = posix::sysCalls.copy_file_range(in, nullptr, out, nullptr, kCopyBlock, 0);
        if (n == 0) return;
        if (n > 0) continue;
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP) break;
        raise(error, target);
    }
    std::string buffer(kCopyBlock, '\0');
    for (;;) {
        const ssize_t n = posix::sysCalls.read(in, buffer.data(), buffer.size());
        if (n == 0) return;
        if (n < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            raise(error, target);
        }
        writeOrRaise(out, buffer.data(), static_cast<std::size_t>(n), target);
    }
}

void copyInto(int in, const struct stat& src, const std::string& to, bool overwrite);

// Renames `from` to `to`, both in the folder `dir` (or relative to the
// current one), unless `to` exists. 0 when done, else the errno value.
int renameWithoutReplacing(int dir, const char* from, const char* to) {
    if (posix::sysCalls.renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0) return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS) return error;
    // A file system without RENAME_NOREPLACE: link() refuses an existing
    // target just as atomically.
    if (posix::sysCalls.linkat(dir, from, dir, to, 0) != 0) return errno;
    posix::sysCalls.unlinkat(dir, from, 0);
    return 0;
}

}  // namespace

bool PosixFileSystem::FolderExists(const std::string& path) { return isFolder(mapPath(path)); }

bool PosixFileSystem::FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(mapPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void PosixFileSystem::CreateFolder(const std::string& path) {
    const std::string host = mapPath(path);
    if (posix::sysCalls.mkdir(host.c_str(), 0777) != 0) {
        const int error = errno;
        if (error == ENOENT) throw runError(err::PathNotFound);
        raise(error, host);
    }
}

std::unique_ptr<TextStream> PosixFileSystem::CreateTextFile(const std::string& path, bool overwrite) {
    const int flags = O_WRONLY | O_CREAT | (overwrite ? O_TRUNC : O_EXCL);
    return openStream(mapPath(path), flags);
}

std::unique_ptr<TextStream> PosixFileSystem::OpenTextFile(const std::string& path, IOMode mode, bool create) {
    int flags = 0;
    switch (mode) {
        case IOMode::ForReading: flags = O_RDONLY; break;
        case IOMode::ForWriting: flags = O_WRONLY | O_TRUNC; break;
        case IOMode::ForAppending: flags = O_WRONLY | O_APPEND; break;
        default: throw runError(err::InvalidCall);
    }
    if (create) flags |= O_CREAT;
    return openStream(mapPath(path), flags);
}

void PosixFileSystem::CopyFile(const std::string& source, const std::string& target, bool overwrite) {
    const std::string from = mapPath(source);
    const std::string to = mapPath(target);
    Fd in{posix::sysCalls.open(from.c_str(), O_RDONLY | O_CLOEXEC, 0)};
    if (in.fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) throw runError(err::FileNotFound);
        raise(error, from);
    }
    struct stat src {};
    if (::fstat(in.fd, &src) != 0 || !S_ISREG(src.st_mode)) throw runError(err::FileNotFound);
    copyInto(in.fd, src, to, overwrite);
}

namespace {

// Copies the open file `in` (described by `src`) to `to`.
void copyInto(int in, const struct stat& src, const std::string& to, bool overwrite) {
    struct stat dst {};
    if (::stat(to.c_str(), &dst) == 0) {
        if (!overwrite) throw runError(err::FileExists);
        if (S_ISDIR(dst.st_mode) || isReadOnly(dst)) throw runError(err::PermissionDenied);
        // Truncating the target would destroy the source.
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) throw runError(err::PermissionDenied);
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    Fd out{posix::sysCalls.open(to.c_str(), flags, src.st_mode & 0777)};
    if (out.fd < 0) raise(errno, to);
    struct stat made {};
    const bool known = ::fstat(out.fd, &made) == 0;
    try {
        copyBytes(in, out.fd, to);
        if (!out.close()) raise(errno, to);
    } catch (...) {
        // A copy that failed part-way (a full disk) leaves no part of the
        // file under the target's name, as on Windows; only the file this
        // call wrote is removed, never one put under the name since.
        struct stat named {};
        if (known && ::lstat(to.c_str(), &named) == 0 && made.st_dev == named.st_dev && made.st_ino == named.st_ino) {
            posix::sysCalls.unlink(to.c_str());
        }
        throw;
    }
}

}  // namespace

void PosixFileSystem::MoveFile(const std::string& source, const std::string& target, bool replace) {
    const std::string from = mapPath(source);
    const std::string to = mapPath(target);
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) throw runError(err::FileNotFound);
    if (replace) {
        struct stat dst {};
        if (::stat(to.c_str(), &dst) == 0 && isReadOnly(dst)) throw runError(err::PermissionDenied);
        if (posix::sysCalls.rename(from.c_str(), to.c_str()) != 0) raise(errno, to);
        return;
    }
    if (const int error = renameWithoutReplacing(AT_FDCWD, from.c_str(), to.c_str())) raise(error, to);
}

void PosixFileSystem::DeleteFile(const std::string& path, bool force) {
    std::string host = force ? spelledPath(path) : mapPath(path);
    if (!force) {
        struct stat st {};
        // lstat: a link is removed as a link and its target never looked at.
        if (::lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) throw runError(err::FileNotFound);
        if (S_ISREG(st.st_mode) && isReadOnly(st)) throw runError(err::PermissionDenied);
    }
    // unlink removes a link itself, and refuses a folder (EISDIR): there is no
    // file of that name. A forced deletion tries the name as spelled first, so
    // a clean-up of many files asks for each once.
    for (bool mapped = !force;;) {
        if (posix::sysCalls.unlink(host.c_str()) == 0) return;
        const int error = errno;
        if (!mapped && (error == ENOENT || error == ENOTDIR)) {
            mapped = true;
            if (std::string other = mapPath(path); other != host) {
                host = std::move(other);
                continue;
            }
        }
        if (error == ENOENT || error == ENOTDIR || error == EISDIR) throw runError(err::FileNotFound);
        raise(error, host);
    }
}

void PosixFileSystem::PlaceNewFile(const std::string& partial, const std::string& target, const std::string& text) {
    // The partial name is this process's own and always spelled the same, so
    // it is used as spelled; both names are plain names of one folder.
    checkPlacedNames(partial, target);
    const std::string to = mapPath(target);
    const std::string folder = parentOf(to);
    const std::string partialName = utf8FromCodePage(fileNameOf(partial));
    const std::string finalName = to.substr(folder.size() + 1);
    // Everything below happens relative to this descriptor: a drop folder
    // swapped for a link is refused here, and nothing after it looks up a
    // path again.
    const Fd dir{posix::sysCalls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0)};
    if (dir.fd < 0) {
        const int error = errno;
        // A link there is refused as ELOOP, or as ENOTDIR, since it is no folder itself.
        struct stat st {};
        if (error == ELOOP || (error == ENOTDIR && ::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
            throw runError(err::PathAccess);
        }
        if (error == ENOENT || error == ENOTDIR) throw runError(err::PathNotFound);
        raise(error, folder);
    }
    // unlinkat removes a link as a link; what it cannot remove (a folder)
    // makes the exclusive create below fail.
    posix::sysCalls.unlinkat(dir.fd, partialName.c_str(), 0);
    Fd out{posix::sysCalls.openat(dir.fd, partialName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
    if (out.fd < 0) {
        const int error = errno;
        // 58 is kept for the final name; the partial one is not to be had.
        raise(error == EEXIST || error == ELOOP ? EACCES : error, folder + "/" + partialName);
    }
    try {
        writeOrRaise(out.fd, text.data(), text.size(), folder + "/" + partialName);
        if (posix::sysCalls.fsync(out.fd) != 0) raise(errno, folder + "/" + partialName);
        if (!out.close()) raise(errno, folder + "/" + partialName);
        if (const int error = renameWithoutReplacing(dir.fd, partialName.c_str(), finalName.c_str())) {
            raise(error, to);
        }
    } catch (...) {
        posix::sysCalls.unlinkat(dir.fd, partialName.c_str(), 0);
        throw;
    }
    // The new name is on disk only once the folder is. The file is placed
    // whatever this answers, so a failure here is not raised: a caller would
    // place the record a second time.
    posix::sysCalls.fsync(dir.fd);
}

std::uint64_t PosixFileSystem::GetFileSize(const std::string& path) {
    struct stat st {};
    if (::stat(mapPath(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) throw runError(err::FileNotFound);
    return static_cast<std::uint64_t>(st.st_size);
}

std::string PosixFileSystem::GetFileVersion(const std::string& path) {
    struct stat st {};
    if (::stat(mapPath(path).c_str(), &st) != 0) {
        // Programs here carry no ".exe"; the program asks for its own file with one.
        if (!endsWith(lowerAscii(path), ".exe") ||
            ::stat(mapPath(path.substr(0, path.size() - 4)).c_str(), &st) != 0) {
            throw runError(err::FileNotFound);
        }
    }
    struct stat self {};
    if (::stat("/proc/self/exe", &self) == 0 && self.st_dev == st.st_dev && self.st_ino == st.st_ino) {
        return VORBEX_VERSION;
    }
    return "";  // no other file here carries a version resource
}

namespace {

// The files of `dir` that a query without an entry filter keeps. Only the
// files chosen by name are examined, after the choice (and those whose kind
// the listing does not tell, to leave out what is no regular file).
std::vector<FileEntry> filesByName(DIR* dir, const std::string& prefix, const FileQuery& query) {
    // A file while the folder is read: its name as the program spells it,
    // kept in `names` with a NUL after it, its name on disk (at `disk`, the
    // same place when the two agree), and once it is examined its date and size.
    struct Found {
        std::size_t offset = 0, length = 0, disk = 0;
        bool examined = false;
        LocalTime date;
        std::uint64_t size = 0;
    };
    std::string names;
    std::vector<Found> found;
    const auto nameOf = [&](const Found& f) { return std::string_view(names.data() + f.offset, f.length); };
    // Learns the date and size of `f`; false when it is no regular file (any longer).
    const auto examine = [&](Found& f) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), names.c_str() + f.disk, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
            return false;
        }
        // Linux keeps no creation time that can be set; the last change stands in.
        f.date = localTimeOf(st.st_mtime);
        f.size = static_cast<std::uint64_t>(st.st_size);
        f.examined = true;
        return true;
    };
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
        const std::string_view onDisk(entry->d_name);
        const bool ascii = isAsciiText(onDisk);
        const std::string converted = ascii ? std::string() : codePageFromUtf8(onDisk);
        const std::string_view name = ascii ? onDisk : std::string_view(converted);
        if (query.name && !query.name(name)) continue;
        Found f;
        f.offset = names.size();
        f.length = name.size();
        names.append(name).push_back('\0');
        f.disk = f.offset;
        if (!ascii) {
            f.disk = names.size();
            names.append(onDisk).push_back('\0');
        }
        if (entry->d_type == DT_UNKNOWN && !examine(f)) {
            names.resize(f.offset);
            continue;
        }
        found.push_back(f);
    }
    keepFirstByName(found, query.limit, nameOf);
    std::vector<FileEntry> files;
    files.reserve(found.size());
    for (Found& f : found) {
        if (!f.examined && !examine(f)) continue;
        FileEntry& file = files.emplace_back();
        file.name = nameOf(f);
        file.path = prefix + file.name;
        file.dateCreated = f.date;
        file.size = f.size;
    }
    return files;
}

// The files of `dir` that a query with an entry filter keeps: every file the
// name filter keeps is looked at, in a large folder by helper threads, and
// then shown to the entry filter here in the calling thread. Full entries are
// made only for the files chosen.
std::vector<FileEntry> filesByLook(DIR* dir, const std::string& prefix, const FileQuery& query) {
    FolderLooks looks(::dirfd(dir));
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
        const std::string_view onDisk(entry->d_name);
        const std::string converted = isAsciiText(onDisk) ? std::string() : codePageFromUtf8(onDisk);
        if (query.name && !query.name(converted.empty() ? onDisk : std::string_view(converted))) continue;
        looks.add(onDisk);
    }
    struct Chosen {
        std::string name;
        LocalTime date;
        std::uint64_t size = 0;
    };
    std::vector<Chosen> chosen;
    FileEntry shown;  // what the entry filter is shown, its buffers used again
    looks.finish([&](std::string_view onDisk, const FileLook& look) {
        if (!look.regular) return;
        const std::string name = codePageFromUtf8(onDisk);
        shown.name.assign(name);
        shown.path.assign(prefix).append(name);
        // Linux keeps no creation time that can be set; the last change stands in.
        shown.dateCreated = localTimeOf(look.changed);
        shown.size = look.size;
        if (query.entry(shown)) chosen.push_back({name, shown.dateCreated, look.size});
    });
    keepFirstByName(chosen, query.limit, [](const Chosen& c) { return std::string_view(c.name); });
    std::vector<FileEntry> files;
    files.reserve(chosen.size());
    for (const Chosen& c : chosen) {
        FileEntry& file = files.emplace_back();
        file.name = c.name;
        file.path = prefix + file.name;
        file.dateCreated = c.date;
        file.size = c.size;
    }
    return files;
}

}  // namespace

std::vector<FileEntry> PosixFileSystem::GetFiles(const std::string& folder, const FileQuery& query) {
    const std::string host = mapPath(folder);
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(host.c_str()), ::closedir);
    if (!listing) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) throw runError(err::PathNotFound);
        raise(error, host);
    }
    const std::string prefix = endsWith(folder, "\\") ? folder : folder + "\\";
    return query.entry ? filesByLook(listing.get(), prefix, query) : filesByName(listing.get(), prefix, query);
}

void PosixFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
    const std::string host = mapPath(path);
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) throw runError(err::FileNotFound);
    const mode_t mode = readOnly ? (st.st_mode & ~mode_t{0222}) : (st.st_mode | S_IWUSR);
    if (::chmod(host.c_str(), mode & 07777) != 0) raise(errno, host);
}

std::unique_ptr<TextStream> PosixFileSystem::OpenSharedLog(const std::string& path, std::uint64_t restartSize) {
    const std::string host = mapPath(path);
    Fd log{openChecked(host, O_WRONLY | O_APPEND | O_CREAT)};
    const int fd = log.fd;
    // Every writer holds a shared lock while its stream is open, so the
    // exclusive lock is only ever granted to a process alone with the log.
    if (posix::sysCalls.flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat now {};
        if (::fstat(fd, &now) == 0 && static_cast<std::uint64_t>(now.st_size) >= restartSize &&
            posix::sysCalls.ftruncate(fd, 0) != 0) {
            raise(errno, host);
        }
    }
    // From exclusive (or nothing) to shared. Should another process be cutting
    // the log just now, wait a moment for it; a share that never comes leaves
    // the log unguarded, not unwritten.
    for (int i = 0; i < kLogShareTries && posix::sysCalls.flock(fd, LOCK_SH | LOCK_NB) != 0; ++i) {
        timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    return std::make_unique<PosixTextStream>(log.release(), false, host);
}
