// Where the script runner (ATCMD) is installed, and everything this program
// passes to it and reads back from it, in one place: nothing else spells these texts.
// May contain: the run's shared state, its log and its configuration; no system calls.
#pragma once

#include <string_view>

namespace atcmd {

// Where the runner is installed.
inline constexpr std::string_view kRegistryKey = "SOFTWARE\\VSoft\\Automise\\3.0";
inline constexpr std::string_view kRegistryValue = "ATCMDLocation";

// The run variables file (agent::kRunVariablesFile) handed to the script
// before it starts: its section, and the key that names the export.
inline constexpr std::string_view kRunVariablesSection = "KOVAVariables";
inline constexpr std::string_view kExportLogNameKey = "AUTOMISELOGNAME";

// The argument string: " /B /L" + "log" + (" /B /A /P" | " /B /P") + "project" [+ " /V" + parameters].
inline constexpr std::string_view kLogSwitch = " /B /L";
inline constexpr std::string_view kInteractiveProjectSwitch = " /B /A /P";
inline constexpr std::string_view kDirectProjectSwitch = " /B /P";
inline constexpr std::string_view kParametersSwitch = " /V";

// Lines of the console log that the log assembly looks for.
inline constexpr std::string_view kExitText = "Exit with return code:";
inline constexpr std::string_view kExportXml = "[Export log as XML to file:";
inline constexpr std::string_view kExportText = "[Export log as Text to file:";
inline constexpr std::string_view kExportHtml = "[Export log as HTML to file:";
inline constexpr std::string_view kExportAny = "[Export log";
inline constexpr std::string_view kVariablesFileLine = "MSG : ***** Creating VTXVariables XML file ";

// Lines of the console log that the console-log parser knows.
inline constexpr std::string_view kProjectFile = "Project File:";
inline constexpr std::string_view kBuildStarted = "Build Started:";
inline constexpr std::string_view kElapsedTime = "Elapsed time:";
inline constexpr std::string_view kBuildFailed = "Build Failed";
inline constexpr std::string_view kRunFailed = "Run Failed";
inline constexpr std::string_view kBuildCompleted = "Build Completed";
inline constexpr std::string_view kRunCompleted = "Run Completed";
inline constexpr std::string_view kErrorMessage = "Error :";
inline constexpr std::string_view kExitWith = "Exit with";

}  // namespace atcmd
