// The agent's folders, files and registry key as this program names them:
// every path the program builds to them starts from these. Log lines that
// name a folder in their own words ("Posting the xml contents to HVRPostLogs")
// keep their text where they are written.
// May contain: names only.
#pragma once

namespace agent {

// The agent's registry key below HKEY_LOCAL_MACHINE: the installation path
// and the machine's identity. kRegistryKeyName is the key's own name, as the
// identity reader's log lines give it.
inline constexpr char kRegistryKey[] = "SOFTWARE\\KOVAOD";
inline constexpr char kRegistryKeyName[] = "KOVAOD";

// Below the installation path (which ends with "\").
inline constexpr char kApplicationLogFolder[] = "ApplicationLog";
inline constexpr char kRunLogFolder[] = "ApplicationLog\\kHVRLog";
inline constexpr char kLogsFolder[] = "AutomiseLogs";        // the runner's logs and a script's files
inline constexpr char kDropFolder[] = "HVRPostLogs";         // records waiting to be forwarded
inline constexpr char kConfigurationFolder[] = "Configuration";
inline constexpr char kScriptsFolder[] = "kScripts";
inline constexpr char kActionsFolder[] = "kHVR\\Tellix\\";   // + the action's name
inline constexpr char kProcessedScriptsFolder[] = "ProcessedScripts";  // below an action's folder
inline constexpr char kJobListFile[] = "KRNScripts.xml";               // below an action's folder
inline constexpr char kMd5Library[] = "KGnMD5.dll";
inline constexpr char kWebpostLibrary[] = "kWbPost.dll";

// The counters and thresholds of every run on the machine.
inline constexpr char kThresholdFile[] = "Configuration\\ATZThreshold.ini";
// The webpost URLs, one section per record name.
inline constexpr char kWebpostUrlFile[] = "Configuration\\kScriptDNS.ini";
// The same file as the pre-checks name it: their log line and failure text
// spell the folder in lower case. The file system ignores case, so both names
// find one file.
inline constexpr char kWebpostUrlFileChecked[] = "configuration\\kScriptDNS.ini";
// The run variables file handed to each script (the runner contract,
// context/atcmd.h, names its section and key), and the job lock beside it.
inline constexpr char kRunVariablesFile[] = "kScripts\\KOVAVariables.ini";
inline constexpr char kJobLockFile[] = "kScripts\\KOVAVariables.lock";

// The webpost library's class, as it is created by name.
inline constexpr char kWebpostClass[] = "kWbPost.WebPost";

// The script folder below the Program Files folder. The pre-checks and the
// clean-up name it with a capital M, the LOCAL-SYNC deploy mode with a small
// one; their log lines show each spelling, and the file system, which ignores
// case, finds one folder by both.
inline constexpr char kExMonScriptsFolder[] = "KOVAExMonScripts";
inline constexpr char kExMonScriptsLocalSync[] = "KOVAExmonScripts";

}  // namespace agent
