// The vorbex executable: one run over the platform this build was made for.
// May contain: the run's control flow; no system calls.
#include "base/errors.h"
#include "context/run_context.h"
#include "platform/system.h"
#include "run/start.h"

int main(int argc, char** argv) {
    const auto system = makeSystemPlatform(argc, argv);
    RunContext ctx(system->platform);
    try {
        Main(ctx);
    } catch (const EndOfRun&) {
        // Every run ends here; the run log closed when subEndRun released it.
    }
    return 0;
}
