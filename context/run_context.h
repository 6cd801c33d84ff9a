// The run context: every variable one run shares between its procedures,
// named as the procedures know them. One instance per run.
// May contain: the run's shared state, its log and its configuration; no system calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
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
    explicit RunContext(const Platform& p) : sys(p), objFSO(p.fs) { sys.fs = nullptr; }

    /// The operating-system services. Its file system is taken out into
    /// objFSO, the one name every step uses for it (a test swaps objFSO).
    Platform sys;

    // ---- The run: set before the first job, kept until the run ends. ----

    // Process-wide objects: start-up opens and releases them; every step uses them.
    FileSystem* objFSO = nullptr;
    std::unique_ptr<TextStream> objLogFile;

    // Installation and identity: start-up and the configuration write them once; the records read them.
    std::string strInstallPath;
    std::string strRegID;
    std::string strMemberID;
    std::string strSiteID;
    std::string strRegType;
    std::string strExeVersion;
    std::string strFileVersion;
    std::string strStartTime;

    // Command line: start-up writes it; the job list and the action status record read it.
    std::string strCmdTemplateID;
    std::string strCmdTemplateVersion;
    std::string strActionName;

    // Job list: the job list writes it; start-up walks it one job at a time.
    std::vector<std::string> arrScripts;

    // Run-wide outcome: any failing step writes it; the job driver and both status records read it.
    /// Never cleared between jobs: once one job fails, every later job of the
    /// run is only reported with this text, and the action status carries it.
    /// Written only through the failure operations below this struct, whose
    /// comment follows the text through a run.
    std::string strFailureDesc;

    // Runner discovery: the pre-checks write the registry value; each script run reads it.
    /// Kept as the registry gave it: each script run makes its own short form.
    std::string strATCMDLocation;

    // Webpost results: the transport writes them; the template status reads the last outcome.
    bool blnWebPostStatus = false;
    std::string strWebPostResponse;
    bool blnDllRegistered = false;

    // Carried from job to job: the step named beside each writes it, and a later job reads what an earlier one left.
    /// The script log sets them and nothing sets them back: a kind of export
    /// seen in one job stays seen, and every later template status reads it.
    bool blnExportHTML = false;
    bool blnExportXML = false;
    bool blnExportText = false;
    /// The threshold step rereads it from ATZThreshold.ini as each job
    /// starts; a job whose read fails keeps the last value read, and the
    /// variables post and the failure descriptions count against that.
    std::string strVTXVariablesTh;
    /// Set once ATZThreshold.ini has reached its size bound and said so.
    bool blnCounterFileFull = false;
    /// Set once the MD5 library has shown that it cannot read a held file:
    /// from then on each file is held right after its checksum.
    bool blnHoldAfterChecksum = false;
    /// The run's one random generator (24-bit linear congruential, never seeded).
    std::uint32_t rndSeed = 327680;
    /// A locked workstation seen by any job of this run: the process watch
    /// reads it to word the failure of a runner it had to stop.
    bool blnDesktopLocked = false;

    // ---- One job: the job driver starts each job with all three afresh. ----

    // The job and its preparation: the job driver and the preparing steps write it; the steps of the job read it.
    struct Job {
        // The job string and its ten fields, as the job driver split them.
        std::vector<std::string> arrJobParams;
        std::string strTemplateID;
        std::string strTemplateVersion;
        std::string strScriptID;
        std::string strScriptVersion;
        /// The primary script's details; the checksum step replaces them with
        /// the script's file name once it has found the file.
        std::string strExecuteScript;
        /// Further scripts' details; the checksum step puts the primary's in front.
        std::string strAdditionalScripts;
        std::string strProcessTime;
        std::string strDownloadTime;
        std::string strContext;
        /// The job's own runner parameters; the script run appends them to the
        /// argument string it passes on and leaves this field as the job gave it.
        std::string strCmdParameters;

        // Script files: the checksum step writes them; the script run reads the primary's.
        std::string strPrimaryScriptPath;
        std::string strPrimaryScriptFolder;
        std::string strFileMD5;
        std::vector<ScriptDetail> arrScriptDetails;
        std::vector<HeldScript> arrScriptHolds;
        /// Read from ATZThreshold.ini by the threshold step, for its own log lines and defaults.
        std::string strScriptFailureTh;
        std::string strThresholdDate;
    } job;

    // The script's result: the script log writes it; the template status reads it and clears it.
    struct ScriptResult {
        std::string strScriptStatus;
        std::string strExitLine;
        std::string strActionDescList;
    } script;

    // The launch: the script run and the desktop test write these and read them back.
    struct Launch {
        std::string strATCMDLogFile;
        bool blnScreenSaverRunning = false;
        /// Only for the "Error with SwitchDesktop" line of the desktop test.
        std::int32_t lngSwitchDesktopError = 0;
    } launch;
};

// The failure text's life. strFailureDesc is at once the run's "has failed"
// mark (empty, trimmed, means success so far) and the text the records carry.
// A run meets its writers in this order:
//   before any job (each stops every job from running)
//     the registry identity, the pre-checks (the runner's too), the job list    setFailure
//     the start-up, when the job list yields no job                             setFailure
//   each job
//     the driver: a job string of the wrong shape (the run then ends)           setFailure
//     the checksum step: a file missing or not matching its MD5                 setFailure, addFailureLine
//       (and, before a checksum it tries again, the text it held)               setFailure
//     the script run: primary script missing, or its names refused              setFailure
//     the launcher and the process watch: a runner that failed or overran       setFailure
//     the script log: the console log missing or empty                          setFailure
//     the script run: the script's logs have been read                          clearFailure
//     the script run: the launch failed, and no step has said why               setFailure
//     the release of the script files: a file changed while the script ran      addFailureLine
//     the template status: the exit line and the failing actions                extendFailure, setFailure
//     the driver, once the job is reported: the generic text the run carries    replaceFailure
//   after the jobs
//     the action status record reports it.

/// A step failed: the text says why, in place of whatever it held.
inline void setFailure(RunContext& ctx, std::string text) { ctx.strFailureDesc = std::move(text); }

/// One more failing item: the first (the text blank so far) starts the text
/// with `firstPrefix`; each later one goes on a line of its own.
inline void addFailureLine(RunContext& ctx, std::string_view line, std::string_view firstPrefix = {}) {
    if (trimBlanks(ctx.strFailureDesc).empty()) {
        ctx.strFailureDesc = std::string(firstPrefix) + std::string(line);
    } else {
        ctx.strFailureDesc += "\r\n" + std::string(line);
    }
}

/// More of the same failure at the end, as far as kTextBound allows: the
/// pieces come from the script's output.
inline void extendFailure(RunContext& ctx, std::string_view more) { appendBounded(ctx.strFailureDesc, more); }

/// The script's own logs now say how it went: an earlier step's text is dropped.
inline void clearFailure(RunContext& ctx) { ctx.strFailureDesc.clear(); }

/// A reported job's detailed text gives way to the generic one the run
/// carries on; an empty text stays empty.
inline void replaceFailure(RunContext& ctx, std::string text) {
    if (!ctx.strFailureDesc.empty()) ctx.strFailureDesc = std::move(text);
}
