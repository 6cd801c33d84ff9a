// Script variables and their thresholds (Configuration\ATZThreshold.ini).
// May contain: the records and their transport; no system calls.
#include "report/script_variables.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/counters.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "platform/locks.h"
#include "platform/profile.h"
#include "platform/xml.h"
#include "report/records.h"

namespace {

constexpr const char* kCountSection = "VTX_Variables_Count";
constexpr const char* kContainer = "wpatcmdscrvardata";

// The script writes the variables file, and what it holds is posted as one
// record: a file larger than this is not read at all.
constexpr std::size_t kVariablesFileBound = 4 * 1024 * 1024;

// The bytes of `stream` to its end; nothing when they are more than `bound`,
// found out before more than that is held.
std::optional<std::string> readBounded(TextStream& stream, std::size_t bound) {
    std::string bytes;
    std::string_view block;
    while (stream.ReadView(block)) {
        if (block.size() > bound - bytes.size()) return std::nullopt;
        bytes.append(block);
    }
    return bytes;
}


// One child of the script's variables file.
struct ScriptVariable {
    std::string VarName;
    std::string VarValue;
    std::string ScriptVersion;
    std::string VersionTag;
    std::string ScriptName;
    std::string NameTag;
};

// The runtime's error for a member used on an object that is not there.
RunError objectNotSet() { return runError(err::ObjectNotSet); }

// The counter increments of one variables file, written as one batch
// (context/counters.h). The step's log lines are held back until the write,
// so that every "Successfully Written" line stands where a write of its own
// would have put it, and is left out when its counter was not written.
struct PendingLine {
    std::string message;
    std::size_t raise = kNoRaise;  // the raise this line confirms, if any
    static constexpr std::size_t kNoRaise = static_cast<std::size_t>(-1);
};

struct CounterWrites {
    bool batched = true;                        // false: write each increment at once
    CounterBatch counters;
    std::vector<PendingLine> lines;             // the step's log lines, in order
    std::map<std::string, bool> exceeded;       // lower-cased key -> per-script limit reached
};

void flushCounters(RunContext& ctx, CounterWrites& w) {
    std::vector<PendingLine> lines = std::move(w.lines);
    w.lines.clear();
    const std::vector<bool> written = writeCounters(ctx, w.counters);
    for (const PendingLine& line : lines) {
        if (line.raise == PendingLine::kNoRaise || (line.raise < written.size() && written[line.raise])) {
            WriteLog(ctx, line.message);
        }
    }
}

bool limitReached(RunContext& ctx, CounterWrites& w, const std::string& name) {
    if (!w.batched) return fncVaribaleThresholdExceed(ctx, name);
    const std::string key = lowerAscii(counterKey(name));
    const auto found = w.exceeded.find(key);
    if (found != w.exceeded.end()) return found->second;
    const bool reached = fncVaribaleThresholdExceed(ctx, name);
    w.exceeded.emplace(key, reached);
    return reached;
}

void raiseVariable(RunContext& ctx, CounterWrites& w, const std::string& name, const std::string& value) {
    const std::size_t raise = raiseCounter(w.counters, name, value);
    w.lines.push_back(PendingLine{iniWrittenLine(value, counterKey(name), w.counters.file), raise});
    if (!w.batched) flushCounters(ctx, w);
}

void holdLine(RunContext& ctx, CounterWrites& w, const std::string& message) {
    if (w.batched) {
        w.lines.push_back(PendingLine{message});
    } else {
        WriteLog(ctx, message);
    }
}

// Loads the script's variables file into `document`. The script wrote the
// file, so it is read only where it really lies in the logs folder, and
// parsed from the bytes read. False, said in the log, when it cannot be.
bool loadVariablesFile(RunContext& ctx, XmlDocument& document, const std::string& path) {
    std::string bytes;
    bool read = false;
    try {
        std::optional<std::string> whole =
            readBounded(*ctx.objFSO->OpenInside(logsFolder(ctx), path), kVariablesFileBound);
        if (whole) {
            bytes = std::move(*whole);
            read = true;
        } else {
            WriteLog(ctx, "ERR : Preprocessing: " + path + " holds more than 4 MiB and is not read");
        }
    } catch (const RunError& e) {
        if (e.number == err::PathAccess) throw;
    }
    if (!read || !document.LoadBytes(bytes)) {
        WriteLog(ctx, "ERR: Failed to load " + path);
        return false;
    }
    return true;
}

// The children of the file's container, one record each; a child of another
// name gives an empty record.
std::vector<ScriptVariable> scriptVariables(XmlDocument& document) {
    std::unique_ptr<XmlNode> container = document.SelectFirstElement(kContainer);
    if (!container) throw objectNotSet();
    const long count = container->ChildCount();
    if (count < 1) throw runError(err::SubscriptRange);
    // The child index is a 16-bit integer.
    if (count - 1 > 32767) throw runError(err::Overflow);

    std::vector<ScriptVariable> variables(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        std::unique_ptr<XmlNode> child = container->Child(i);
        if (!child) throw objectNotSet();
        ScriptVariable& record = variables[static_cast<std::size_t>(i)];
        const std::string name = child->NodeName();
        if (equalsNoCase(name, "var")) {
            record.VarValue = trimBlanks(child->Text());
            if (child->AttributeCount() < 1) throw objectNotSet();
            record.VarName = trimBlanks(child->AttributeValue(0));
        } else if (equalsNoCase(name, "scriptversion")) {
            record.ScriptVersion = child->Text();
            record.VersionTag = "scriptversion";
        } else if (equalsNoCase(name, "scriptname")) {
            record.ScriptName = child->Text();
            record.NameTag = "scriptname";
        }
    }
    return variables;
}

// The record's elements: every variable still under its thresholds, whose
// counter is then raised, and the script's version and name.
std::string recordItems(RunContext& ctx, CounterWrites& pending, const std::vector<ScriptVariable>& variables) {
    const double threshold = numericValue(ctx.strVTXVariablesTh);
    std::string items;
    for (const ScriptVariable& record : variables) {
        if (!record.VarName.empty()) {
            if (limitReached(ctx, pending, record.VarName)) {
                holdLine(ctx, pending, "MSG : Preprocessing: Threshold exceeded for variable " + record.VarName);
                continue;
            }
            const double counter = numericValue(counterValue(ctx, pending.counters, record.VarName));
            if (threshold >= counter) {
                items += "<var name='" + attributeText(record.VarName) + "'>" + cdataSection(record.VarValue) +
                         "</var>";
                raiseVariable(ctx, pending, record.VarName, numberText(counter + 1));
            }
        } else if (record.VersionTag == "scriptversion") {
            items += cdataElement("scriptversion", record.ScriptVersion);
        } else if (record.NameTag == "scriptname") {
            items += cdataElement("scriptname", record.ScriptName);
        }
    }
    return items;
}

}  // namespace

bool fncVerifyVariablethreshold(RunContext& ctx) {
    bool completed = false;
    guarded(
        [&] {
            const std::string file = thresholdFile(ctx);
            // Each default below is read, then written when missing; the lock
            // keeps another run's rewrite of the file out of that step.
            const std::unique_ptr<HeldLock> lock = lockIniForUpdate(ctx, file);

            fncReadINI(ctx, ctx.job.strThresholdDate, "VTXVariables", "Date", file);
            WriteLog(ctx, "MSG : Preprocessing: Date is  " + ctx.job.strThresholdDate + " in " + file);
            if (trimBlanks(ctx.job.strThresholdDate).empty()) {
                // Only the file gets the date; the value read stays as it was.
                fncWriteINI(ctx, "VTXVariables", "Date", formatPicture(ctx.sys.clock->now(), "MM\\/DD\\/YYYY"),
                            file);
            }

            fncReadINI(ctx, ctx.strVTXVariablesTh, "Threshold", "VTXVariablesTh", file);
            WriteLog(ctx, "MSG : Preprocessing: VTXVariablesTh is  " + ctx.strVTXVariablesTh + " in " + file);
            if (numericValue(ctx.strVTXVariablesTh) == 0) {
                fncWriteINI(ctx, "Threshold", "VTXVariablesTh", "24", file);
                ctx.strVTXVariablesTh = "24";
            }

            fncReadINI(ctx, ctx.job.strScriptFailureTh, "Threshold", "ScriptFailrueTh", file);
            WriteLog(ctx, "MSG : Preprocessing: ScriptFailrueTh is  " + ctx.job.strScriptFailureTh + " in " + file);
            if (numericValue(ctx.job.strScriptFailureTh) == 0) {
                fncWriteINI(ctx, "Threshold", "ScriptFailrueTh", "24", file);
                ctx.job.strScriptFailureTh = "24";
            }
            completed = true;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncVerifyVariablethreshold. " + std::to_string(e.number) + "::" + e.description);
        });
    return completed;
}

bool fncVaribaleThresholdExceed(RunContext& ctx, const std::string& variableName) {
    bool exceeded = false;
    guarded(
        [&] {
            std::string limit;
            fncReadINI(ctx, limit, ctx.job.strExecuteScript, counterKey(variableName), thresholdFile(ctx));
            exceeded = numericValue(ctx.strVTXVariablesTh) <= numericValue(limit);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in fncVaribaleThresholdExceed. " + std::to_string(e.number) + "::" + e.description);
            exceeded = false;
        });
    return exceeded;
}

std::string fncReadVariableXML(RunContext& ctx, const std::string& path) {
    CounterWrites pending;
    pending.counters = beginCounters(ctx, kCountSection);
    // When the primary script's own section is the counter section, the
    // per-script limit must see every increment as soon as it is made.
    pending.batched = !containsNoCase(ctx.job.strExecuteScript, kCountSection);

    return guarded(
        [&]() -> std::string {
            if (ctx.sys.xml == nullptr) throw runError(err::CannotCreate);
            std::unique_ptr<XmlDocument> document = ctx.sys.xml->CreateDocument();
            if (!document) throw runError(err::CannotCreate);
            if (!loadVariablesFile(ctx, *document, path)) return {};
            const std::string items = recordItems(ctx, pending, scriptVariables(*document));
            flushCounters(ctx, pending);
            releaseCounters(pending.counters);

            if (items.empty()) return {};
            if (!containsNoCase(items, "<var name='")) {
                WriteLog(ctx, "MSG : Preprocessing  : Either no VTX variables found / VTX variables threshold exceeded");
                return {};
            }
            return std::string("<") + kContainer + ">" + items + "</" + kContainer + ">";
        },
        [&](const RunError& e) -> std::string {
            // Increments already decided stay written, as they would have been one by one.
            ignoreErrors([&] { flushCounters(ctx, pending); });
            releaseCounters(pending.counters);
            WriteLog(ctx, "ERR : in fncReadVariableXML. " + std::to_string(e.number) + "::" + e.description);
            return {};
        });
}
