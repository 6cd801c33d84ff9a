// The vorbex executable: the posix platform around one run.
#include "platform/errors.h"
#include "platform/platform.h"
#include "platform/posix/backends.h"
#include "platform/posix/desktop.h"
#include "platform/posix/md5.h"
#include "platform/posix/processes.h"
#include "platform/posix/webpost.h"
#include "platform/posix/xml.h"
#include "run/run_context.h"
#include "run/start.h"

int main(int argc, char** argv) {
    PosixFileSystem fs;
    PosixRegistry registry;
    PosixProfileFiles profile;
    PosixPaths paths;
    PosixClock clock;
    PosixHost host(argc, argv);
    PosixXmlLibrary xml;
    PosixMd5Library md5;
    PosixProcesses processes;
    PosixDesktop desktop;
    PosixWebpostLibrary webpost;

    Platform platform;
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

    RunContext ctx(platform);
    try {
        Main(ctx);
    } catch (const EndOfRun&) {
        // Every run ends here; the run log closed when subEndRun released it.
    }
    return 0;
}
