// Script details of a job, their location and MD5 verification; the MD5 service.
// May contain: a job's preparation; no system calls.
#include "prepare/checksum.h"

#include "base/errors.h"
#include "base/text.h"
#include "context/agent_files.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "platform/filesystem.h"
#include "platform/md5.h"
#include "platform/profile.h"

namespace {

void markEntry(ScriptDetail& entry, const std::string& text, bool& jobError) {
    entry.Status = "ERROR";
    entry.ErrorText = text;
    jobError = true;
}

// The entry counter is a 16-bit integer; a job with more entries than it can
// count fails as the counter overflows.
constexpr std::size_t kMaxEntryIndex = 32767;

// At most so many script files of one job are held.
constexpr std::size_t kMaxHeldScripts = 256;

// A hold is a guard, not a check of the job: a file that cannot be held is
// still used, and the log says that it was not guarded.
std::unique_ptr<FileHold> holdScript(RunContext& ctx, const std::string& path) {
    try {
        return ctx.objFSO->HoldFile(path);
    } catch (const RunError& e) {
        WriteLog(ctx, "ERR : Preprocessing: Script file " + path + " cannot be held against change (" +
                          e.description + "); it is used unguarded");
    }
    return nullptr;
}

// The MD5 of a found file, with the file held from before the checksum
// (posix: its state as checked). A library that opens the file to itself
// fails while it is held: then the checksum is made once more unheld and the
// hold follows it, for this and every later file of the run, which leaves a
// window of one library call. True when no checksum could be made.
bool checksumHeld(RunContext& ctx, const std::string& path) {
    // Each hold keeps a descriptor open; a job of thousands of files must not
    // use up what the checksums and the run log need.
    if (ctx.job.arrScriptHolds.size() >= kMaxHeldScripts) {
        if (ctx.job.arrScriptHolds.size() == kMaxHeldScripts) {
            WriteLog(ctx, "ERR : Preprocessing: The job has more than " + std::to_string(kMaxHeldScripts) +
                              " script files; the rest are used unguarded");
            ctx.job.arrScriptHolds.push_back(HeldScript{});
        }
        return fncGenerateChecksum(ctx, path);
    }
    std::unique_ptr<FileHold> hold = ctx.blnHoldAfterChecksum ? nullptr : holdScript(ctx, path);
    const std::string failureBefore = ctx.strFailureDesc;
    bool noChecksum = fncGenerateChecksum(ctx, path);
    if (noChecksum && hold && hold->KeepsWritersOut()) {
        hold.reset();
        setFailure(ctx, failureBefore);
        noChecksum = fncGenerateChecksum(ctx, path);
        if (!noChecksum) {
            ctx.blnHoldAfterChecksum = true;
            WriteLog(ctx, "MSG : Preprocessing: The MD5 library cannot read a held script file; from now on each "
                          "file is held right after its checksum");
        }
    }
    if (!hold && !noChecksum) hold = holdScript(ctx, path);
    if (hold) ctx.job.arrScriptHolds.push_back(HeldScript{path, std::move(hold)});
    return noChecksum;
}

// The location of an entry, from its file mode; an unknown mode gives none.
void setEntryLocation(RunContext& ctx, ScriptDetail& entry) {
    const std::string mode = upperAscii(trimBlanks(entry.FileMode));
    if (mode == "LOCAL-SYNC") {
        const std::string strSystemDirectory = GetShortpath(ctx, GetSpecialfolder(ctx));
        WriteLog(ctx, "MSG : Preprocessing: System directory :: " + strSystemDirectory);
        entry.Location = strSystemDirectory + "\\" + agent::kExMonScriptsLocalSync;
    } else if (mode == "FTP" || mode == "HTTP" || mode == "HTTPS") {
        entry.Location = processedScriptsFolder(ctx);
        WriteLog(ctx, "MSG : Preprocessing: KOVA Processed Scripts :: " + entry.Location);
    }
}

// True when the entry lacks a checksum, a location or a mode; it is then
// marked with what it lacks, or left unchecked when only its mode is unknown.
bool markedIncomplete(ScriptDetail& entry, bool primary, bool& jobError) {
    // The raw mode is tested untrimmed here; a mode of blanks is caught
    // because it selects no location.
    if (!trimBlanks(entry.Checksum).empty() && !trimBlanks(entry.Location).empty() && !entry.FileMode.empty()) {
        return false;
    }
    if (trimBlanks(entry.ScriptFile).empty()) {
        markEntry(entry, primary ? "The Script Name to execute is blank" : "The additional script name is blank",
                  jobError);
    } else if (trimBlanks(entry.Checksum).empty()) {
        markEntry(entry,
                  (primary ? "Checksum is blank for the execution script "
                           : "Checksum is blank for the additional script ") +
                      entry.Location,
                  jobError);
    } else if (trimBlanks(entry.FileMode).empty()) {
        markEntry(entry,
                  (primary ? "Deploy Mode is blank for the execution script "
                           : "Deploy Mode is blank for the additional script ") +
                      entry.Location,
                  jobError);
    }
    // Otherwise an unknown mode: the entry is deliberately left unchecked.
    return true;
}

// A complete entry: its file must lie in its location, and its MD5 must be
// the one the job carries.
void checkEntryFile(RunContext& ctx, ScriptDetail& entry, bool primary, bool& jobError) {
    const std::string path = entry.Location + "\\" + entry.ScriptFile;
    WriteLog(ctx, "MSG : Preprocessing: Checking for file " + path);
    // "?" is what the job list's reader leaves for a character the
    // code page has no form for. No Windows file name holds one, so
    // such a name is not looked up: Windows could take it as a
    // pattern, and posix as another file. A name that leads out of
    // the deploy folder (by "..", or through a link or junction
    // below it) names no script of this job either.
    bool found = false;
    if (entry.ScriptFile.find('?') == std::string::npos) {
        try {
            found = ctx.objFSO->FileExistsInside(entry.Location, path);
        } catch (const RunError& e) {
            if (e.number != err::PathAccess) throw;
        }
    }
    if (!found) {
        markEntry(entry, "File not found " + path, jobError);
        return;
    }
    if (primary) {
        ctx.job.strPrimaryScriptPath = path;
        ctx.job.strExecuteScript = entry.ScriptFile;
        ctx.job.strPrimaryScriptFolder = entry.Location;
        WriteLog(ctx, "MSG : Preprocessing: Primary Script :: " + ctx.job.strPrimaryScriptPath);
    }
    entry.Location = entry.Location + "\\" + entry.ScriptFile;
    // No checksum at all: the MD5 service has already said why in strFailureDesc.
    if (checksumHeld(ctx, entry.Location)) return;

    const std::string expected = lowerAscii(trimBlanks(entry.Checksum));
    const std::string actual = lowerAscii(trimBlanks(ctx.job.strFileMD5));
    if (expected != actual) {
        markEntry(entry,
                  "MD5 signature of local file " + entry.Location +
                      " does not tally with the template information. Template MD5:" + expected +
                      " and local file MD5:" + actual,
                  jobError);
    }
}

}  // namespace

void subCompareCheksum(RunContext& ctx) {
    guarded(
        [&] {
            if (trimBlanks(ctx.job.strExecuteScript).size() < 7) {
                setFailure(ctx, "Preprocessing:Scriptname to execute is blank");
                WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
                return;
            }

            if (!trimBlanks(ctx.job.strAdditionalScripts).empty()) {
                ctx.job.strAdditionalScripts = ctx.job.strExecuteScript + "#&#" + ctx.job.strAdditionalScripts;
            } else {
                ctx.job.strAdditionalScripts = ctx.job.strExecuteScript;
            }
            const std::vector<std::string> parts = splitText(ctx.job.strAdditionalScripts, "#&#");

            ctx.job.arrScriptDetails.clear();
            ctx.job.arrScriptHolds.clear();
            ctx.job.strPrimaryScriptPath.clear();
            ctx.job.strPrimaryScriptFolder.clear();
            bool jobError = false;

            for (std::size_t i = 0; i < parts.size(); ++i) {
                if (i > kMaxEntryIndex) throw runError(err::Overflow);
                ctx.job.arrScriptDetails.emplace_back();
                ScriptDetail& entry = ctx.job.arrScriptDetails.back();
                const bool primary = i == 0;

                const std::vector<std::string> fields = splitText(trimBlanks(parts[i]), "@#@");
                if (fields.size() != 3) continue;
                entry.FileMode = fields[0];
                entry.ScriptFile = fields[1];
                entry.Checksum = fields[2];
                WriteLog(ctx, "MSG : Preprocessing: [ScriptDetails " + std::to_string(i) + "] File Mode:" +
                                  entry.FileMode + "; " + "ScriptFile:" + entry.ScriptFile +
                                  "; Checksum:" + entry.Checksum);

                setEntryLocation(ctx, entry);
                if (markedIncomplete(entry, primary, jobError)) continue;
                checkEntryFile(ctx, entry, primary, jobError);
            }

            if (!jobError) return;
            for (const ScriptDetail& entry : ctx.job.arrScriptDetails) {
                if (trimBlanks(entry.Status) != "ERROR") continue;
                addFailureLine(ctx, entry.ErrorText, "Preprocessing:");
            }
            WriteLog(ctx, "ERR : " + ctx.strFailureDesc);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in subCompareCheksum. " + std::to_string(e.number) + "::" + e.description);
        });
}

void subReleaseScriptHolds(RunContext& ctx) {
    guarded(
        [&] {
            for (const HeldScript& held : ctx.job.arrScriptHolds) {
                if (!held.hold || held.hold->Unchanged()) continue;
                const std::string text = "Postprocessing:Script file " + held.path +
                                         " was changed while the script ran; the script may have run something else";
                WriteLog(ctx, "ERR : " + text);
                addFailureLine(ctx, text);
            }
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : in subReleaseScriptHolds. " + std::to_string(e.number) + "::" + e.description);
        });
    // Every hold is let go, also after an error above.
    ctx.job.arrScriptHolds.clear();
}

bool fncGenerateChecksum(RunContext& ctx, const std::string& path) {
    bool result = false;
    guarded(
        [&] {
            result = false;
            ctx.job.strFileMD5.clear();
            WriteLog(ctx, "MSG : Preprocessing: Getting MD5 checksum of : " + path);
            // Without the library the call cannot even be made, as when the DLL is missing.
            if (ctx.sys.md5 == nullptr) {
                throw runError(err::FileNotFound, agent::kMd5Library);
            }
            Md5Library& library = *ctx.sys.md5;

            std::string md5, size, error;
            if (library.KGetMD5(path, md5, size, error) == 0) {
                // The block size matters only to the block-wise call, so it is read only now.
                const std::string blockSize =
                    fncGetMD5BlockSize(ctx, "BlockSize", "Size", ctx.strInstallPath + "MDCSFileList.ini");
                if (library.KGetMD5WBlock(path, blockSize, md5, size, error) == 0) {
                    result = true;
                    const std::string text = "Failed to Get MD5 checksum for File " + path + " Error = " +
                                             trimBlanks(error) + " with " + blockSize + " KB Block Size";
                    WriteLog(ctx, "ERR : " + text);
                    setFailure(ctx, "MD5: " + text);
                }
            }
            WriteLog(ctx, "MSG : Preprocessing: Filesize : " + size + " Bytes for " + path);
            WriteLog(ctx, "MSG : Preprocessing: FileMD5CheckSum : " + md5 + " for " + path);
            ctx.job.strFileMD5 = md5;
            if (!trimBlanks(ctx.job.strFileMD5).empty()) result = false;
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncGenerateChecksum. " + std::to_string(e.number) + " " + e.description);
            // "File not found" is all the runtime says of a library that is there
            // but cannot be loaded (one of the wrong bitness, say): the system's
            // reason goes beside it.
            if (e.systemError != 0) {
                WriteLog(ctx, "ERR : fncGenerateChecksum. " + std::string(agent::kMd5Library) +
                                  " could not be loaded: " + launcher::fncFormatMessage(ctx, e.systemError));
            }
            setFailure(ctx, "Preprocessing:GenerateChecksum:" + e.description);
            result = true;
        });
    return result;
}

std::string fncGetMD5BlockSize(RunContext& ctx, const std::string& section, const std::string& key,
                               const std::string& file) {
    return ctx.sys.profile->GetString(section, key, "", 255, file);
}
