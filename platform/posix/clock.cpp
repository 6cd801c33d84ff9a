// The system clock in local time.
// May contain: time and sleep calls, and reading the boot id.
#include <time.h>

#include <cerrno>

#include "platform/posix/clock.h"
#include "platform/posix/fd.h"

LocalTime PosixClock::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    ::localtime_r(&ts.tv_sec, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                     tm.tm_min,          tm.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}

void PosixClock::sleepMs(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts the sleep short; sleep the rest, as Sleep() would not wake.
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::int64_t PosixClock::bootMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string PosixClock::bootId() {
    std::string id;
    if (!readWhole("/proc/sys/kernel/random/boot_id", id)) return "";
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    return id.size() <= 64 ? id : "";
}
