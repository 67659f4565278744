#pragma once
// What `hhsync --help` and `hhsync --version` print. The run modes are
// chosen by switches found anywhere in the command line, so these two are
// recognised only as the one and only argument, before a mode is chosen.

#include <string>

namespace hhsync {

enum class InfoRequest { kNone, kHelp, kVersion };

// kHelp or kVersion when args (everything after the program name) is exactly
// one argument "--help" or "--version"; kNone for every other command line.
InfoRequest InfoRequestOf(int argc, const char* const* argv);

// The usage: the modes, the environment, the exit statuses.
std::string UsageText(const std::string& program);

// "<program> <version>".
std::string VersionText(const std::string& program);

// Prints the usage or the version to standard output when the command line
// asks for one; true when it did (the run then ends with status 0).
bool AnswerInfoRequest(int argc, const char* const* argv, const std::string& program);

}  // namespace hhsync
