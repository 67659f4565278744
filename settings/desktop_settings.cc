#include "settings/desktop_settings.h"

#include <utility>

#include "base/text.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "settings/registry_key.h"

namespace hhsync {

namespace {

constexpr std::size_t kMaxDesktopValueBytes = 1024;
constexpr const char* kProxyHttp11 = "ProxyHttp1.1";
constexpr const char* kEnableHttp11 = "EnableHttp1_1";

}  // namespace

DesktopSettings::DesktopSettings(Registry& registry, Clock& clock, RunRecorder& recorder,
                                 std::string registryPath)
    : registry_(registry),
      clock_(clock),
      recorder_(recorder),
      registryPath_(std::move(registryPath)) {}

std::string DesktopSettings::GetDesktopSetting(const std::string& name,
                                               const std::string& defaultValue) {
  return RegistryKey(registry_, registryPath_).Get(name, defaultValue);
}

namespace {

uint32_t ReadDword(Registry& registry, RegRoot root, const std::string& path,
                   const std::string& name) {
  auto value = registry.Query(root, path, name);
  if (!value || value->type != RegType::kDword) return 0;
  return value->AsDword();
}

// True when the value was written.
bool WriteDword(Registry& registry, RegRoot root, const std::string& path, const std::string& name,
                uint32_t v) {
  if (!registry.KeyExists(root, path)) return false;
  return registry.SetValue(root, path, name, RegValue::Dword(v));
}

}  // namespace

int DesktopSettings::GetUpdateFrequency() { return AtoI(GetDesktopSetting("tu", "0")); }

void DesktopSettings::SetUpdateFrequency(int hours) {
  RegistryKey(registry_, registryPath_).Set("tu", std::to_string(hours));
  StampLastSync();
}

void DesktopSettings::StampLastSync() {
  const auto now = static_cast<uint32_t>(clock_.Now());
  if (WriteDword(registry_, RegRoot::kLocalMachine, registryPath_, "lst", now)) {
    recorder_.LastSyncWritten(now);
  }
}

uint32_t DesktopSettings::GetLastSync() { return ReadMachineDword(registryPath_, "lst"); }

std::string DesktopSettings::AppManagerPath() {
  return ReadRegistryText(registry_, RegRoot::kLocalMachine, kAppManagerKey, kMaxDesktopValueBytes)
      .value_or("");
}

std::string DesktopSettings::Trouble() { return registry_.Trouble(); }

uint32_t DesktopSettings::ReadUserDword(const std::string& path, const std::string& name) {
  return ReadDword(registry_, RegRoot::kCurrentUser, path, name);
}

uint32_t DesktopSettings::ReadMachineDword(const std::string& path, const std::string& name) {
  return ReadDword(registry_, RegRoot::kLocalMachine, path, name);
}

void DesktopSettings::WriteUserDword(const std::string& path, const std::string& name,
                                     uint32_t value) {
  WriteDword(registry_, RegRoot::kCurrentUser, path, name, value);
}

void DesktopSettings::WriteMachineDword(const std::string& path, const std::string& name,
                                        uint32_t value) {
  WriteDword(registry_, RegRoot::kLocalMachine, path, name, value);
}

Http11Off::Http11Off(DesktopSettings& desktop) : desktop_(desktop) {
  const uint32_t proxyHttp11 = desktop_.ReadUserDword(kInternetSettingsPath, kProxyHttp11);
  const uint32_t enableHttp11 = desktop_.ReadUserDword(kInternetSettingsPath, kEnableHttp11);
  if (proxyHttp11 != 0) {
    desktop_.WriteUserDword(kInternetSettingsPath, kProxyHttp11, 0);
    restoreProxyHttp11_ = true;
  }
  if (enableHttp11 != 0) {
    restoreEnableHttp11_ = true;
    desktop_.WriteUserDword(kInternetSettingsPath, kEnableHttp11, 0);
  }
}

Http11Off::~Http11Off() {
  if (restoreProxyHttp11_) desktop_.WriteUserDword(kInternetSettingsPath, kProxyHttp11, 1);
  if (restoreEnableHttp11_) desktop_.WriteUserDword(kInternetSettingsPath, kEnableHttp11, 1);
}

}  // namespace hhsync
