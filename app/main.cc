// hhsync: one run per start. The command line picks the run mode; everything
// else (the handheld, the registry store, the front end) comes from the
// environment, see platform/linux/linux_platform.h.

#include <cstdio>
#include <string>

#include "app/sync_runner.h"
#include "platform/linux/directory_lock.h"
#include "platform/linux/env_paths.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  // The command line is searched as one string of everything after the
  // program name.
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  // A second run on the same program directory waits briefly for the first
  // and otherwise ends without touching anything.
  const std::string dir = hhsync::EnvPaths().ProgramDir();
  hhsync::DirectoryLock lock(dir, hhsync::kDirectoryLockWaitMs);
  if (!lock.locked()) {
    std::fprintf(stderr, "hhsync: another run is working in %s; this run ends without syncing\n",
                 dir.c_str());
    return 0;
  }
  hhsync::LinuxPlatform platform;
  hhsync::InitInstance(platform.ports(), commandLine, platform.runOptions());
  return 0;
}
