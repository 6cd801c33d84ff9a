// Locks shared by the program's processes: one holder at a time, across
// processes, and a holder that dies lets go through the system.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/errors.h"
#include "support/test_support.h"

namespace {

const std::string kIni = "C:\\Agent\\Configuration\\ATZThreshold.ini";
const std::string kJobs = "C:\\Agent\\kScripts\\KOVAVariables.lock";

TEST(PosixLocks, FileLockIsHeldBesideTheFileAndMissingFoldersAreNoWait) {
    Sandbox box;
    box.makeFolder("C:\\Agent\\Configuration");
    PosixLocks locks;
    auto held = locks.TryLockFile(kIni);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(box.exists(kIni + ".lock"));
    EXPECT_FALSE(box.exists(kIni));  // the INI file itself is not made or touched
    EXPECT_EQ(locks.TryLockFile(kIni), nullptr);
    held.reset();
    EXPECT_NE(locks.TryLockFile(kIni), nullptr);
    EXPECT_THROW(locks.TryLockFile("C:\\Agent\\Missing\\x.ini"), RunError);
}

// Another process holds the job lock and has recorded its deadline; once it
// is killed, the lock is free without anyone releasing it.
TEST(PosixLocks, MachineLockOfAKilledHolderIsFree) {
    Sandbox box;
    box.makeFolder("C:\\Agent\\kScripts");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        PosixLocks own;
        auto held = own.TryLockMachine(kJobs, "1234567");
        const char answer = held ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        ::pause();
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');

    PosixLocks locks;
    EXPECT_EQ(locks.TryLockMachine(kJobs, "mine"), nullptr);
    EXPECT_EQ(locks.MachineLockRecord(kJobs), "1234567");

    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    auto held = locks.TryLockMachine(kJobs, "mine");
    EXPECT_NE(held, nullptr);
    EXPECT_EQ(locks.MachineLockRecord(kJobs), "mine");
}

}  // namespace
