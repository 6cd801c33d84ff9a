// Parser of the HTML export.
#pragma once

#include <string>
#include <vector>

struct RunContext;

void fncParseExportLogHTML(RunContext& ctx, const std::string& exportPath, const std::string& mode = "0");
