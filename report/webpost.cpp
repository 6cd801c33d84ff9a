// Webpost transport: posting a record at once, and the drop folder that the
// agent's forwarding component empties later.
#include "report/webpost.h"

#include <algorithm>
#include <memory>
#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/host.h"
#include "platform/temp_names.h"
#include "platform/webpost.h"

namespace {

// Used when kScriptDNS.ini names no base for a record. The agent's own host
// is not known to this program, so the default is a name that never
// resolves: such a record is not sent anywhere by guess, it is dropped and
// the forwarding component delivers it.
constexpr const char* kDefaultWebpostBase = "https://webpost.invalid/";

constexpr const char* kDropStampPicture = "MMDDYYYYHHNNSSS";

// The identity values go in as they are: the server reads them that way.
std::string composeUrl(const RunContext& ctx, const std::string& base, const std::string& recordName) {
    return base + "tfr_" + recordName + ".asp?mmid=" + ctx.strMemberID + "&sid=" + ctx.strSiteID +
           "&rid=" + ctx.strRegID + "&rty=" + ctx.strRegType;
}

bool libraryNotRegistered(long number) {
    return number == err::CannotCreate || number == err::TypeLibNotRegistered ||
           number == err::TypeLibNotRegisteredUnsigned;
}

// Runs one statement of WebPost. When it fails because the library is not
// registered, the registration is started (once per run) and the statement
// runs once more; any other failure goes on to WebPost's handler.
template <class Statement>
void withRegistration(RunContext& ctx, Statement&& statement) {
    for (;;) {
        try {
            statement();
            return;
        } catch (const RunError& e) {
            if (!libraryNotRegistered(e.number) || ctx.blnDllRegistered) throw;
            RegisterDLL(ctx);
            ctx.blnDllRegistered = true;
        }
    }
}

std::string dropName(RunContext& ctx, const std::string& recordName, const std::string& stamp) {
    return recordName + "_N_" + ctx.strRegID + "_" + stamp + ".xml";
}

// A drop name not yet taken in HVRPostLogs. A record still waiting there under
// the same name would otherwise be replaced and lost, so the drop waits for
// the next second and takes its stamp. This ends: every wait moves the stamp
// on, and only the records still waiting can be in the way.
std::string freeDropName(RunContext& ctx, const std::string& recordName) {
    const std::string folder = dropFolder(ctx) + "\\";
    LocalTime now = ctx.sys.clock->now();
    for (;;) {
        const std::string stamp = formatPicture(now, kDropStampPicture);
        const std::string name = dropName(ctx, recordName, stamp);
        if (!ctx.objFSO->FileExists(folder + name)) return name;
        // The stamp has whole seconds: sleep to the start of the next one,
        // and a little more should the clock not have turned yet.
        do {
            ctx.sys.clock->sleepMs(static_cast<std::uint32_t>(1000 - std::clamp(now.millisecond, 0, 999)));
            now = ctx.sys.clock->now();
        } while (formatPicture(now, kDropStampPicture) == stamp);
    }
}

}  // namespace

void subGetWebPostScript(RunContext& ctx, const std::string& recordName, const std::string& xml) {
    ctx.blnWebPostStatus = false;
    guarded(
        [&] {
            std::string base;
            fncReadINI(ctx, base, recordName, "URL", ctx.strInstallPath + agent::kWebpostUrlFile);
            base = trimBlanks(base);
            std::string url;
            if (!base.empty()) {
                if (!endsWith(base, "/")) base += "/";
                url = composeUrl(ctx, base, recordName);
            }
            WriteLog(ctx, "MSG : Preprocessing: Webposting Source :: " + url);
            if (trimBlanks(url).empty()) {
                WriteLog(ctx, "MSG : using harcode URL");
                url = composeUrl(ctx, kDefaultWebpostBase, recordName);
            }
            WebPost(ctx, xml, url);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : Procedure subGetWebPostScript. ErrDesc : " + std::to_string(e.number) + " " +
                              e.description);
        });
}

void WebPost(RunContext& ctx, const std::string& xml, const std::string& url) {
    ctx.blnWebPostStatus = false;
    std::unique_ptr<WebpostObject> webpost;
    guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Webposting string :: " + xml);
            withRegistration(ctx, [&] {
                if (ctx.sys.webpost == nullptr) throw runError(err::CannotCreate);
                webpost = ctx.sys.webpost->CreateObject(agent::kWebpostClass);
            });
            ctx.strWebPostResponse.clear();
            if (webpost) {
                // The method takes its texts by reference; the caller's stay untouched.
                std::string record = xml, target = url, error1, error2, error3;
                bool accepted = false;
                withRegistration(ctx, [&] {
                    accepted = webpost->PostXMLString(record, false, target, "", "", ctx.strWebPostResponse, error1,
                                                      error2, error3);
                });
                ctx.blnWebPostStatus = accepted;
                WriteLog(ctx, "MSG : Preprocessing: WebPost Return Status: " + ctx.strWebPostResponse);
                if (!accepted) WriteLog(ctx, "ERR : WebPost Failed : " + error1 + "-" + error2 + " - " + error3);
            }
            webpost.reset();
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : Function WebPost :: " + std::to_string(e.number) + "-" + e.description);
            webpost.reset();
        });
}

void RegisterDLL(RunContext& ctx) {
    guarded(
        [&] {
            const std::string library = GetShortpath(ctx, ctx.sys.host->ExeFolder()) + "\\" + agent::kWebpostLibrary;
            // Like a failed Shell call: the program to start was not found.
            if (ctx.sys.webpost == nullptr || !ctx.sys.webpost->Register(library)) throw runError(err::FileNotFound);
            WriteLog(ctx, "MSG : Preprocessing: Registered Dll : " + library);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : Function RegisterDLL :: " + std::to_string(e.number) + "-" + e.description);
        });
}

void subDropRecord(RunContext& ctx, const std::string& recordName, const std::string& xml, const std::string& label) {
    for (;;) {
        const std::string name = freeDropName(ctx, recordName);
        std::string partial;
        try {
            partial = placeIntoPostLogs(ctx, name, xml + "\r\n");
        } catch (const RunError& e) {
            // Another writer took the name since it was found free: the next
            // free name rather than replace that record.
            if (e.number == err::FileExists) continue;
            throw;
        }
        // The partial file's name went with the rename.
        WriteLog(ctx, "MSG : Preprocessing: Deleting " + label + " File " + partial);
        return;
    }
}

std::string placeIntoPostLogs(RunContext& ctx, const std::string& fileName, const std::string& text) {
    const std::string folder = dropFolder(ctx) + "\\";
    // The partial name is this process's own, so no other run writes into it.
    const std::string partial = folder + temporaryNameOf(fileName, ctx.sys.host->ProcessId());
    try {
        ctx.objFSO->PlaceNewFile(partial, folder + fileName, text);
    } catch (const RunError& e) {
        if (e.number != err::FileExists) logDropLost(ctx, fileName, e);
        throw;
    }
    WriteLog(ctx, "MSG : Preprocessing: Copying " + partial + " to " + folder + fileName);
    return partial;
}

void logDropLost(RunContext& ctx, const std::string& fileName, const RunError& error) {
    WriteLog(ctx, "ERR : Preprocessing: " + fileName + " could not be dropped into " + dropFolder(ctx) + " :: " +
                      std::to_string(error.number) + " " + error.description + "; the record is lost");
}
