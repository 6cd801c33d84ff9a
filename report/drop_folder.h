// The drop folder (HVRPostLogs).
// May contain: the records and their transport; no system calls.
#pragma once

#include <string>

struct RunContext;
struct RunError;

/// The drop steps: places the record (one line and CR LF) into
/// HVRPostLogs\<name>, name = `recordName` + "_N_" + RegID + "_" +
/// MMDDYYYYHHNNSSS + ".xml", through placeIntoPostLogs; nothing is written
/// anywhere else. A name already taken, found so or lost to another writer at
/// the last moment, is never replaced: the drop waits for the next second and
/// takes its name. Any other failure is logged as the loss of the record and raised
/// to the caller. `label` names the record in the log.
void subDropRecord(RunContext& ctx, const std::string& recordName, const std::string& xml, const std::string& label);

/// Places `text` into HVRPostLogs under the name `own`, or, when a record
/// still waiting there has it, under the first free name "<stem>_<number><ending>"
/// (numbers from 1; a name without an ending gets "_<number>" at its end): a record is
/// never replaced before it has been forwarded. A name found free may be
/// taken a moment later by another run; the claim then fails and the next
/// name is tried. Any other failure is logged as the loss and raised.
void dropUnderOwnName(RunContext& ctx, const std::string& own, const std::string& text);

/// Writes `text` into HVRPostLogs\<fileName> with PlaceNewFile, through this
/// process's own partial name in that folder (not ending in ".xml", so the
/// forwarding component never takes it), and once the file is there logs
/// "Copying <partial> to <target>". Returns the partial file's path. Raises
/// err::FileExists when the name is taken, logging nothing; any other failure is logged
/// (logDropLost) and raised.
std::string placeIntoPostLogs(RunContext& ctx, const std::string& fileName, const std::string& text);

/// Logs that the record that was to be HVRPostLogs\<fileName> could not be
/// dropped, and so is lost, with the error that stopped it.
void logDropLost(RunContext& ctx, const std::string& fileName, const RunError& error);
