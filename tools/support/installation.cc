#include "tools/support/installation.h"

#include <fstream>
#include <stdexcept>

#include "formats/sdat.h"
#include "platform/linux/system_clock.h"
#include "platform/sqlite/sqlite_registry.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace fs = std::filesystem;

std::string SdatOf(const std::string& syncProperties) {
  std::vector<uint8_t> sdat;
  std::string err;
  const std::vector<uint8_t> props(syncProperties.begin(), syncProperties.end());
  if (!BuildSdat({{"sync.properties", kSdatPropertySet, props}}, &sdat, &err)) {
    throw std::runtime_error("S.DAT: " + err);
  }
  return std::string(sdat.begin(), sdat.end());
}

bool InstallOnHandheld(EmulatedHandheld& handheld, const Installation& installation,
                       std::string* err) {
  const std::string& path = installation.registryPath;
  if (!handheld.CreateVolume(installation.volume, err) ||
      !handheld.RegSet(path + "dbp", installation.volume, err)) {
    return false;
  }
  for (const auto& [name, value] : installation.values) {
    if (!handheld.RegSet(path + name, value, err)) return false;
  }
  return !installation.companion || handheld.InstallLibrary("zvdll", err);
}

bool InstallOnDesktop(Registry& registry, const Installation& installation) {
  const std::string& key = installation.desktopKey;
  const std::string& manager = installation.appManager;
  return (key.empty() || registry.CreateKey(RegRoot::kLocalMachine, key)) &&
         (manager.empty() || (registry.CreateKey(RegRoot::kLocalMachine, kAppManagerKey) &&
                              registry.SetValue(RegRoot::kLocalMachine, kAppManagerKey, "",
                                                RegValue::String(manager))));
}

void Install(const fs::path& home, const fs::path& store, const Installation& installation) {
  fs::remove_all(home);
  fs::create_directories(home);
  {
    std::ofstream out(home / "S.DAT", std::ios::binary);
    out << SdatOf(installation.syncProperties);
    if (!out.flush()) throw std::runtime_error("cannot write " + (home / "S.DAT").string());
  }
  const std::string image = (home / "handheld.db").string();
  std::string err;
  if (!EmulatedHandheld::Init(image, &err)) throw std::runtime_error(err);
  SystemClock clock;
  EmulatedHandheld handheld(image, clock);
  if (!InstallOnHandheld(handheld, installation, &err)) throw std::runtime_error(err);
  if (store.empty()) return;
  SqliteRegistry desktop(store.string());
  if (!InstallOnDesktop(desktop, installation)) {
    throw std::runtime_error("cannot write the desktop registry store " + store.string());
  }
}

}  // namespace hhsync
