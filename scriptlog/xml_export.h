// Parser of the XML (FB6LOG) export.
#pragma once

#include <string>

struct RunContext;

/// Reads the export line by line and adds each action whose status reads
/// "error" to the failure-description list, as soon as the row is complete.
/// strXMLDetArr is rebuilt with the failing rows (with their serial number
/// among all rows) as far as 64 KiB of their texts go; the other rows are
/// counted but not kept, and reading stops once the list is full, so memory
/// stays flat whatever the length of the export. An invalid declaration logs
/// "ERR : Invalid XML File" and changes nothing else.
void fncParseExportLogXML(RunContext& ctx, const std::string& exportPath, const std::string& mode = "0");

/// Sets lngXMLDetUBound when the name is exactly "strXMLDetArr".
void subGetArrUBound(RunContext& ctx, const std::string& arrayName);
