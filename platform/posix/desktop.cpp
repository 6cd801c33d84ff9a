// Desktop lock state on Linux, from logind over the system bus.
// May contain: sd-bus calls (when built with libsystemd) and nothing else of
// the system; nothing of the program's logic.
#include "platform/posix/desktop.h"

#include <cerrno>

#ifdef VORBEX_HAVE_SDBUS
#include <systemd/sd-bus.h>
#endif

namespace {
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kSeat = "/org/freedesktop/login1/seat/seat0";
constexpr const char* kSeatInterface = "org.freedesktop.login1.Seat";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
}  // namespace

struct PosixDesktop::Session {
#ifdef VORBEX_HAVE_SDBUS
    sd_bus* bus = nullptr;
    ~Session() { sd_bus_flush_close_unref(bus); }
#endif
    std::string path;  // the session's object path
};

#ifdef VORBEX_HAVE_SDBUS
namespace {

// A boolean property of the session; a negative errno on failure.
int sessionFlag(sd_bus* bus, const std::string& path, const char* property, bool& value) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int flag = 0;
    const int r = sd_bus_get_property_trivial(bus, kLogind, path.c_str(), kSessionInterface, property, &error, 'b',
                                              &flag);
    sd_bus_error_free(&error);
    if (r < 0) return r;
    value = flag != 0;
    return 0;
}

// seat0's active session; a negative errno when there is none.
int activeSession(sd_bus* bus, std::string& path) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_get_property(bus, kLogind, kSeat, kSeatInterface, "ActiveSession", &error, &reply, "(so)");
    sd_bus_error_free(&error);
    if (r < 0) return r;
    const char* id = nullptr;
    const char* object = nullptr;
    r = sd_bus_message_read(reply, "(so)", &id, &object);
    if (r >= 0) {
        if (object == nullptr || std::string(object) == "/") r = -ENOENT;
        else path = object;
    }
    sd_bus_message_unref(reply);
    return r < 0 ? r : 0;
}

}  // namespace
#endif

PosixDesktop::PosixDesktop() = default;
PosixDesktop::~PosixDesktop() = default;

DeskHandle PosixDesktop::OpenDesktop(const std::string& name, std::uint32_t) {
    const bool screenSaver = name == "screen-saver";
    if (!screenSaver && name != "Default") {
        lastError_ = ENOENT;
        return 0;
    }
#ifdef VORBEX_HAVE_SDBUS
    auto session = std::make_unique<Session>();
    int r = sd_bus_open_system(&session->bus);
    if (r >= 0) r = activeSession(session->bus, session->path);
    if (r >= 0 && screenSaver) {
        bool idle = false;
        r = sessionFlag(session->bus, session->path, "IdleHint", idle);
        if (r >= 0 && !idle) r = -ENOENT;  // no screen saver shows
    }
    if (r < 0) {
        lastError_ = -r;
        return 0;
    }
    const DeskHandle handle = next_;
    next_ += 4;
    open_[handle] = std::move(session);
    lastError_ = 0;
    return handle;
#else
    lastError_ = ENOENT;
    return 0;
#endif
}

bool PosixDesktop::SwitchDesktop(DeskHandle desktop) {
    const auto it = open_.find(desktop);
    if (it == open_.end()) {
        lastError_ = EBADF;
        return false;
    }
#ifdef VORBEX_HAVE_SDBUS
    bool locked = false;
    const int r = sessionFlag(it->second->bus, it->second->path, "LockedHint", locked);
    if (r < 0) {
        lastError_ = -r;
        return false;
    }
    lastError_ = 0;
    return !locked;  // a locked session refuses silently, as a locked workstation does
#else
    lastError_ = ENOENT;
    return false;
#endif
}

bool PosixDesktop::CloseDesktop(DeskHandle desktop) {
    const auto it = open_.find(desktop);
    if (it == open_.end()) {
        lastError_ = EBADF;
        return false;
    }
    open_.erase(it);
    lastError_ = 0;
    return true;
}

long PosixDesktop::GetLastError() { return lastError_; }
