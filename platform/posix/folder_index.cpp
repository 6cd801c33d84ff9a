// Names of folders kept current by inotify, for case-insensitive look-ups.
// May contain: POSIX and Linux calls (inotify, fstatfs), no program logic.
#include "platform/posix/folder_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/sys_calls.h"

namespace {

struct FoldHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        std::size_t h = 1469598103934665603ull;  // FNV-1a over the folded bytes
        for (char c : name) h = (h ^ static_cast<unsigned char>(lowerChar(c))) * 1099511628211ull;
        return h;
    }
};
struct FoldEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return equalsNoCase(a, b); }
};

using FolderKey = std::pair<dev_t, ino_t>;

// A folder's names: each entry's name as the program spells it (the key,
// compared without regard to case) and as it is on disk; spellings that
// differ only in case side by side.
using Names = std::unordered_multimap<std::string, std::string, FoldHash, FoldEqual>;

void addName(Names& names, std::string onDisk) {
    std::string spelled = codePageFromUtf8(onDisk);
    names.emplace(std::move(spelled), std::move(onDisk));
}

// One watched folder: every name in it.
struct Folder {
    int watch = -1;
    Names names;
};

// Changes in a watched folder that matter to its names; IN_IGNORED (the
// watch is gone with its folder or file system) and IN_Q_OVERFLOW come
// without asking.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

class Index {
public:
    std::optional<std::string> find(int dir, const std::string& name) {
        struct stat st {};
        if (::fstat(dir, &st) != 0) return std::nullopt;
        const FolderKey key{st.st_dev, st.st_ino};
        std::lock_guard<std::mutex> hold(mutex_);
        drain();
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto at = folders_.find(key);
            if (at == folders_.end()) {
                Folder folder;
                if (!watch(dir, folder.watch)) return scan(dir, name);
                if (!readNames(dir, folder.names)) return std::nullopt;
                watches_[folder.watch] = key;
                at = folders_.insert_or_assign(key, std::move(folder)).first;
            }
            const auto [first, last] = at->second.names.equal_range(name);
            bool stale = false;
            for (auto it = first; it != last; ++it) {
                struct stat entry {};
                if (::fstatat(dir, it->second.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) return it->second;
                stale = true;
            }
            if (!stale) return std::nullopt;
            // A name the folder no longer has: read it afresh rather than trust the rest.
            forget(at);
        }
        return std::nullopt;
    }

    std::uint64_t readings() {
        std::lock_guard<std::mutex> hold(mutex_);
        return readings_;
    }

private:
    // Whether changes in this folder reach a watch: those made on another
    // machine to a network file system do not.
    static bool watchable(int dir) {
        struct statfs fs {};
        if (::fstatfs(dir, &fs) != 0) return false;
        switch (static_cast<unsigned long>(fs.f_type)) {
            case NFS_SUPER_MAGIC:
            case SMB_SUPER_MAGIC:
            case SMB2_SUPER_MAGIC:
            case CIFS_SUPER_MAGIC:
            case CEPH_SUPER_MAGIC:
            case V9FS_MAGIC:
            case FUSE_SUPER_MAGIC:
            case AFS_SUPER_MAGIC:
            case CODA_SUPER_MAGIC:
                return false;
            default:
                return true;
        }
    }

    // Puts a watch on the folder held by `dir` (itself, through its
    // descriptor, whatever path now leads to it). The watch is in place
    // before the folder is read, so no change falls between the two.
    bool watch(int dir, int& wd) {
        if (notify_ == kNotStarted) notify_ = posix::sysCalls.inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notify_ < 0 || !watchable(dir)) return false;
        wd = ::inotify_add_watch(notify_, ("/proc/self/fd/" + std::to_string(dir)).c_str(), kWatchMask);
        return wd >= 0;
    }

    bool readNames(int dir, Names& names) {
        Fd own{posix::sysCalls.openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0)};
        if (own.fd < 0) return false;
        const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(own.fd), ::closedir);
        if (!listing) return false;
        own.release();  // the listing closes it now
        ++readings_;
        // Counted first, so the table is made once at its size.
        std::vector<std::string> read;
        while (const dirent* entry = ::readdir(listing.get())) {
            const std::string_view n(entry->d_name);
            if (n != "." && n != "..") read.emplace_back(n);
        }
        names.reserve(read.size());
        for (std::string& n : read) addName(names, std::move(n));
        return true;
    }

    // Without a watch: the folder is read for this one question.
    std::optional<std::string> scan(int dir, const std::string& name) {
        Names names;
        if (!readNames(dir, names)) return std::nullopt;
        const auto it = names.find(name);
        if (it == names.end()) return std::nullopt;
        return it->second;
    }

    void forget(std::map<FolderKey, Folder>::iterator at) {
        watches_.erase(at->second.watch);
        // The watch stays with the system; a later reading takes it up again.
        folders_.erase(at);
    }

    // Applies every change reported since the last time. For each name the
    // last report decides, so reports that the reading already saw do no harm.
    void drain() {
        if (notify_ < 0) return;
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = posix::sysCalls.read(notify_, buffer, sizeof buffer);
            if (n <= 0) return;  // EAGAIN: nothing more
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                apply(*event);
            }
        }
    }

    void apply(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            // Reports were lost: no kept name can be trusted.
            folders_.clear();
            watches_.clear();
            return;
        }
        const auto owner = watches_.find(event.wd);
        if (owner == watches_.end()) return;
        const auto folder = folders_.find(owner->second);
        if (event.mask & IN_IGNORED) {
            if (folder != folders_.end()) folders_.erase(folder);
            watches_.erase(owner);
            return;
        }
        if (folder == folders_.end() || event.len == 0) return;
        const std::string_view name(event.name);  // NUL-padded
        auto& names = folder->second.names;
        const auto [first, last] = names.equal_range(codePageFromUtf8(name));
        auto exact = first;
        while (exact != last && exact->second != name) ++exact;
        if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
            if (exact == last) addName(names, std::string(name));
        } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            if (exact != last) names.erase(exact);
        }
    }

    static constexpr int kNotStarted = -2;
    std::mutex mutex_;
    int notify_ = kNotStarted;
    std::map<FolderKey, Folder> folders_;
    std::unordered_map<int, FolderKey> watches_;
    std::uint64_t readings_ = 0;
};

Index& theIndex() {
    // Never destroyed: a thread may still look a name up while the process ends.
    static Index* index = new Index;
    return *index;
}

}  // namespace

std::optional<std::string> otherCaseIn(int dir, const std::string& name) { return theIndex().find(dir, name); }

std::uint64_t folderReadings() { return theIndex().readings(); }
