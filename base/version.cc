#include "base/version.h"

#include <cstdio>

namespace hhsync {

std::string VersionText() {
  char text[64];
  std::snprintf(text, sizeof text, "Version %d.%d build %s", kVersionMajor, kVersionMinor, kBuild);
  return text;
}

std::string ProgramVersion() {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d", kVersionMajor, kVersionMinor);
  return text;
}

}  // namespace hhsync
