// Parser of the XML (FB6LOG) export.
#pragma once

#include <string>

struct RunContext;

/// Reads the export line by line and adds each action whose status reads
/// "error" to the failure-description list. strXMLDetArr is rebuilt with the
/// rows the failure pass can take (failing actions, with their serial number
/// among all rows); the other rows are counted but not kept, so memory follows
/// the failures and not the length of the export. An invalid declaration
/// logs "ERR : Invalid XML File" and changes nothing else.
void fncParseExportLogXML(RunContext& ctx, const std::string& exportPath, const std::string& mode = "0");

/// Sets lngXMLDetUBound when the name is exactly "strXMLDetArr".
void subGetArrUBound(RunContext& ctx, const std::string& arrayName);
