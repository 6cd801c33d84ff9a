// The Win32 platform of the program: every Win32 backend, owned together.
// May contain: the construction of the backends and process-wide settings
// of the Windows runtime; no program logic.
#include "platform/system.h"

#include "platform/win32/clock.h"
#include "platform/win32/desktop.h"
#include "platform/win32/filesystem.h"
#include "platform/win32/host.h"
#include "platform/win32/locks.h"
#include "platform/win32/md5.h"
#include "platform/win32/paths.h"
#include "platform/win32/processes.h"
#include "platform/win32/profile.h"
#include "platform/win32/registry.h"
#include "platform/win32/webpost.h"
#include "platform/win32/windows.h"
#include "platform/win32/xml.h"

namespace {

// No backend enters a COM apartment, loads a DLL or starts a process when it
// is made: COM starts with the first object created (win32::ensureComApartment),
// on the thread that creates it, so only the runs and tests that need an XML
// document or the webpost object start it, and none before main().
class Win32SystemPlatform : public SystemPlatform {
public:
    Win32SystemPlatform() {
        platform.fs = &fs_;
        platform.registry = &registry_;
        platform.profile = &profile_;
        platform.paths = &paths_;
        platform.clock = &clock_;
        platform.host = &host_;
        platform.processes = &processes_;
        platform.desktop = &desktop_;
        platform.md5 = &md5_;
        platform.webpost = &webpost_;
        platform.xml = &xml_;
        platform.locks = &locks_;
    }

private:
    Win32FileSystem fs_;
    Win32Registry registry_;
    Win32ProfileFiles profile_;
    Win32Paths paths_;
    Win32Clock clock_;
    Win32Host host_;
    Win32Processes processes_;
    Win32Desktop desktop_;
    Win32Md5Library md5_;
    Win32WebpostLibrary webpost_;
    Win32XmlLibrary xml_;
    Win32Locks locks_;
};

}  // namespace

std::unique_ptr<SystemPlatform> makeSystemPlatform(int, char**) {
    // A worker without a user: no dialog box may ever wait for a click, not
    // for a missing drive, a DLL that fails to load or a crash.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    return std::make_unique<Win32SystemPlatform>();
}
