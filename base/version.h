#pragma once
// The program's version: 2.86 build 67. "Version 2.86 build 67" is shown in
// the progress dialog and written to the log; 2.86 is sent to the server.

#include <string>

namespace hhsync {

inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 86;
inline constexpr const char* kBuild = "67";

// "Version 2.86 build 67".
std::string VersionText();
// "2.86", the version sent in requests.
std::string ProgramVersion();

}  // namespace hhsync
