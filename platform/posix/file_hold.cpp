// Holding a verified file: a descriptor and the status it had when opened.
// May contain: open/fstat/stat calls on mapped paths; no program logic.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.h"
#include "platform/posix/fd.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/machine.h"
#include "platform/posix/sys_calls.h"

namespace {

// posix lets anyone who may write the file or its folder change it while it
// is open here, so the hold can only tell afterwards. Every such change moves
// the inode's status-change time: a write, a truncation, a change of mode,
// and a rename, new link or removal of the file (its link count changes),
// and nobody can set that time back. A path pointed at another file shows in
// the device and inode it then names.
class PosixFileHold : public FileHold {
public:
    PosixFileHold(std::string hostPath, Fd file, const struct stat& seen)
        : hostPath_(std::move(hostPath)), file_(std::move(file)), seen_(seen) {}

    bool KeepsWritersOut() const override { return false; }

    bool Unchanged() override {
        struct stat now {};
        if (::fstat(file_.fd, &now) != 0 || !sameState(now)) return false;
        struct stat named {};
        if (::stat(hostPath_.c_str(), &named) != 0) return false;
        return named.st_dev == seen_.st_dev && named.st_ino == seen_.st_ino;
    }

private:
    bool sameState(const struct stat& now) const {
        return now.st_dev == seen_.st_dev && now.st_ino == seen_.st_ino && now.st_size == seen_.st_size &&
               now.st_ctim.tv_sec == seen_.st_ctim.tv_sec && now.st_ctim.tv_nsec == seen_.st_ctim.tv_nsec;
    }

    std::string hostPath_;
    Fd file_;
    struct stat seen_;
};

}  // namespace

std::unique_ptr<FileHold> PosixFileSystem::HoldFile(const std::string& path) {
    std::string hostPath = mapPath(path);
    // Non-blocking, so a FIFO put in the file's place cannot stall the open.
    Fd file{posix::sysCalls.open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0)};
    if (file.fd < 0) {
        const int error = errno;
        if (error == ENOENT) throw runError(err::FileNotFound);
        if (error == ENOTDIR) throw runError(err::PathNotFound);
        throw runError(err::PermissionDenied);
    }
    struct stat seen {};
    if (::fstat(file.fd, &seen) != 0 || !S_ISREG(seen.st_mode)) throw runError(err::PermissionDenied);
    return std::make_unique<PosixFileHold>(std::move(hostPath), std::move(file), seen);
}
