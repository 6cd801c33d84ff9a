// What the posix build supplies to the contract suites.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "contract.h"
#include "platform/posix/machine.h"

namespace {

char** programArgs() {
    static char name[] = "vorbex";
    static char* argv[] = {name, nullptr};
    return argv;
}

// A forked child takes the lock and waits to be killed.
class ForkedHolder : public OtherLockHolder {
public:
    ForkedHolder(const std::string& lockFile, const std::string& record) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            PosixLocks own;
            auto held = own.TryLockMachine(lockFile, record);
            const char answer = held ? 'y' : 'n';
            (void)!::write(ready[1], &answer, 1);
            ::pause();
            ::_exit(0);
        }
        char answer = 0;
        took_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~ForkedHolder() override { vanish(); }
    bool took() const override { return took_; }
    void vanish() override {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool took_ = false;
};

}  // namespace

Contract::Contract() : system(makeSystemPlatform(1, programArgs())), sys(system->platform) {}

std::string standInProgram() { return windowsPathOf(VORBEX_BINARY_DIR "/atcmd-standin"); }

std::unique_ptr<OtherLockHolder> holdMachineLockElsewhere(const std::string& lockFile, const std::string& record) {
    return std::make_unique<ForkedHolder>(lockFile, record);
}
