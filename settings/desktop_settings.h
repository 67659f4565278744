#pragma once
// DesktopSettings: the program's settings in the PC's registry, under the
// product's registry path of HKEY_LOCAL_MACHINE ("tu", how often to sync;
// "lst", when the last sync was), the CE application manager's path, and
// the DWORD values of other keys that a run reads and writes.
//
// Http11Off: while it exists the user's Internet settings "ProxyHttp1.1"
// and "EnableHttp1_1" are off (the internet client then speaks HTTP/1.0);
// it switches on again what it switched off.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstdint>
#include <string>

#include "base/run_report.h"

namespace hhsync {

class Clock;
class Registry;

inline constexpr const char* kInternetSettingsPath =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr const char* kAppManagerKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE";

class DesktopSettings {
 public:
  DesktopSettings(Registry& registry, Clock& clock, RunRecorder& recorder,
                  std::string registryPath);

  // A text value under the registry path; the default when it is missing.
  std::string GetDesktopSetting(const std::string& name, const std::string& defaultValue);
  int GetUpdateFrequency();
  // Stores "tu" and stamps "lst" with the current time.
  void SetUpdateFrequency(int hours);
  void StampLastSync();
  uint32_t GetLastSync();
  // Full path of the CE application manager; empty when not registered.
  std::string AppManagerPath();
  // What went wrong with the PC's registry so far; empty when nothing did.
  // An empty AppManagerPath with trouble is one that could not be read.
  std::string Trouble();

  uint32_t ReadUserDword(const std::string& path, const std::string& name);
  uint32_t ReadMachineDword(const std::string& path, const std::string& name);
  // Writes only into a key that exists; a missing key is left alone.
  void WriteUserDword(const std::string& path, const std::string& name, uint32_t value);
  void WriteMachineDword(const std::string& path, const std::string& name, uint32_t value);

 private:
  Registry& registry_;
  Clock& clock_;
  RunRecorder& recorder_;
  std::string registryPath_;
};

class Http11Off {
 public:
  explicit Http11Off(DesktopSettings& desktop);
  ~Http11Off();
  Http11Off(const Http11Off&) = delete;
  Http11Off& operator=(const Http11Off&) = delete;

 private:
  DesktopSettings& desktop_;
  bool restoreProxyHttp11_ = false;
  bool restoreEnableHttp11_ = false;
};

}  // namespace hhsync
