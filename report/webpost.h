// Webpost transport and the drop folder.
#pragma once

#include <string>

struct RunContext;

/// Posts a record to its configured URL; the outcome is blnWebPostStatus.
void subGetWebPostScript(RunContext& ctx, const std::string& recordName, const std::string& xml);

/// Posts the XML to the URL through the webpost library (one retry after registering it).
void WebPost(RunContext& ctx, const std::string& xml, const std::string& url);

/// Starts the webpost library's registration (hidden, without waiting).
void RegisterDLL(RunContext& ctx);

/// The drop steps: writes the record as AutomiseLogs\<name>.vx<pid>.tmp and
/// places it into HVRPostLogs\<name>, name = R + "_N_" + RegID + "_" +
/// MMDDYYYYHHNNSSS + ".xml". A name already taken, found so or lost to
/// another writer at the last moment, is never replaced: the drop waits for
/// the next second and takes its name. File errors are raised to the caller.
/// `label` names the record in the log.
void subDropRecord(RunContext& ctx, const std::string& recordName, const std::string& xml, const std::string& label);

/// Places a copy of an existing file of AutomiseLogs (read through a confined
/// handle, since a script may put a link there) into HVRPostLogs\<fileName> so
/// that no reader ever sees it half-written: it is copied to this process's own
/// temporary name there (not ending in ".xml") and renamed without replacing.
/// Raises 58 when a file of that name is there already (nothing is left
/// behind then), and any other file error as it comes.
void placeIntoPostLogs(RunContext& ctx, const std::string& sourcePath, const std::string& fileName);
