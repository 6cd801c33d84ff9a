// The date and size of every file of a folder, learnt with one fstatat each.
// In a large folder helper threads make those calls while the calling thread
// is still reading the names, since the calls cost three times the reading.
// May contain: POSIX calls and the threads that make them; no program logic.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

/// What the look at one name of a folder found.
struct FileLook {
    bool regular = false;  // false: no regular file (any longer) by that name
    time_t changed = 0;    // last modification
    std::uint64_t size = 0;
};

/// Names of the folder held open by `dir`, added in the order read, each
/// then looked at (not following links) and handed to the caller by finish().
/// Once a few thousand names have come, helper threads look at them while
/// more are added; a helper that cannot be started leaves its share to
/// finish(). The helpers make system calls into their own batches and nothing
/// else: all other code, `use` above all, runs in the calling thread. A
/// FolderLooks left without finish() (the caller's code threw) stops its
/// helpers and waits for them.
class FolderLooks {
public:
    using Use = std::function<void(std::string_view name, const FileLook& look)>;

    explicit FolderLooks(int dir) : dir_(dir) {}
    ~FolderLooks();
    FolderLooks(const FolderLooks&) = delete;
    FolderLooks& operator=(const FolderLooks&) = delete;

    void add(std::string_view name);
    /// Calls `use` for every name, in the order added. Between batches whose
    /// looks are not done yet it looks at those no helper has taken, so the
    /// calling thread shares the looking and the helpers share the using.
    /// The names stay valid as long as this object.
    void finish(const Use& use);

    /// The names a batch holds, and how many names make helpers worth
    /// starting: looking at two thousand files takes some milliseconds, a
    /// thread starts in a fraction of one.
    static constexpr std::size_t kBatch = 512;
    static constexpr std::size_t kHelpFrom = 4 * kBatch;

private:
    struct Entry {
        std::uint32_t offset = 0, length = 0;
        FileLook look;
    };
    // Filled by the calling thread, then looked at by one thread alone.
    struct Batch {
        std::string names;  // each followed by a NUL
        std::vector<Entry> entries;
        bool looked = false;  // guarded by mutex_
    };

    void publish();
    void startHelpers();
    void stopHelpers();
    void help();
    Batch* claim();
    void lookAt(Batch& batch);

    const int dir_;
    std::unique_ptr<Batch> filling_;
    std::size_t added_ = 0;
    std::mutex mutex_;
    std::condition_variable work_;    // a batch to take, or none to come
    std::condition_variable looked_;  // a batch looked at
    // Guarded by mutex_ while helpers run.
    std::vector<std::unique_ptr<Batch>> batches_;
    std::size_t claimed_ = 0;
    bool allAdded_ = false, stop_ = false;
    std::vector<std::thread> helpers_;
};
