// Where files live on Windows, for the tools that share the Linux build's
// location rules (platform/locations.h declares them). A Windows
// program keeps its files beside its executable; there are no XDG
// directories, so nothing is ever ours to create. HHSYNC_HOME and
// HHSYNC_DEVICE override as on Linux; the desktop registry is the system's,
// so the registry path names no file the Windows program uses.

#include <windows.h>

#include <cstdlib>

#include "platform/locations.h"
#include "platform/win32/win32_paths.h"

namespace hhsync {
namespace {

std::string WithoutTrailingSeparators(std::string dir) {
  while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/') &&
         !(dir.size() == 3 && dir[1] == ':')) {
    dir.pop_back();
  }
  return dir;
}

}  // namespace

Locations ResolveLocations(const LocationRules& rules) {
  Locations where;
  const std::string home = rules.env("HHSYNC_HOME");
  where.programDir = WithoutTrailingSeparators(!home.empty()               ? home
                                               : rules.fallbackDir.empty() ? "."
                                                                           : rules.fallbackDir);
  where.device = rules.env("HHSYNC_DEVICE");
  if (where.device.empty()) where.device = where.programDir + "\\handheld.db";
  where.registry = rules.env("HHSYNC_REGISTRY");
  if (where.registry.empty()) where.registry = where.programDir + "\\registry.db";
  return where;
}

bool BuiltForXdg() { return false; }

LocationRules ProcessLocationRules(std::string fallbackDir) {
  LocationRules rules;
  rules.env = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
  };
  rules.fallbackDir = std::move(fallbackDir);
  return rules;
}

Locations ProgramLocations() {
  return ResolveLocations(ProcessLocationRules(DirectoryOfPath(ModulePath())));
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  for (std::size_t at = dir.find_first_of("\\/", 1);; at = dir.find_first_of("\\/", at + 1)) {
    const std::string part = at == std::string::npos ? dir : dir.substr(0, at);
    // "C:" is a drive, not a directory to make.
    if (!(part.size() == 2 && part[1] == ':') && !CreateDirectoryA(part.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (at == std::string::npos) break;
  }
  const DWORD attributes = GetFileAttributesA(dir.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace hhsync
