#include "platform/locations.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/env_paths.h"

namespace hhsync {
namespace {

std::string WithoutTrailingSlashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// An XDG base directory: the variable when it holds an absolute path (a
// relative one is to be ignored), else the default under the home directory.
std::string XdgBase(const LocationRules& rules, const char* variable, const char* underHome) {
  std::string value = rules.env(variable);
  if (!value.empty() && value[0] == '/') return WithoutTrailingSlashes(value);
  std::string home = rules.env("HOME");
  if (home.empty()) home = rules.accountHome;
  return WithoutTrailingSlashes(home) + "/" + underHome;
}

}  // namespace

Locations ResolveLocations(const LocationRules& rules) {
  Locations where;
  const std::string home = rules.env("HHSYNC_HOME");
  if (!home.empty()) {
    where.programDir = WithoutTrailingSlashes(home);
  } else if (rules.xdg) {
    where.programDir = XdgBase(rules, "XDG_DATA_HOME", ".local/share") + "/hhsync";
    where.toCreate.push_back(where.programDir);
  } else {
    where.programDir = rules.fallbackDir.empty() ? "." : WithoutTrailingSlashes(rules.fallbackDir);
  }

  where.device = rules.env("HHSYNC_DEVICE");
  if (where.device.empty()) where.device = where.programDir + "/handheld.db";

  where.registry = rules.env("HHSYNC_REGISTRY");
  if (where.registry.empty()) {
    if (rules.xdg && home.empty()) {
      const std::string config = XdgBase(rules, "XDG_CONFIG_HOME", ".config") + "/hhsync";
      where.registry = config + "/registry.db";
      where.toCreate.push_back(config);
    } else {
      where.registry = where.programDir + "/registry.db";
    }
  }
  return where;
}

bool BuiltForXdg() {
#ifdef HHSYNC_XDG
  return true;
#else
  return false;
#endif
}

LocationRules ProcessLocationRules(std::string fallbackDir) {
  LocationRules rules;
  rules.env = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
  };
  rules.fallbackDir = std::move(fallbackDir);
  if (const passwd* account = getpwuid(getuid()); account && account->pw_dir) {
    rules.accountHome = account->pw_dir;
  }
  rules.xdg = BuiltForXdg();
  return rules;
}

Locations ProgramLocations() {
  const std::string exe = ExecutablePath();
  const std::size_t slash = exe.rfind('/');
  const std::string exeDir = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : exe.substr(0, slash);
  Locations where = ResolveLocations(ProcessLocationRules(exeDir));
  for (const std::string& dir : where.toCreate) {
    if (!MakeDirectories(dir)) {
      std::fprintf(stderr, "hhsync: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
    }
  }
  return where;
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  for (std::size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string part = at == std::string::npos ? dir : dir.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace hhsync
