// Script details and their MD5 verification; the MD5 checksum service.
// May contain: a job's preparation; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Checks every script file of the job: present in its deploy mode's folder
/// and matching its MD5. Failures go into strFailureDesc.
/// Each file found is held (FileSystem::HoldFile) from before its checksum
/// until subReleaseScriptHolds, so that the runner reads what was verified;
/// where the MD5 library cannot read a held file, from right after it. A file
/// that cannot be held is said in the log, and the job goes on.
/// This is where text of the job list becomes a path: a file name holding
/// "?" (what a character without a form in the code page became) is "File
/// not found" without being looked up.
void subCompareCheksum(RunContext& ctx);

/// After the job's runner has ended: a script file held by subCompareCheksum
/// that is no longer the file that was verified (posix cannot forbid the
/// change, only find it) is an error of the job, "Postprocessing:" text in
/// strFailureDesc and an "ERR : " line. Then every hold is let go.
void subReleaseScriptHolds(RunContext& ctx);

/// MD5 of one file into strFileMD5; true when no checksum could be made.
bool fncGenerateChecksum(RunContext& ctx, const std::string& path);

/// Reads section/key of a profile file as a string (at most 254 characters).
std::string fncGetMD5BlockSize(RunContext& ctx, const std::string& section, const std::string& key,
                               const std::string& file);
