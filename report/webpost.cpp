// Webpost transport: posting a record at once to its URL.
// May contain: the records and their transport; no system calls.
#include "report/webpost.h"

#include <memory>
#include <string>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/host.h"
#include "platform/webpost.h"

namespace {

// Used when kScriptDNS.ini names no base for a record. The agent's own host
// is not known to this program, so the default is a name that never
// resolves: such a record is not sent anywhere by guess, it is dropped and
// the forwarding component delivers it.
constexpr const char* kDefaultWebpostBase = "https://webpost.invalid/";

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
