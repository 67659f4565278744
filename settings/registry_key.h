#pragma once
// RegistryKey: settings kept in the PC's per-machine registry under one path.
// Each setting is a key of its own (the path followed directly by the name);
// its text is the key's default value. Failures are never reported: a setting
// that cannot be read gives its default.

#include <string>

namespace hhsync {

class Registry;

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

// Text helpers shared by the settings code.
bool EqualsNoCase(const std::string& a, const std::string& b);
// Leading decimal digits (after optional blanks and sign) as a number, 0 when
// there are none, as C's atoi reads them.
int AtoI(const std::string& text);
// The decimal digits at the very start of text as a number (no blanks, no
// sign), 0 when it does not begin with a digit; saturates at INT_MAX.
int LeadingDigits(const std::string& text);

}  // namespace hhsync
