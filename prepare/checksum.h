// Script details and their MD5 verification; the MD5 checksum service.
#pragma once

#include <string>

struct RunContext;

/// Checks every script file of the job: present in its deploy mode's folder
/// and matching its MD5. Failures go into strFailureDesc.
/// This is where text of the job list becomes a path: a file name holding
/// "?" (what a character without a form in the code page became) is "File
/// not found" without being looked up.
void subCompareCheksum(RunContext& ctx);

/// MD5 of one file into strFileMD5; true when no checksum could be made.
bool fncGenerateChecksum(RunContext& ctx, const std::string& path);

/// Reads section/key of a profile file, as a number's decimal text when
/// `asNumber`, else as a string (at most 254 characters).
std::string fncGetMD5BlockSize(RunContext& ctx, const std::string& section, const std::string& key,
                               const std::string& file, bool asNumber);
