// Locks shared by the program's runs: one holder at a time, the file lock
// beside the file it guards, and a machine lock whose holder went away
// without letting go is free, its record readable while it is held.
#include "base/errors.h"
#include "contract.h"

namespace {

using LocksContract = Contract;

TEST_F(LocksContract, AFileLockIsHeldBesideTheFileAndAMissingFolderRaises) {
    const std::string ini = "C:\\Agent\\Configuration\\ATZThreshold.ini";
    box.makeFolder("C:\\Agent\\Configuration");
    Locks& locks = *sys.locks;
    auto held = locks.TryLockFile(ini);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(box.exists(ini + ".lock"));
    EXPECT_FALSE(box.exists(ini));  // the INI file itself is not made or touched
    EXPECT_EQ(locks.TryLockFile(ini), nullptr);
    held.reset();
    EXPECT_NE(locks.TryLockFile(ini), nullptr);
    EXPECT_THROW(locks.TryLockFile("C:\\Agent\\Missing\\x.ini"), RunError);
}

// Another run holds the job lock and has recorded its deadline; once it has
// gone without releasing the lock, the lock is free.
TEST_F(LocksContract, TheMachineLockOfAHolderThatWentIsFree) {
    const std::string jobs = "C:\\Agent\\kScripts\\KOVAVariables.lock";
    box.makeFolder("C:\\Agent\\kScripts");
    Locks& locks = *sys.locks;
    EXPECT_EQ(locks.MachineLockRecord(jobs), "");

    auto other = holdMachineLockElsewhere(jobs, "1234567");
    ASSERT_TRUE(other->took());
    EXPECT_EQ(locks.TryLockMachine(jobs, "mine"), nullptr);
    EXPECT_EQ(locks.MachineLockRecord(jobs), "1234567");

    other->vanish();
    auto held = locks.TryLockMachine(jobs, "mine");
    EXPECT_NE(held, nullptr);
    EXPECT_EQ(locks.MachineLockRecord(jobs), "mine");
}

}  // namespace
