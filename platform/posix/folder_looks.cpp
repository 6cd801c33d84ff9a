// Looks at the files of a folder, with helper threads in a large one.
// May contain: POSIX calls and the threads that make them; no program logic.
#include "platform/posix/folder_looks.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace {

// While the calling thread reads, the helpers have the other cores; once it
// has read all it looks too. Four threads at most: other processes need the
// cores as well, and a look is too short to gain from more.
unsigned helperCount() { return std::clamp(std::thread::hardware_concurrency(), 2u, 4u) - 1; }

}  // namespace

FolderLooks::~FolderLooks() { stopHelpers(); }

void FolderLooks::add(std::string_view name) {
    if (!filling_) {
        filling_ = std::make_unique<Batch>();
        filling_->entries.reserve(kBatch);
    }
    Batch& batch = *filling_;
    batch.entries.push_back({static_cast<std::uint32_t>(batch.names.size()), static_cast<std::uint32_t>(name.size()), {}});
    batch.names.append(name).push_back('\0');
    ++added_;
    if (batch.entries.size() == kBatch) publish();
}

void FolderLooks::publish() {
    {
        const std::lock_guard lock(mutex_);
        batches_.push_back(std::move(filling_));
    }
    work_.notify_one();
    if (added_ == kHelpFrom) startHelpers();
}

void FolderLooks::startHelpers() {
    const unsigned count = helperCount();
    helpers_.reserve(count);
    try {
        for (unsigned i = 0; i < count; ++i) helpers_.emplace_back([this] { help(); });
    } catch (const std::system_error&) {
        // No thread to be had: finish() looks at what the helpers started leave.
    }
}

void FolderLooks::stopHelpers() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
}

void FolderLooks::finish(const Use& use) {
    {
        const std::lock_guard lock(mutex_);
        if (filling_) batches_.push_back(std::move(filling_));
        allAdded_ = true;
    }
    work_.notify_all();
    // Only this thread adds batches, so their number holds still now.
    for (const auto& next : batches_) {
        for (;;) {
            std::unique_lock lock(mutex_);
            if (next->looked) break;
            if (claimed_ == batches_.size()) {
                looked_.wait(lock, [&] { return next->looked; });
                break;
            }
            Batch* const other = batches_[claimed_++].get();
            lock.unlock();
            lookAt(*other);
        }
        for (const Entry& e : next->entries) use(std::string_view(next->names.data() + e.offset, e.length), e.look);
    }
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
}

void FolderLooks::help() {
    while (Batch* batch = claim()) lookAt(*batch);
}

// The next batch nobody has taken, once there is one; null when there is none
// to come, or the helpers are to stop.
FolderLooks::Batch* FolderLooks::claim() {
    std::unique_lock lock(mutex_);
    work_.wait(lock, [&] { return stop_ || allAdded_ || claimed_ < batches_.size(); });
    if (stop_ || claimed_ == batches_.size()) return nullptr;
    return batches_[claimed_++].get();
}

void FolderLooks::lookAt(Batch& batch) {
    for (Entry& e : batch.entries) {
        struct stat st {};
        if (::fstatat(dir_, batch.names.c_str() + e.offset, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        e.look.regular = S_ISREG(st.st_mode);
        e.look.changed = st.st_mtime;
        e.look.size = static_cast<std::uint64_t>(st.st_size);
    }
    {
        const std::lock_guard lock(mutex_);
        batch.looked = true;
    }
    looked_.notify_one();
}
