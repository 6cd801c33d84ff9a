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

/// The drop steps: writes the record as AutomiseLogs\<name> and places it into
/// HVRPostLogs\<name>, name = R + "_N_" + RegID + "_" + MMDDYYYYHHNNSSS + ".xml".
/// File errors are raised to the caller. `label` names the record in the log.
void subDropRecord(RunContext& ctx, const std::string& recordName, const std::string& xml, const std::string& label);

/// Places an existing file of AutomiseLogs (copied through a confined handle)
/// into HVRPostLogs\<fileName> so that no reader ever
/// sees it half-written: it is copied to a temporary name there (not ending in
/// ".xml") and renamed. With `replace` an existing drop of that name is
/// replaced; without it, the caller has chosen a free name. Raises on failure.
void placeIntoPostLogs(RunContext& ctx, const std::string& sourcePath, const std::string& fileName, bool replace);
