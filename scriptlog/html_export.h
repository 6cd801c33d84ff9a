// Parser of the HTML export.
// May contain: the reading of a script's logs; no system calls.
#pragma once

#include <array>
#include <string>
#include <vector>

struct RunContext;

/// The action table of one HTML export: per row of the page's second table,
/// columns 0-5 from the row's first six cells and column 6 the output text of
/// the row that follows it.
using HTMLActionTable = std::vector<std::array<std::string, 7>>;

/// Takes the second table of the export's body apart and adds each row whose
/// status reads "error" to the failure-description list, as splitting the
/// whole page would; the file is read in two streaming passes, a row is kept
/// to kMaxLineBytes, the output text of a row is worked on only when the row
/// before it fails, and the second pass stops once the list is full. Any
/// failure ends the parse with one log line; what was added before stays.
void fncParseExportLogHTML(RunContext& ctx, const std::string& exportPath);

/// Fills row `intIndex` of `arrHTMLActions` from one row of the action table,
/// or, for an output row, column 6 of the row before it. Raises
/// err::SubscriptRange for an output row with no row before it.
void subParseHTMLActionRow(RunContext& ctx, HTMLActionTable& arrHTMLActions, const std::string& strRow,
                           int intIndex);
