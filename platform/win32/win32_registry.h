#pragma once
#include "platform/registry.h"

namespace hhsync {

// The Windows registry itself, through the 8-bit (ANSI code page) calls.
// Key paths are the registry's own: compared without regard to case, kept
// in the case they were created with. REG_SZ and REG_EXPAND_SZ values read
// as text, REG_DWORD as a DWORD; values of other types read as absent.
class Win32Registry final : public Registry {
 public:
  bool KeyExists(RegRoot root, std::string_view path) override;
  std::optional<RegValue> Query(RegRoot root, std::string_view path,
                                std::string_view name) override;
  bool CreateKey(RegRoot root, std::string_view path) override;
  bool SetValue(RegRoot root, std::string_view path, std::string_view name,
                const RegValue& value) override;
  bool Delete(RegRoot root, std::string_view path, std::optional<std::string_view> name) override;
  // Enumerates the key named by prefix and every key below it; the whole
  // root (which may be large) when prefix is empty.
  std::vector<RegEntry> List(RegRoot root, std::string_view prefix) override;
};

}  // namespace hhsync
