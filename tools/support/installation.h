#pragma once
// A handheld and a desktop as an installation of a product leaves them, for
// the programs that run the real hhsync on an emulated handheld: the fault
// sweep, the benchmarks and the end-to-end tests. On the handheld: the
// content volume, the product's registry values (the volume as "dbp", the
// server's base URL, ...) and, when asked for, the companion library
// "zvdll"; in the program directory: S.DAT holding the product's sync
// properties; in the desktop registry store: the product's key and the CE
// application manager's command.
//
// Thread safety: free functions; each call uses the files it is given.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "platform/registry.h"

namespace hhsync {

struct Installation {
  std::string syncProperties;  // S.DAT's "sync.properties" text
  std::string registryPath;    // the product's handheld registry path, ending in '\'
  std::string volume;          // the content volume, named by the value "dbp"
  // More values under registryPath, in this order.
  std::vector<std::pair<std::string, std::string>> values;
  bool companion = false;  // install "zvdll"
  std::string desktopKey;  // created in the store's HKLM when not empty
  std::string appManager;  // the CE application manager's command when not empty
};

// The bytes of an S.DAT that holds only the given sync properties. Throws
// std::runtime_error when it cannot be built.
std::string SdatOf(const std::string& syncProperties);

// Sets up the handheld side on an open handheld: false with *err filled
// when a step fails.
bool InstallOnHandheld(EmulatedHandheld& handheld, const Installation& installation,
                       std::string* err);
// Sets up the desktop side in a registry; false when a step fails.
bool InstallOnDesktop(Registry& registry, const Installation& installation);

// All of it in a fresh program directory home (emptied first): a new,
// connected handheld image home/handheld.db, S.DAT, and the desktop
// registry store at store unless it is empty. Throws std::runtime_error.
void Install(const std::filesystem::path& home, const std::filesystem::path& store,
             const Installation& installation);

}  // namespace hhsync
