// The confined file operations over the machine root. Each walks from a
// descriptor of the folder, one component at a time with O_NOFOLLOW, and acts
// on what it opened: a link anywhere below the folder is refused where it is
// met, and a swap made after a check cannot redirect the use.
// May contain: POSIX file calls below a trusted folder; no program logic.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.h"
#include "platform/path_components.h"
#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_calls.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/folder_index.h"
#include "platform/posix/machine.h"
#include "platform/posix/sys_calls.h"

namespace {

using posix::isReadOnly;
using posix::raise;

[[noreturn]] void refuse() { throw runError(err::PathAccess); }

// The name on disk of the entry of the folder held by `dir` that the
// program's `component` names without regard to case; an exact match wins.
std::string matchAt(int dir, const std::string& component) {
    std::string spelled = utf8FromCodePage(component);
    struct stat st {};
    if (::fstatat(dir, spelled.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return spelled;
    return otherCaseIn(dir, component).value_or(std::move(spelled));
}

// The folder a confined path's file lies in, held open, and the file's name there.
struct Beneath {
    Fd parent;
    std::string name;
    std::string hostPath;  // for the error numbers only
};

Beneath walkBeneath(const std::string& folder, const std::string& path) {
    const auto parts = componentsBelow(folder, path);
    if (!parts) refuse();
    Beneath at;
    at.hostPath = mapPath(folder);
    at.parent.reset(posix::sysCalls.open(at.hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (at.parent.fd < 0) throw runError(err::PathNotFound);
    for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
        const std::string name = matchAt(at.parent.fd, (*parts)[i]);
        const int next =
            posix::sysCalls.openat(at.parent.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
        if (next < 0) {
            const int error = errno;
            struct stat st {};
            if (error == ELOOP ||
                (::fstatat(at.parent.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))) {
                refuse();
            }
            if (error == ENOENT || error == ENOTDIR) throw runError(err::PathNotFound);
            raise(error, at.hostPath + "/" + name);
        }
        at.parent.reset(next);
        at.hostPath += "/" + name;
    }
    at.name = matchAt(at.parent.fd, parts->back());
    at.hostPath += "/" + at.name;
    return at;
}

// A regular file with no other name; anything else is refused.
void requireSingleFile(const struct stat& st) {
    if (S_ISLNK(st.st_mode) || !S_ISREG(st.st_mode) || st.st_nlink != 1) refuse();
}

// Opens the file `at` names. O_NONBLOCK keeps a FIFO planted there from
// blocking the open; it is refused right after, as anything but a file is.
Fd openLeaf(const Beneath& at, int access, struct stat& st) {
    Fd file{
        posix::sysCalls.openat(at.parent.fd, at.name.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0)};
    if (file.fd < 0) {
        const int error = errno;
        // ENXIO: a FIFO or device without the other end, never a file.
        if (error == ELOOP || error == ENXIO) refuse();
        if (error == ENOENT) throw runError(err::FileNotFound);
        raise(error, at.hostPath);
    }
    if (::fstat(file.fd, &st) != 0) raise(errno, at.hostPath);
    if (S_ISDIR(st.st_mode)) throw runError(err::PermissionDenied);
    requireSingleFile(st);
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

}  // namespace

bool PosixFileSystem::FileExistsInside(const std::string& folder, const std::string& path) {
    Beneath at;
    try {
        at = walkBeneath(folder, path);
    } catch (const RunError& e) {
        if (e.number == err::PathNotFound) return false;
        throw;
    }
    struct stat st {};
    if (::fstatat(at.parent.fd, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return false;
    requireSingleFile(st);
    return true;
}

std::unique_ptr<TextStream> PosixFileSystem::OpenInside(const std::string& folder, const std::string& path) {
    const Beneath at = walkBeneath(folder, path);
    struct stat st {};
    Fd file = openLeaf(at, O_RDONLY, st);
    return posix::streamOver(std::move(file), true, at.hostPath);
}

void PosixFileSystem::DeleteInside(const std::string& folder, const std::string& path, bool force) {
    const Beneath at = walkBeneath(folder, path);
    struct stat st {};
    if (::fstatat(at.parent.fd, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
        throw runError(err::FileNotFound);
    }
    requireSingleFile(st);
    if (isReadOnly(st) && !force) throw runError(err::PermissionDenied);
    // Should the name be swapped for a link after the check, unlinkat removes
    // the link itself: nothing outside the folder is touched either way.
    if (posix::sysCalls.unlinkat(at.parent.fd, at.name.c_str(), 0) != 0) raise(errno, at.hostPath);
}
