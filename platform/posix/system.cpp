// The posix platform of the program: every backend of this build, owned in one place.
// May contain: construction of the posix backends only.
#include <memory>

#include "platform/posix/clock.h"
#include "platform/posix/desktop.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/host.h"
#include "platform/posix/locks.h"
#include "platform/posix/md5.h"
#include "platform/posix/paths.h"
#include "platform/posix/processes.h"
#include "platform/posix/profile.h"
#include "platform/posix/registry.h"
#include "platform/posix/webpost.h"
#include "platform/posix/xml.h"
#include "platform/system.h"

namespace {

class PosixSystemPlatform : public SystemPlatform {
public:
    PosixSystemPlatform(int argc, char** argv) : host(argc, argv) {
        platform.fs = &fs;
        platform.registry = &registry;
        platform.profile = &profile;
        platform.paths = &paths;
        platform.clock = &clock;
        platform.host = &host;
        platform.processes = &processes;
        platform.desktop = &desktop;
        platform.md5 = &md5;
        platform.webpost = &webpost;
        platform.xml = &xml;
        platform.locks = &locks;
    }

private:
    PosixFileSystem fs;
    PosixRegistry registry;
    PosixProfileFiles profile;
    PosixPaths paths;
    PosixClock clock;
    PosixHost host;
    PosixXmlLibrary xml;
    PosixMd5Library md5;
    PosixProcesses processes;
    PosixDesktop desktop;
    PosixWebpostLibrary webpost;
    PosixLocks locks;
};

}  // namespace

std::unique_ptr<SystemPlatform> makeSystemPlatform(int argc, char** argv) {
    return std::make_unique<PosixSystemPlatform>(argc, argv);
}
