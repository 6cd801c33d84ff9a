// Waiting out a passing refusal of a file operation.
// May contain: the retry rule's decision and pauses; no program logic.
#include "platform/win32/retry.h"

namespace win32 {

bool passingRefusal(unsigned long code, std::initializer_list<const std::string*> paths) {
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION && code != ERROR_ACCESS_DENIED) return false;
    bool anyFile = false;
    for (const std::string* path : paths) {
        const DWORD attributes = ::GetFileAttributesA(path->c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (code == ERROR_ACCESS_DENIED && (folder || readOnly)) return false;
        if (!folder) anyFile = true;
    }
    return anyFile;
}

bool RetryPauses::pause() {
    const unsigned long long now = ::GetTickCount64();
    if (start_ == 0) start_ = now;
    const unsigned long long spent = now - start_;
    if (spent >= kRetryBoundMs) return false;
    const unsigned long long left = kRetryBoundMs - spent;
    const DWORD wait = static_cast<DWORD>(next_ < left ? next_ : left);
    ::Sleep(wait);
    next_ = next_ * 2 < kRetryLongestPauseMs ? next_ * 2 : kRetryLongestPauseMs;
    return true;
}

}  // namespace win32
