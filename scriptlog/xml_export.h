// Parser of the XML (FB6LOG) export.
// May contain: the reading of a script's logs; no system calls.
#pragma once

#include <string>

struct RunContext;

/// Reads the export line by line and adds each action whose status reads
/// "error" to the failure-description list, as soon as the row is complete.
/// Only the row being read is held, and reading stops once the list is full,
/// so memory stays flat whatever the length of the export. An invalid
/// declaration logs "ERR : Invalid XML File" and changes nothing else.
void fncParseExportLogXML(RunContext& ctx, const std::string& exportPath);
