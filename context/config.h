// Configuration sources: the registry, profile (INI) files and shell paths.
// May contain: the run's shared state, its log and its configuration; no system calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"

struct RunContext;
class HeldLock;

/// Reads a value of `subkey` under `hive`: type 1 a string, 4 a number as
/// decimal text; "" when the key or value cannot be read.
std::string ReadReg(RunContext& ctx, RegHandle hive, const std::string& subkey, const std::string& valueName,
                    std::int16_t valueType);

/// Reads the machine's identity (MEMBERID, SITEID, TYPE) and validates it.
bool fncGetRegInfo(RunContext& ctx);

/// The string value of an open key; "" (and a log line on failure) otherwise.
std::string GetRegValue(RunContext& ctx, RegHandle key, const std::string& keyName, const std::string& valueName);

/// The buffer fncReadINI hands the profile call, in characters.
inline constexpr std::uint32_t kReadINIBuffer = 555;

/// Reads section/key of an INI file into `value` (at most 554 characters);
/// returns the number of characters read. Nothing is logged.
std::int32_t fncReadINI(RunContext& ctx, std::string& value, const std::string& section, const std::string& key,
                        const std::string& file);

/// Writes key=value into an INI file; logs its success. Always returns 0.
std::int32_t fncWriteINI(RunContext& ctx, const std::string& section, const std::string& key,
                         const std::string& value, const std::string& file);

/// Takes the lock that makes a read-change-write of an INI file one step
/// across the processes of the machine. Another process holds it only for
/// its own read-change-write, so the wait is short and bounded (a minute);
/// nullptr when there is no lock to hold (the lock file cannot be made, or
/// the wait ran out): the caller then goes on unguarded, as one process alone
/// would. A wait that ran out writes an "ERR : " line naming the file.
/// Release by destroying the result.
std::unique_ptr<HeldLock> lockIniForUpdate(RunContext& ctx, const std::string& file);

/// The line fncWriteINI logs after a successful write; also used by the
/// parsers that write several counters at once.
std::string iniWrittenLine(const std::string& value, const std::string& key, const std::string& file);

/// The Program Files folder without a trailing "\"; "" on failure.
std::string GetSpecialfolder(RunContext& ctx);

/// The short form of an existing path, whole whatever its length (a cut
/// path would name another file); "" when it does not exist.
std::string GetShortpath(RunContext& ctx, const std::string& path);

/// strInstallPath + "AutomiseLogs": where the runner writes a script's logs
/// and files, and so the one folder whose files a script's output may name.
/// Such a file is used only through the confined operations of objFSO.
std::string logsFolder(const RunContext& ctx);

/// strInstallPath + "HVRPostLogs": the drop folder, where records wait to be
/// forwarded.
std::string dropFolder(const RunContext& ctx);
/// strInstallPath + "Configuration\ATZThreshold.ini": the thresholds and
/// the counters of variables and failures.
std::string thresholdFile(const RunContext& ctx);

/// strInstallPath + "kHVR\Tellix\" + the action's name: the folder of the
/// action's job list.
std::string actionFolder(const RunContext& ctx);

/// The action's folder + "\ProcessedScripts": where its deployed scripts lie.
std::string processedScriptsFolder(const RunContext& ctx);
