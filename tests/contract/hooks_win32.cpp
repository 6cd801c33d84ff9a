// What the Win32 build supplies to the contract suites.
#include "contract.h"

#include "platform/win32/host.h"
#include "platform/win32/locks.h"
#include "platform/win32/windows.h"

namespace {

// A mutex belongs to a thread: another thread stands in for another run, and
// ends without releasing it, which abandons it.
class ThreadHolder : public OtherLockHolder {
public:
    ThreadHolder(std::string lockFile, std::string record)
        : lockFile_(std::move(lockFile)), record_(std::move(record)) {
        taken_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        end_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = ::CreateThread(nullptr, 0, run, this, 0, nullptr);
        if (thread_ != nullptr) ::WaitForSingleObject(taken_, 30000);
    }
    ~ThreadHolder() override {
        vanish();
        ::CloseHandle(taken_);
        ::CloseHandle(end_);
    }
    bool took() const override { return held_; }
    void vanish() override {
        if (thread_ == nullptr) return;
        ::SetEvent(end_);
        ::WaitForSingleObject(thread_, 30000);
        ::CloseHandle(thread_);
        thread_ = nullptr;
    }

private:
    static DWORD WINAPI run(void* argument) {
        auto* self = static_cast<ThreadHolder*>(argument);
        Win32Locks own;
        self->held_ = own.TryLockMachine(self->lockFile_, self->record_).release() != nullptr;
        ::SetEvent(self->taken_);
        ::WaitForSingleObject(self->end_, 30000);
        return 0;
    }

    std::string lockFile_, record_;
    HANDLE taken_ = nullptr, end_ = nullptr, thread_ = nullptr;
    bool held_ = false;
};

}  // namespace

Contract::Contract() : system(makeSystemPlatform(0, nullptr)), sys(system->platform) {}

std::string standInProgram() { return Win32Host().ExeFolder() + "\\atcmd-standin.exe"; }

std::unique_ptr<OtherLockHolder> holdMachineLockElsewhere(const std::string& lockFile, const std::string& record) {
    return std::make_unique<ThreadHolder>(lockFile, record);
}
