// Parser of the runner's own console log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct RunContext;

/// What the console-log parser gathers while the log is read, a line at a
/// time, kept apart from the run context until finishCmdLog applies it: the
/// dispatch feeds it the lines it reads anyway, so a log is read once, and
/// drops it when an export is parsed instead. Memory stays flat: only the
/// action being read is held (its name and message cut at 64 KiB), and the
/// failure-description list it extends is bounded the same way.
struct CmdLogParse {
    std::string list;          // strActionDescList with this log's failed actions added
    bool listWasBlank = true;  // the list held nothing but blanks when the parse began
    bool listFull = false;     // the list was cut at its bound: it takes nothing more
    bool haveAction = false;
    bool actionFailed = false;  // the current action's last message line began "Error :"
    // The current action as read, kept to 64 KiB; its apostrophes are doubled
    // when it is reported.
    std::string actionName;     // between the brackets
    std::string actionMessage;  // message lines, trimmed, joined by CR LF
    bool endSeen = false;
    std::string last, secondLast;  // the last two lines read, as read
    std::size_t lineCount = 0;
};

/// A parse that extends the run's failure-description list as it stands now.
CmdLogParse beginCmdLog(const RunContext& ctx);

/// Takes one line of the console log, as read (untrimmed).
void cmdLogLine(CmdLogParse& parse, std::string_view line);

/// Applies the parse to the script result: the failure-description list, and
/// the status and exit line from the end of the log. Raises RunError 9 where
/// a line before the last is needed and the log has none (an empty log, one
/// line), after the list was set, as the caller's handler reports it.
void finishCmdLog(RunContext& ctx, CmdLogParse& parse);

/// Reads the console log once and fills the script result from it (the three
/// steps above). Raises RunError on the cases the caller's handler reports.
void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath, const std::string& mode);
