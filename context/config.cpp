// Configuration sources.
// May contain: the run's shared state, its log and its configuration; no system calls.
#include "context/config.h"

#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/clock.h"
#include "platform/locks.h"
#include "platform/paths.h"
#include "platform/profile.h"

std::string ReadReg(RunContext& ctx, RegHandle hive, const std::string& subkey, const std::string& valueName,
                    std::int16_t valueType) {
    return guarded(
        [&]() -> std::string {
            Registry& registry = *ctx.sys.registry;
            RegHandle key = 0;
            if (registry.OpenKey(hive, subkey, reg::KEY_QUERY_VALUE, key) != reg::ERROR_SUCCESS) return {};
            const ScopedRegKey held(registry, key);
            std::string result;
            if (valueType == 1) {
                std::uint32_t type = 0, size = 0;
                long rc = registry.QueryValue(key, valueName, &type, nullptr, &size);
                // A size query may answer ERROR_MORE_DATA or success with the size.
                if (rc == reg::ERROR_MORE_DATA || (rc == reg::ERROR_SUCCESS && size > 0)) {
                    std::vector<char> buffer(size, '\0');
                    rc = registry.QueryValue(key, valueName, &type, buffer.data(), &size);
                    if (rc == reg::ERROR_SUCCESS && size > 0) result.assign(buffer.data(), size - 1);
                }
            } else if (valueType == 4) {
                std::uint32_t type = 0, size = 4;
                char data[4] = {};
                if (registry.QueryValue(key, valueName, &type, data, &size) == reg::ERROR_SUCCESS) {
                    std::int32_t number = 0;
                    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
                    result = std::to_string(number);
                }
            }
            return result;
        },
        [&](const RunError& e) -> std::string {
            WriteLog(ctx, "ERR : in fnc ReadReg. Err : " + std::to_string(e.number) + "::" + e.description);
            return {};
        });
}

std::string GetRegValue(RunContext& ctx, RegHandle key, const std::string& keyName, const std::string& valueName) {
    return guarded(
        [&]() -> std::string {
            Registry& registry = *ctx.sys.registry;
            std::uint32_t type = 0, size = 0;
            long rc = registry.QueryValue(key, valueName, &type, nullptr, &size);
            if (rc != reg::ERROR_SUCCESS && rc != reg::ERROR_MORE_DATA) {
                WriteLog(ctx, "ERR : Failed to read Registry key " + valueName + ". ERRDesc :: " +
                                  runlog::fncFormatMessage(ctx, std::to_string(rc)));
                return {};
            }
            if (type != reg::REG_SZ) return {};
            std::string buffer(size, '\0');
            rc = registry.QueryValue(key, valueName, &type, buffer.data(), &size);
            if (rc != reg::ERROR_SUCCESS) {
                WriteLog(ctx, "ERR : Failed to read Registry key " + valueName + ". ERRDesc - " +
                                  runlog::fncFormatMessage(ctx, std::to_string(rc)));
                return {};
            }
            return StripNulls(ctx, buffer);
        },
        [&](const RunError& e) -> std::string {
            WriteLog(ctx, "ERR : procedure GetRegValue. ERR : " + std::to_string(e.number) + "::" + e.description);
            return {};
        });
}

bool fncGetRegInfo(RunContext& ctx) {
    return guarded(
        [&] {
            WriteLog(ctx, "MSG : Preprocessing: Opening Registry key SOFTWARE\\KOVAOD");
            Registry& registry = *ctx.sys.registry;
            RegHandle key = 0;
            const long rc = registry.OpenKey(reg::HKEY_LOCAL_MACHINE, agent::kRegistryKey, reg::KEY_READ, key);
            if (rc != reg::ERROR_SUCCESS) {
                setFailure(ctx, "Preprocessing:Unable to locate registry entries for SOFTWARE\\KOVAOD. ERRDesc:" +
                                    runlog::fncFormatMessage(ctx, std::to_string(rc)));
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return false;
            }
            const ScopedRegKey held(registry, key);
            ctx.strMemberID = GetRegValue(ctx, key, agent::kRegistryKeyName, "MEMBERID");
            WriteLog(ctx, "MSG : Preprocessing: MEMBERID :: " + ctx.strMemberID);
            ctx.strSiteID = GetRegValue(ctx, key, agent::kRegistryKeyName, "SITEID");
            WriteLog(ctx, "MSG : Preprocessing: SITEID :: " + ctx.strSiteID);
            ctx.strRegType = GetRegValue(ctx, key, agent::kRegistryKeyName, "TYPE");
            WriteLog(ctx, "MSG : Preprocessing: REGTYPE :: " + ctx.strRegType);

            std::string failure;
            const std::string type = upperAscii(trimBlanks(ctx.strRegType));
            if (numericValue(ctx.strMemberID) == 0) failure = "Preprocessing:Invalid MEMBERID";
            else if (numericValue(ctx.strSiteID) == 0) failure = "Preprocessing:Invalid SITEID";
            else if (type != "MSMA" && type != "DPMA") failure = "Preprocessing:Invalid REGTYPE";
            if (!failure.empty()) {
                setFailure(ctx, failure);
                WriteLog(ctx, "ERR : " + failure);
            }
            return failure.empty();
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncGetRegInfo. ErrDesc :: " + std::to_string(e.number) + " " + e.description);
            return false;
        });
}

std::int32_t fncReadINI(RunContext& ctx, std::string& value, const std::string& section, const std::string& key,
                        const std::string& file) {
    value = ctx.sys.profile->GetString(section, key, "", kReadINIBuffer, file);
    return static_cast<std::int32_t>(value.size());
}

std::int32_t fncWriteINI(RunContext& ctx, const std::string& section, const std::string& key,
                         const std::string& value, const std::string& file) {
    if (ctx.sys.profile->WriteString(section, key, value, file)) {
        WriteLog(ctx, iniWrittenLine(value, key, file));
    }
    return 0;
}

namespace {
constexpr std::uint32_t kIniLockWaitMs = 60000;
constexpr std::uint32_t kIniLockPollMs = 10;
}  // namespace

// A lock not had within the bound is said, and the caller writes without it:
// every write replaces the file whole, so the worst is a count another run
// raised at the same moment being lost, while not writing would let whoever
// keeps the lock (a stuck run, or anyone who may open the lock file) stop the
// counting that the thresholds rest on.
std::unique_ptr<HeldLock> lockIniForUpdate(RunContext& ctx, const std::string& file) {
    try {
        for (std::uint32_t waited = 0; waited < kIniLockWaitMs; waited += kIniLockPollMs) {
            if (auto held = ctx.sys.locks->TryLockFile(file)) return held;
            ctx.sys.clock->sleepMs(kIniLockPollMs);
        }
        WriteLog(ctx, "ERR : Preprocessing: No lock on " + file + " within " + std::to_string(kIniLockWaitMs / 1000) +
                          " seconds; it is updated without the lock");
    } catch (const RunError& e) {
        // No lock file can be made beside the INI file because its folder is
        // missing: there is no lock any run could hold. Any other refusal
        // means that runs may be updating the file side by side: say so.
        if (e.number != err::PathNotFound) {
            WriteLog(ctx, "ERR : Preprocessing: The lock on " + file + " cannot be taken (" + e.description +
                              "); it is updated without the lock");
        }
    }
    return nullptr;
}

std::string iniWrittenLine(const std::string& value, const std::string& key, const std::string& file) {
    return "MSG : Preprocessing: Successfully Written " + value + " to variable " + key + " to file " + file;
}

std::string GetSpecialfolder(RunContext& ctx) {
    std::string result;
    guarded([&] { result = leftText(ctx.sys.paths->ProgramFilesFolder(), 511); },
            [&](const RunError& e) {
                WriteLog(ctx, "ERR : " + std::to_string(e.number) + " (" + e.description +
                                  ") in procedure GetSpecialfolder of Module modMain");
                result.clear();
            });
    return result;
}

std::string GetShortpath(RunContext& ctx, const std::string& path) {
    std::string result;
    guarded([&] { result = ctx.sys.paths->ShortPath(path); },
            [&](const RunError& e) {
                WriteLog(ctx, "ERR : In GetShortpath. Err : " + std::to_string(e.number) + "::" + e.description);
                result.clear();
            });
    return result;
}

std::string logsFolder(const RunContext& ctx) { return ctx.strInstallPath + agent::kLogsFolder; }

std::string dropFolder(const RunContext& ctx) { return ctx.strInstallPath + agent::kDropFolder; }

std::string thresholdFile(const RunContext& ctx) { return ctx.strInstallPath + agent::kThresholdFile; }

std::string actionFolder(const RunContext& ctx) {
    return ctx.strInstallPath + agent::kActionsFolder + ctx.strActionName;
}

std::string processedScriptsFolder(const RunContext& ctx) {
    return actionFolder(ctx) + "\\" + agent::kProcessedScriptsFolder;
}
