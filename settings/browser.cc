#include "settings/browser.h"

#include "base/command_line.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr std::size_t kMaxRegistryText = 260;

// The default value of a key under HKEY_CLASSES_ROOT, read with the 260-byte
// limit; false when it cannot be read.
bool ReadClassesRoot(Registry& registry, const std::string& key, std::string* text) {
  auto value = ReadRegistryText(registry, RegRoot::kClassesRoot, key, kMaxRegistryText);
  if (value) *text = *value;
  return value.has_value();
}

}  // namespace

std::string BrowserCommandLine(const std::string& registered, const std::string& url) {
  std::string command = registered;
  if (auto quoted = command.find("\"%1\""); quoted != std::string::npos) {
    command.resize(quoted);
  } else if (auto bare = command.find("%1"); bare != std::string::npos) {
    command.resize(bare);
  }
  // The URL is one argument of the command, whatever it holds.
  return command + " " + QuoteArgument(url);
}

bool OpenInBrowser(Shell& shell, Registry& registry, const std::string& url, int showCommand) {
  if (shell.OpenUrl(url, showCommand)) return true;
  std::string type, command;
  if (!ReadClassesRoot(registry, ".htm", &type)) return false;
  if (!ReadClassesRoot(registry, type + "\\shell\\open\\command", &command)) return false;
  return shell.RunCommandLine(BrowserCommandLine(command, url), showCommand);
}

void SyncSettings::OpenFirstRunPage() {
  std::string page = GetDeviceSetting("furl", "");
  if (!page.empty()) OpenInBrowser(*ports_.shell, *ports_.registry, page, kSwShow);
}

bool SyncSettings::OpenErrorPage(const std::string& code) {
  return OpenInBrowser(*ports_.shell, *ports_.registry, loginUrl_ + "?cmd=err&code=" + code,
                       kSwShow);
}

}  // namespace hhsync
