#pragma once
// Command lines as the desktop writes and reads them: one text, split into
// arguments by its quoting rules. Programs are always started from such a
// text split into arguments, never through a shell.

#include <functional>
#include <string>
#include <vector>

namespace hhsync {

// text as one argument of a command line: unchanged when it is not empty and
// holds no blank, tab or double quote; otherwise in double quotes, with each
// double quote and the backslashes right before a double quote (or before
// the closing quote) escaped so that SplitCommandLine gives text back.
std::string QuoteArgument(const std::string& text);

// Splits a command line the way the desktop does. The program name is
// everything between a leading pair of double quotes; otherwise it ends at a
// blank, where isProgram (when given) decides which blank: the successively
// longer blank-separated prefixes of the line are tried and the first that
// names a program is taken, so an unquoted path with blanks still starts;
// when none does, the first word is the name. In the arguments, blanks
// outside double quotes separate, 2n backslashes before a double quote give n
// backslashes and toggle quoting, 2n+1 give n backslashes and a literal
// double quote, a doubled quote inside quotes is a literal quote, and other
// backslashes are literal.
std::vector<std::string> SplitCommandLine(
    const std::string& commandLine,
    const std::function<bool(const std::string&)>& isProgram = nullptr);

// The command line a program was started with, as the run modes search it:
// everything after the program name, the arguments joined with one blank.
std::string JoinArguments(int argc, const char* const* argv);

// The program's name as its windows and message boxes are captioned: the
// file name of its path (either separator) without its extension; "hhsync"
// when that leaves nothing.
std::string ProgramCaptionOf(const std::string& programPath);

}  // namespace hhsync
