#include "settings/registry_key.h"

#include "base/text.h"
#include "platform/registry.h"

namespace hhsync {

namespace {
constexpr std::size_t kMaxValueBytes = 1024;
}

std::optional<std::string> ReadRegistryText(Registry& registry, RegRoot root,
                                            const std::string& path, std::size_t limit) {
  auto value = registry.Query(root, path, "");
  if (!value || value->type != RegType::kString || value->data.size() + 1 > limit) {
    return std::nullopt;
  }
  std::string text = value->data;
  if (auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  return text;
}

std::string RegistryKey::Get(const std::string& name, const std::string& defaultValue) {
  std::string key = path_ + name;
  if (!registry_.KeyExists(RegRoot::kLocalMachine, key)) {
    if (!defaultValue.empty()) Set(name, defaultValue);
    return defaultValue;
  }
  // A value that does not fit the 1024-byte read counts as unreadable.
  return ReadRegistryText(registry_, RegRoot::kLocalMachine, key, kMaxValueBytes)
      .value_or(defaultValue);
}

void RegistryKey::Set(const std::string& name, const std::string& value) {
  registry_.CreateKeyWithDefault(RegRoot::kLocalMachine, path_ + name, RegValue::String(value));
}

int RegistryKey::GetInt(const std::string& name, int defaultValue) {
  return AtoI(Get(name, std::to_string(defaultValue)));
}

void RegistryKey::SetInt(const std::string& name, int value) { Set(name, std::to_string(value)); }

bool RegistryKey::GetFlag(const std::string& name) { return EqualsNoCase(Get(name, "NO"), "YES"); }

}  // namespace hhsync
