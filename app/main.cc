// hhsync: one run per start. The command line picks the run mode; everything
// else (the handheld, the registry store, the front end) comes from the
// environment, see platform/linux/linux_platform.h.

#include <string>

#include "app/sync_runner.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  // The command line is searched as one string of everything after the
  // program name.
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  hhsync::LinuxPlatform platform;
  hhsync::InitInstance(platform.ports(), commandLine);
  return 0;
}
