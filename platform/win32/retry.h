// Waiting out a passing refusal of a file operation.
// May contain: the rule that decides whether a failed file call is tried
// again, and the loop that applies it; no program logic.
//
// On a managed machine a virus scanner, the search indexer or a backup agent
// opens each new file the moment it appears, usually without
// FILE_SHARE_DELETE, for a few milliseconds to a few hundred. A rename,
// replace, delete or exclusive open that meets such a handle fails with
// ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION or ERROR_ACCESS_DENIED
// although nothing is wrong that waiting will not mend.
#pragma once

#include "platform/win32/windows.h"

#include <initializer_list>
#include <string>

namespace win32 {

/// The longest a file call is kept waiting in all, and its first and longest
/// single pause: 10 ms, doubling to 200 ms.
inline constexpr unsigned long kRetryBoundMs = 2000;
inline constexpr unsigned long kRetryFirstPauseMs = 10;
inline constexpr unsigned long kRetryLongestPauseMs = 200;

/// Whether a call on `paths` that failed with `code` met a refusal that
/// passes: a sharing or lock violation, or a denied access, while at least
/// one of the paths names an existing file. A denied access is lasting when
/// any of the paths is a folder or a read-only file: the system refuses those
/// for good, and waiting would only hide it.
bool passingRefusal(unsigned long code, std::initializer_list<const std::string*> paths);

/// The pauses of one operation.
class RetryPauses {
public:
    /// Waits before the next try and returns true, or returns false when the
    /// bound would be passed. The bound counts from the first failure.
    bool pause();

private:
    unsigned long long start_ = 0;
    unsigned long next_ = kRetryFirstPauseMs;
};

inline bool failedCall(BOOL result) { return result == FALSE; }
inline bool failedCall(HANDLE result) { return result == INVALID_HANDLE_VALUE; }

/// Runs `call` (a file call returning BOOL, or a HANDLE that is
/// INVALID_HANDLE_VALUE on failure) and, while it fails with a passing
/// refusal on `paths` (the files the call works on: for a copy or rename both
/// source and target), runs it again after a pause, within the bound. Returns
/// the last result, with GetLastError as that call left it, so the caller
/// reports a lasting refusal as it always did. The call is run again exactly
/// as it was: a retry never widens what it may replace or delete.
template <class Call>
auto retried(std::initializer_list<const std::string*> paths, Call&& call) -> decltype(call()) {
    RetryPauses pauses;
    for (;;) {
        const auto result = call();
        if (!failedCall(result)) return result;
        const DWORD code = ::GetLastError();
        if (!passingRefusal(code, paths) || !pauses.pause()) {
            ::SetLastError(code);
            return result;
        }
    }
}

template <class Call>
auto retried(const std::string& path, Call&& call) -> decltype(call()) {
    return retried({&path}, static_cast<Call&&>(call));
}

}  // namespace win32
