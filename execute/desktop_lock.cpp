// The desktop lock test.
// May contain: the script's run; no system calls.
#include "execute/desktop_lock.h"

#include "base/errors.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/desktop.h"

bool fncUserLocked(RunContext& ctx) {
    return guarded(
        [&] {
            Desktop& desktop = *ctx.sys.desktop;
            // The screen-saver desktop exists only while the screen saver shows.
            ScopedDesktop screenSaver(desktop, desktop.OpenDesktop("screen-saver", desk::DESKTOP_ENUMERATE));
            ctx.launch.blnScreenSaverRunning = static_cast<bool>(screenSaver);
            WriteLog(ctx, std::string("MSG : Preprocessing : ") + (ctx.launch.blnScreenSaverRunning
                                                                      ? "Screen Saver is running."
                                                                      : "Screen Saver is not running."));

            ScopedDesktop input(desktop, desktop.OpenDesktop("Default", desk::DESKTOP_SWITCHDESKTOP));
            const long openError = desktop.GetLastError();
            if (!input) {
                WriteLog(ctx, "MSG : Preprocessing : Error with OpenDesktop: " + std::to_string(openError));
                return false;
            }

            const bool switched = desktop.SwitchDesktop(input.get());
            ctx.launch.lngSwitchDesktopError = static_cast<std::int32_t>(desktop.GetLastError());
            if (switched) {
                WriteLog(ctx, ctx.launch.blnScreenSaverRunning ? "MSG : Preprocessing :  Desktop is Not locked!"
                                                               : "MSG : Preprocessing : Not locked!");
            } else if (ctx.launch.lngSwitchDesktopError != 0) {
                WriteLog(ctx, "MSG : Preprocessing : Error with SwitchDesktop: " +
                                  std::to_string(ctx.launch.lngSwitchDesktopError));
            } else {
                // Refused without a reason: the input belongs to the locked workstation.
                WriteLog(ctx, "MSG : Preprocessing : Desktop is locked!!!");
                ctx.blnDesktopLocked = true;
                return true;
            }
            return false;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncUserLocked. " + std::to_string(e.number) + ":" + e.description);
            return false;
        });
}
