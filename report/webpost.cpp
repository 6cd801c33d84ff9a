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
           number == static_cast<long>(0x8002801DL);
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
    FileSystem& fso = *ctx.objFSO;
    for (;;) {
        const std::string name = freeDropName(ctx, recordName);
        // The staging file's name is this process's own: a run dropping the
        // same record in the same second writes a file of its own.
        const std::string source =
            logsFolder(ctx) + "\\" + temporaryNameOf(name, ctx.sys.host->ProcessId());
        const std::string target = dropFolder(ctx) + "\\" + name;

        // A file left under this name (an earlier attempt of this process
        // that failed) is removed; a link a script planted there is removed
        // as a link, and one planted again meanwhile is refused by creating
        // without replacing, so the record is never written through a link.
        ignoreErrors([&] { fso.DeleteFile(source, false); });
        auto file = fso.CreateTextFile(source, false);
        file->WriteLine(xml);
        file->Close();
        if (!fso.FileExists(source)) return;

        WriteLog(ctx, "MSG : Preprocessing: Copying " + source + " to " + target);
        try {
            placeIntoPostLogs(ctx, source, name);
        } catch (const RunError& e) {
            ignoreErrors([&] { fso.DeleteFile(source, false); });
            if (e.number != err::FileExists) throw;
            // Another writer took the name since it was found free: start over
            // under the next free name rather than replace that record.
            continue;
        }
        WriteLog(ctx, "MSG : Preprocessing: Deleting " + label + " File " + source);
        fso.DeleteFile(source, false);
        return;
    }
}

void placeIntoPostLogs(RunContext& ctx, const std::string& sourcePath, const std::string& fileName) {
    FileSystem& fso = *ctx.objFSO;
    const std::string folder = dropFolder(ctx) + "\\";
    // The forwarding component takes "*.xml" files only, so it never sees the
    // copy until the rename makes it whole under its final name; the name is
    // this process's own, so no other run writes into it meanwhile.
    const std::string partial = folder + temporaryNameOf(fileName, ctx.sys.host->ProcessId());
    try {
        // The source lies in AutomiseLogs, where a script may put a link.
        fso.CopyOutOf(logsFolder(ctx), sourcePath, partial, true);
        fso.MoveFile(partial, folder + fileName, false);
    } catch (...) {
        ignoreErrors([&] { fso.DeleteFile(partial, true); });
        throw;
    }
}
