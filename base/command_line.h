// The Windows command-line rules: how a command line names its program and
// how the C runtime splits the arguments after it; and the quoting of a
// program path so that the system finds it again.
// May contain: text functions only; nothing of the project, no system calls.
// Whether a file exists is asked of the caller, so both backends (and the
// stand-in runner) use the same rules over their own file systems.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace wincmd {

/// The arguments after the program name, split as the C runtime splits them:
/// blanks and tabs separate; quotes group; an even run of backslashes before
/// a quote gives half as many backslashes and the quote groups, an odd run
/// gives half of one fewer and a literal quote; "" inside quotes is a literal
/// quote; other backslashes are literal.
std::vector<std::string> splitArguments(std::string_view text);

/// The program name as the C runtime takes it (argv[0]): up to the closing
/// quote when the text opens with one (to the end when it has none), else up
/// to the first blank or tab; `rest` receives what follows.
std::string programToken(std::string_view text, std::string_view& rest);

/// What a program sees as its arguments in its raw command line (the
/// program name first): the text after the program token, without the
/// blanks and tabs that follow it.
std::string argumentsAfterProgram(std::string_view commandLine);

/// Whether a regular file exists at a Windows path (a folder does not count).
using FileExists = std::function<bool(const std::string& windowsPath)>;

/// The program of a command line as CreateProcess finds it without an
/// application name, leading blanks skipped: a quoted first token; else each
/// prefix that ends at a blank, then the whole line, is tried in turn
/// ("C:\Program", then "C:\Program Files\VSoft\...") and the first that names
/// an existing file (as spelled, or with ".exe" added when the name has no
/// extension) wins; when none exists, the first blank-delimited token.
/// Returns the Windows path; `rest` receives the command line after it.
std::string resolveProgram(std::string_view commandLine, std::string_view& rest, const FileExists& exists);

/// A program's path as the first token of a command line: in double quotes
/// when it holds a blank or a tab, as it stands otherwise. Without quotes the
/// system takes the path up to a blank as the program and tries
/// "C:\Program.exe" before "C:\Program Files\...\x.exe"; the short form of a
/// path has no blank, but a volume without short names gives the long one.
/// A Windows path never holds a double quote, so nothing inside needs escaping.
std::string commandLineProgram(std::string_view path);

}  // namespace wincmd
