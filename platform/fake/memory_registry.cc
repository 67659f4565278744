#include "platform/fake/memory_registry.h"

namespace hhsync {

bool MemoryRegistry::Under(const std::string& fold, const std::string& prefix) {
  return prefix.empty() || fold == prefix || fold.rfind(prefix + "\\", 0) == 0;
}

bool MemoryRegistry::KeyExists(RegRoot root, std::string_view path) {
  std::lock_guard<std::mutex> l(mu_);
  const std::string fold = FoldKeyPath(path);
  return fold.empty() || keys_.count({root, fold}) != 0;
}

std::optional<RegValue> MemoryRegistry::Query(RegRoot root, std::string_view path,
                                              std::string_view name) {
  std::lock_guard<std::mutex> l(mu_);
  auto key = keys_.find({root, FoldKeyPath(path)});
  if (key == keys_.end()) return std::nullopt;
  auto value = key->second.values.find(FoldRegistryName(name));
  if (value == key->second.values.end()) return std::nullopt;
  return value->second.second;
}

bool MemoryRegistry::CreateKey(RegRoot root, std::string_view path) {
  std::lock_guard<std::mutex> l(mu_);
  const std::string full = RegistryKeyPath(path);
  // The key and each of its parents, so that a listing shows the tree.
  for (std::size_t pos = 0;;) {
    std::size_t next = full.find('\\', pos);
    std::string part = full.substr(0, next);
    keys_.try_emplace({root, FoldRegistryName(part)}, Key{part, {}});
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return true;
}

bool MemoryRegistry::SetValue(RegRoot root, std::string_view path, std::string_view name,
                              const RegValue& value) {
  std::lock_guard<std::mutex> l(mu_);
  const std::string fold = FoldKeyPath(path);
  if (fold.empty()) keys_.try_emplace({root, ""}, Key{"", {}});  // a root always exists
  auto key = keys_.find({root, fold});
  if (key == keys_.end()) return false;
  key->second.values[FoldRegistryName(name)] = {std::string(name), value};
  return true;
}

bool MemoryRegistry::Delete(RegRoot root, std::string_view path,
                            std::optional<std::string_view> name) {
  std::lock_guard<std::mutex> l(mu_);
  const std::string fold = FoldKeyPath(path);
  if (name) {
    auto key = keys_.find({root, fold});
    return key != keys_.end() && key->second.values.erase(FoldRegistryName(*name)) > 0;
  }
  if (fold.empty()) return false;  // a root cannot be deleted
  bool removed = false;
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first.first == root && Under(it->first.second, fold)) {
      it = keys_.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  return removed;
}

std::vector<RegEntry> MemoryRegistry::List(RegRoot root, std::string_view prefix) {
  std::lock_guard<std::mutex> l(mu_);
  const std::string fold = FoldKeyPath(prefix);
  std::vector<RegEntry> out;
  for (const auto& [id, key] : keys_) {
    if (id.first != root || !Under(id.second, fold)) continue;
    for (const auto& [folded, named] : key.values) {
      out.push_back({key.path, named.first, named.second});
    }
  }
  return out;
}

}  // namespace hhsync
