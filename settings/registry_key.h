#pragma once
// RegistryKey: settings kept in the PC's per-machine registry under one path.
// Each setting is a key of its own (the path followed directly by the name);
// its text is the key's default value. Failures are never reported: a setting
// that cannot be read gives its default.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace hhsync {

// The default value of a key as text, read the way the desktop reads it into
// a buffer of limit bytes: nothing when the key or value is missing, is not
// text, or does not fit with its terminating zero; otherwise the text up to
// its first zero byte.
std::optional<std::string> ReadRegistryText(Registry& registry, RegRoot root,
                                            const std::string& path, std::size_t limit);

class RegistryKey {
 public:
  RegistryKey(Registry& registry, std::string path) : registry_(registry), path_(std::move(path)) {}

  // The setting's text (at most 1024 bytes, up to its first zero byte). When
  // the key is missing and the default is not empty, the key is created with
  // the default.
  std::string Get(const std::string& name, const std::string& defaultValue);
  void Set(const std::string& name, const std::string& value);
  int GetInt(const std::string& name, int defaultValue);
  void SetInt(const std::string& name, int value);
  // True when the setting reads "YES" (any case); default "NO".
  bool GetFlag(const std::string& name);
  void SetYes(const std::string& name) { Set(name, "YES"); }
  void SetNo(const std::string& name) { Set(name, "NO"); }

  const std::string& path() const { return path_; }

 private:
  Registry& registry_;
  std::string path_;
};

}  // namespace hhsync
