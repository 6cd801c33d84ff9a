// The Win32 locks: one holder at a time, and a holder that ends without
// letting go leaves the job lock abandoned, which the next taker owns.
#include <gtest/gtest.h>

#include "platform/win32/windows.h"

#include "base/errors.h"
#include "platform/win32/locks.h"
#include "win32_test_support.h"

namespace {

TEST(Win32Locks, FileLockIsHeldBesideTheFile) {
    TempFolder dir;
    Win32Locks locks;
    const std::string ini = dir / "ATZThreshold.ini";
    auto held = locks.TryLockFile(ini);
    ASSERT_NE(held, nullptr);
    EXPECT_NE(::GetFileAttributesA((ini + ".lock").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesA(ini.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(locks.TryLockFile(ini), nullptr);
    held.reset();
    EXPECT_NE(locks.TryLockFile(ini), nullptr);
    EXPECT_THROW(locks.TryLockFile(dir / "missing\\x.ini"), RunError);
}

struct Holder {
    std::string lockFile;
    HANDLE taken = nullptr;  // set once the holder has the lock
    HANDLE end = nullptr;    // set by the test to let the holder's thread end
    bool held = false;
};

// Takes the job lock and ends without releasing it: the mutex is abandoned.
DWORD WINAPI holdAndVanish(void* argument) {
    auto* holder = static_cast<Holder*>(argument);
    Win32Locks own;
    holder->held = own.TryLockMachine(holder->lockFile, "1234567").release() != nullptr;
    ::SetEvent(holder->taken);
    ::WaitForSingleObject(holder->end, 30000);
    return 0;
}

// A mutex belongs to a thread, so another thread stands in for another run.
TEST(Win32Locks, MachineLockOfAHolderThatEndedIsFree) {
    TempFolder dir;
    Holder holder;
    holder.lockFile = dir / "KOVAVariables.lock";
    holder.taken = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    holder.end = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE thread = ::CreateThread(nullptr, 0, holdAndVanish, &holder, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(::WaitForSingleObject(holder.taken, 30000), WAIT_OBJECT_0);
    ASSERT_TRUE(holder.held);

    Win32Locks locks;
    EXPECT_EQ(locks.TryLockMachine(holder.lockFile, "mine"), nullptr);
    EXPECT_EQ(locks.MachineLockRecord(holder.lockFile), "1234567");

    ::SetEvent(holder.end);
    ::WaitForSingleObject(thread, 30000);
    auto held = locks.TryLockMachine(holder.lockFile, "mine");
    EXPECT_NE(held, nullptr);
    EXPECT_EQ(locks.MachineLockRecord(holder.lockFile), "mine");
    held.reset();
    ::CloseHandle(thread);
    ::CloseHandle(holder.taken);
    ::CloseHandle(holder.end);
}

}  // namespace
