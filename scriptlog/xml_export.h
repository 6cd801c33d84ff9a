// Parser of the XML (FB6LOG) export.
#pragma once

#include <string>

struct RunContext;

void fncParseExportLogXML(RunContext& ctx, const std::string& exportPath, const std::string& mode = "0");

/// Sets lngXMLDetUBound when the name is exactly "strXMLDetArr".
void subGetArrUBound(RunContext& ctx, const std::string& arrayName);
