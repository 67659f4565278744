#include "settings/registry_key.h"

#include <algorithm>
#include <climits>

#include "platform/registry.h"

namespace hhsync {

namespace {
constexpr std::size_t kMaxValueBytes = 1024;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

int AtoI(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT_MAX) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

int LeadingDigits(const std::string& text) {
  long long v = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = std::min<long long>(v * 10 + (text[i] - '0'), INT_MAX);
  }
  return static_cast<int>(v);
}

std::string RegistryKey::Get(const std::string& name, const std::string& defaultValue) {
  std::string key = path_ + name;
  if (!registry_.KeyExists(RegRoot::kLocalMachine, key)) {
    if (!defaultValue.empty()) Set(name, defaultValue);
    return defaultValue;
  }
  auto value = registry_.Query(RegRoot::kLocalMachine, key, "");
  // A value that does not fit the 1024-byte read counts as unreadable.
  if (!value || value->data.size() + 1 > kMaxValueBytes) return defaultValue;
  std::string text = value->data;
  if (auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  return text;
}

void RegistryKey::Set(const std::string& name, const std::string& value) {
  std::string key = path_ + name;
  registry_.CreateKey(RegRoot::kLocalMachine, key);
  registry_.SetValue(RegRoot::kLocalMachine, key, "", RegValue::String(value));
}

int RegistryKey::GetInt(const std::string& name, int defaultValue) {
  return AtoI(Get(name, std::to_string(defaultValue)));
}

void RegistryKey::SetInt(const std::string& name, int value) { Set(name, std::to_string(value)); }

bool RegistryKey::GetFlag(const std::string& name) { return EqualsNoCase(Get(name, "NO"), "YES"); }

}  // namespace hhsync
