#pragma once
// A Registry in memory for tests: the same rules as the stored one (roots
// always exist, paths and names compared without regard to case, keys
// created with their parents, values only in keys that exist), and nothing
// kept after it is gone.
//
// Thread safety: each call is atomic.

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/registry.h"

namespace hhsync {

class MemoryRegistry final : public Registry {
 public:
  bool KeyExists(RegRoot root, std::string_view path) override;
  std::optional<RegValue> Query(RegRoot root, std::string_view path,
                                std::string_view name) override;
  bool CreateKey(RegRoot root, std::string_view path) override;
  bool SetValue(RegRoot root, std::string_view path, std::string_view name,
                const RegValue& value) override;
  bool Delete(RegRoot root, std::string_view path, std::optional<std::string_view> name) override;
  std::vector<RegEntry> List(RegRoot root, std::string_view prefix) override;

 private:
  using KeyId = std::pair<RegRoot, std::string>;  // the folded path
  struct Key {
    std::string path;                                                // as first created
    std::map<std::string, std::pair<std::string, RegValue>> values;  // folded name -> (name, value)
  };
  // Whether the folded path lies at or below the folded prefix.
  static bool Under(const std::string& fold, const std::string& prefix);

  std::mutex mu_;
  std::map<KeyId, Key> keys_;
};

}  // namespace hhsync
