// Webpost transport.
// May contain: the records and their transport; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Posts a record to its configured URL; the outcome is blnWebPostStatus.
void subGetWebPostScript(RunContext& ctx, const std::string& recordName, const std::string& xml);

/// Posts the XML to the URL through the webpost library (one retry after registering it).
void WebPost(RunContext& ctx, const std::string& xml, const std::string& url);

/// Starts the webpost library's registration (hidden, without waiting).
void RegisterDLL(RunContext& ctx);
