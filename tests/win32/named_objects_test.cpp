// The program's named objects against a user who takes their names first:
// the job mutex is made for SYSTEM and the Administrators only, and a name
// held by an object someone else made is refused, naming it, for the run to
// log, never silently taken for a lock.
#include <gtest/gtest.h>

#include "platform/win32/windows.h"

#include <aclapi.h>
#include <sddl.h>

#include "base/errors.h"
#include "platform/win32/locks.h"
#include "win32_test_support.h"

namespace {

// Expects the job lock to be refused with a description naming `name`.
void expectSquatted(Win32Locks& locks, const std::string& lockFile, const std::string& name) {
    try {
        auto held = locks.TryLockMachine(lockFile, "1 1 ");
        ADD_FAILURE() << "the lock was " << (held ? "taken" : "reported busy");
    } catch (const RunError& e) {
        EXPECT_EQ(e.number, err::PermissionDenied);
        EXPECT_NE(e.description.find(name), std::string::npos) << e.description;
    }
}

TEST(Win32NamedObjects, TheJobMutexOpensOnlyForSystemAndAdministrators) {
    TempFolder dir;
    Win32Locks locks;
    const std::string lockFile = dir / "KOVAVariables.lock";
    auto held = locks.TryLockMachine(lockFile, "1 1 ");
    ASSERT_NE(held, nullptr);
    const HANDLE mutex = ::OpenMutexA(READ_CONTROL, FALSE, win32::jobMutexName(lockFile).c_str());
    ASSERT_NE(mutex, nullptr) << ::GetLastError();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    char* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_STREQ(text, "D:P(A;;GA;;;SY)(A;;GA;;;BA)");
    ::LocalFree(text);
    ::LocalFree(descriptor);
    ::CloseHandle(mutex);
}

TEST(Win32NamedObjects, ASquattedJobMutexNameIsRefusedAndNamed) {
    TempFolder dir;
    Win32Locks locks;
    const std::string lockFile = dir / "KOVAVariables.lock";
    const std::string name = win32::jobMutexName(lockFile);

    // A mutex made so that nobody else may open it (another kind of object
    // under the name is the end-to-end run's case).
    PSECURITY_DESCRIPTOR closed = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P", SDDL_REVISION_1, &closed, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, closed, FALSE};
    const HANDLE squatter = ::CreateMutexA(&attributes, FALSE, name.c_str());
    ASSERT_NE(squatter, nullptr);
    expectSquatted(locks, lockFile, name);
    ::CloseHandle(squatter);
    ::LocalFree(closed);

    // Once the squatter has gone, the name is the program's again.
    EXPECT_NE(locks.TryLockMachine(lockFile, "1 1 "), nullptr);
}

}  // namespace
