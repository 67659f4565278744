#pragma once
// Where the program keeps its files. A build tree keeps them beside the
// executable, as the program always has. An installed build (configured with
// HHSYNC_XDG) never writes beside its executable, which lies in a system
// directory: the program directory is $XDG_DATA_HOME/hhsync and the desktop
// registry store $XDG_CONFIG_HOME/hhsync/registry.db. HHSYNC_HOME,
// HHSYNC_DEVICE and HHSYNC_REGISTRY override either.

#include <functional>
#include <string>
#include <vector>

namespace hhsync {

struct Locations {
  std::string programDir;  // S.DAT, sync.txt, downloads
  std::string device;      // the handheld image
  std::string registry;    // the desktop registry store
  // Directories that are ours to create when missing (the XDG ones; a
  // directory named by a variable is the user's to make).
  std::vector<std::string> toCreate;
};

struct LocationRules {
  // Reads an environment variable; empty when unset.
  std::function<std::string(const char*)> env;
  // Where files go without HHSYNC_HOME in a build tree: the executable's
  // directory for hhsync, the working directory for hhctl.
  std::string fallbackDir;
  // The user's home directory when HOME is unset (from the password file).
  std::string accountHome;
  bool xdg = false;  // an installed build
};

Locations ResolveLocations(const LocationRules& rules);

// The rules of this build, from the process environment.
LocationRules ProcessLocationRules(std::string fallbackDir);

// Whether this build keeps its files in the XDG locations.
bool BuiltForXdg();

// hhsync's own locations: the process environment, the executable's
// directory as the fallback, and the directories that are ours made when
// missing (a failure is told on standard error; the opens that follow fail
// with their own message).
Locations ProgramLocations();

// Creates the directory and its missing parents (0700 for those it makes).
// False when it could not be made.
bool MakeDirectories(const std::string& dir);

}  // namespace hhsync
