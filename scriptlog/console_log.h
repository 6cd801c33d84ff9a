// Parser of the runner's own console log.
// May contain: the reading of a script's logs; no system calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct RunContext;

/// A text taken from a batch of lines: a view while the batch lasts, a copy
/// once it is kept past it.
struct HeldText {
    std::string_view view;
    std::string copy;
    bool copied = false;
};

/// What the console-log parser gathers while the log is read, a batch of
/// lines at a time, kept apart from the run context until finishCmdLog
/// applies it: the dispatch hands it the lines it reads anyway, so a log is
/// read once, and drops it when an export is parsed instead. Memory stays
/// flat: only the action being read is held (its name and message kept to
/// 64 KiB), and the failure-description list it extends is bounded the same way.
struct CmdLogParse {
    std::string list;          // strActionDescList with this log's failed actions added
    bool listWasBlank = true;  // the list held nothing but blanks when the parse began
    bool listFull = false;     // the list was cut at its bound: it takes nothing more
    bool haveAction = false;
    bool actionFailed = false;  // the current action's last message line began "Error :"
    // The current action as read; its apostrophes are doubled when it is
    // reported, since most actions never are.
    HeldText actionName;                        // between the brackets
    std::string messageKept;        // message lines kept past their batch, joined by CR LF
    bool messageIsSuccess = false;  // the message is exactly "Success"
    bool endSeen = false;
    HeldText lines[2];  // the last two lines read, as read (lines counted from 0, each at lines[its number % 2])
    std::size_t lineCount = 0;
};

/// A parse that extends the run's failure-description list as it stands now.
CmdLogParse beginCmdLog(const RunContext& ctx);

/// Takes the next lines of the console log, as read (untrimmed), in order.
/// Nothing of them is held as a view past the call.
void cmdLogLines(CmdLogParse& parse, const std::string_view* lines, std::size_t count);

/// Applies the parse to the script result: the failure-description list, and
/// the status and exit line from the end of the log. Raises err::SubscriptRange
/// where a line before the last is needed and the log has none (an empty log,
/// one line), after the list was set, as the caller's handler reports it.
void finishCmdLog(RunContext& ctx, CmdLogParse& parse);

/// The last line read (`n` = 0) or the one before it (`n` = 1); "" when there is none.
std::string_view cmdLogLastLine(const CmdLogParse& parse, std::size_t n);

/// Reads the console log once and fills the script result from it (the three
/// steps above). Raises RunError on the cases the caller's handler reports.
/// Kept for tests and benches: the run itself feeds the steps from the dispatch's one read.
void fncParseCMDLog(RunContext& ctx, const std::string& consoleLogPath);
