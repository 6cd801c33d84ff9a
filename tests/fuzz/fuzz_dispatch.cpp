// Fuzzes the log dispatch. The input is a console log, then a NUL byte, then
// the bytes of an export that is written under every name the seeds use, so
// that a console log naming one of them reaches its parser. Links in the logs
// folder lead to a folder outside, to the drop folder and to a single file
// outside; nothing they lead to may be read, changed or deleted.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "fuzz_support.h"
#include "platform/posix/machine.h"
#include "scriptlog/dispatch.h"

namespace {

// A failing XML export whose action name must never reach the list.
const char* const kMark = "OUTSIDEMARK";
const std::string kOutsideExport =
    "<?xml version=\"1.0\"?>\r\n<ACTION name=\"OUTSIDEMARK\" status=\"Error\">\r\n"
    "<MESSAGE><![CDATA[OUTSIDEMARK]]></MESSAGE>\r\n";
const char* kOutsideNames[] = {"run.xml", "run.txt", "run.html", "run.text"};

struct Links {
    fuzz::Machine& m;
    std::string logs;

    explicit Links(fuzz::Machine& machine) : m(machine), logs(mapPath(fuzz::kLogs)) {
        namespace fs = std::filesystem;
        for (const char* name : kOutsideNames) {
            m.run.sandbox.writeFile(std::string("C:\\Outside\\") + name, kOutsideExport);
        }
        m.run.sandbox.writeFile("C:\\Agent\\HVRPostLogs\\waiting.xml", kOutsideExport);
        fs::create_symlink(mapPath("C:\\Outside"), logs + "/d");
        fs::create_symlink(mapPath("C:\\Agent\\HVRPostLogs"), logs + "/post");
        fs::create_symlink(mapPath("C:\\Outside\\run.xml"), logs + "/link.xml");
    }

    /// Stops the fuzzer when a link is gone or what it leads to has changed,
    /// or when the mark of the files outside reached the list although the
    /// input itself does not hold it.
    void check(const RunContext& ctx, bool inputHasMark) {
        for (const char* link : {"/d", "/post", "/link.xml"}) {
            struct stat st {};
            if (::lstat((logs + link).c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) std::abort();
        }
        for (const char* name : kOutsideNames) {
            if (m.run.sandbox.readFile(std::string("C:\\Outside\\") + name) != kOutsideExport) std::abort();
        }
        if (m.run.sandbox.readFile("C:\\Agent\\HVRPostLogs\\waiting.xml") != kOutsideExport) std::abort();
        if (!inputHasMark && ctx.script.strActionDescList.find(kMark) != std::string::npos) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& m = fuzz::machine();
    static Links links(m);
    RunContext& ctx = m.fresh();
    const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t consoleSize = nul ? static_cast<size_t>(nul - data) : size;
    m.write(fuzz::kConsoleLog, data, consoleSize);
    const uint8_t* exportData = nul ? nul + 1 : data + size;
    const size_t exportSize = static_cast<size_t>(data + size - exportData);
    for (const char* name : {"run.xml", "run.txt", "run.html", "run.text"}) {
        m.write(std::string(fuzz::kLogs) + name, exportData, exportSize);
    }
    std::string variablesFile;
    fncProcessScriptLog(ctx, fuzz::kConsoleLog, variablesFile);
    fuzz::checkList("", ctx.script.strActionDescList);
    // A script's console log must never reach a file outside the logs folder,
    // by ".." or through a link.
    m.checkGuarded();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    links.check(ctx, input.find(kMark) != std::string_view::npos);
    return 0;
}
