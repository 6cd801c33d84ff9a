// The run context: every variable one run shares between its procedures,
// named as the procedures know them. One instance per run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/platform.h"

/// One entry of a job's script details (deploy mode, file, checksum).
struct ScriptDetail {
    std::string ScriptFile;
    std::string Checksum;
    std::string FileMode;
    std::string Status;
    std::string ErrorText;
    std::string Location;
};

/// A verified script file of the current job, held until its runner has ended.
/// One without a hold marks where a job of too many files stopped holding them.
struct HeldScript {
    std::string path;
    std::unique_ptr<FileHold> hold;
};

struct RunContext {
    explicit RunContext(const Platform& p) : sys(p), objFSO(p.fs) {}

    Platform sys;

    // Process-wide objects.
    FileSystem* objFSO = nullptr;
    std::unique_ptr<TextStream> objLogFile;

    // Installation and identity.
    std::string strInstallPath;
    std::string strRegID;
    std::string strMemberID;
    std::string strSiteID;
    std::string strRegType;
    std::string strExeVersion;
    std::string strFileVersion;
    std::string strStartTime;

    // Command-line fields.
    std::string strCmdTemplateID;
    std::string strCmdTemplateVersion;
    std::string strActionName;

    // Job list and current job.
    std::vector<std::string> arrScripts;
    std::vector<std::string> arrJobParams;
    std::string strTemplateID;
    std::string strTemplateVersion;
    std::string strScriptID;
    std::string strScriptVersion;
    std::string strExecuteScript;
    std::string strAdditionalScripts;
    std::string strProcessTime;
    std::string strDownloadTime;
    std::string strContext;
    std::string strCmdParameters;
    std::string strVariablesFile;

    // Outcome of the run and of the current job.
    std::string strFailureDesc;

    // Webpost results.
    bool blnWebPostStatus = false;
    std::string strWebPostResponse;
    bool blnDllRegistered = false;

    // Script preparation.
    std::string strPrimaryScriptPath;
    std::string strPrimaryScriptFolder;
    std::string strFileMD5;
    std::string strRandomNo;
    std::string strVariablesXML;
    std::string strVTXVariablesTh;
    std::string strScriptFailureTh;
    std::string strThresholdDate;
    /// Set once ATZThreshold.ini has reached its size bound and said so.
    bool blnCounterFileFull = false;
    std::string strSystemDirectory;
    std::vector<ScriptDetail> arrScriptDetails;
    std::vector<HeldScript> arrScriptHolds;
    /// Set once the MD5 library has shown that it cannot read a held file:
    /// from then on each file is held right after its checksum.
    bool blnHoldAfterChecksum = false;
    /// The run's one random generator (24-bit linear congruential, never seeded).
    std::uint32_t rndSeed = 327680;

    // Script result.
    std::string strScriptStatus;
    std::string strExitLine;
    std::string strActionDescList;
    bool blnExportHTML = false;
    bool blnExportXML = false;
    bool blnExportText = false;

    // Script execution.
    std::string strATCMDLocation;
    std::string strATCMDLogFile;
    bool blnDesktopLocked = false;
    bool blnScreenSaverRunning = false;
    /// Only for the "Error with SwitchDesktop" line of the desktop test.
    std::int32_t lngSwitchDesktopError = 0;
};
