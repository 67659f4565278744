#include "app/usage.h"

#include <cstdio>
#include <cstring>

#ifndef HHSYNC_VERSION
#define HHSYNC_VERSION "unknown"
#endif

namespace hhsync {

InfoRequest InfoRequestOf(int argc, const char* const* argv) {
  if (argc != 2) return InfoRequest::kNone;
  if (std::strcmp(argv[1], "--help") == 0) return InfoRequest::kHelp;
  if (std::strcmp(argv[1], "--version") == 0) return InfoRequest::kVersion;
  return InfoRequest::kNone;
}

std::string UsageText(const std::string& program) {
  // One line per form of the command line: the program's name, then what
  // follows it.
  const auto line = [&program](const char* indent, const char* rest) {
    return indent + program + rest + "\n";
  };
  return line("Usage: ", " [-test | -first | -config]") + line("       ", " --help | --version") +
         "\n" + line("  ", "            an ordinary sync") +
         line("  ", " -first     a sync straight after an installation on the handheld") +
         line("  ", " -config    choose how often to check for updates") +
         line("  ", " -test      launch the companion library on the handheld and report") +
         "\n"
         "The switches are found as substrings anywhere in the command line, -test\n"
         "before -first before -config; any other command line is an ordinary sync.\n"
         "--help and --version count only as the one and only argument.\n"
         "\n"
         "Environment:\n"
         "  HHSYNC_HOME             the program directory (S.DAT, sync.txt, downloads)\n"
         "  HHSYNC_DEVICE           the handheld image (handheld.db in the program directory)\n"
         "  HHSYNC_REGISTRY         the desktop registry store\n"
         "  HHSYNC_UI               wx (windows), tty or none\n"
         "  HHSYNC_ANSWERS          answers for message boxes in none mode: ok, cancel,\n"
         "                          retry, yes, no; a digit N picks the Nth update frequency\n"
         "  HHSYNC_OPEN             the program that opens a page (xdg-open)\n"
         "  HHSYNC_REPORT           a file that receives a JSON report of each run\n"
         "  HHSYNC_STALL_SECONDS    how long a transfer may stall before it is given up (60)\n"
         "  HHSYNC_CONNECT_WAIT_MS  how long a run waits for the handheld (5000)\n"
         "\n"
         "Exit status:\n"
         "  0  complete, not-due or page-only\n"
         "  1  failed\n"
         "  2  the front end HHSYNC_UI asks for cannot be had\n"
         "  3  partial\n"
         "  4  cancelled\n"
         "  5  no-handheld\n"
         "  6  no-configuration\n"
         "  7  redirect\n";
}

std::string VersionText(const std::string& program) { return program + " " HHSYNC_VERSION "\n"; }

bool AnswerInfoRequest(int argc, const char* const* argv, const std::string& program) {
  switch (InfoRequestOf(argc, argv)) {
    case InfoRequest::kHelp:
      std::fputs(UsageText(program).c_str(), stdout);
      return true;
    case InfoRequest::kVersion:
      std::fputs(VersionText(program).c_str(), stdout);
      return true;
    case InfoRequest::kNone:
      break;
  }
  return false;
}

}  // namespace hhsync
