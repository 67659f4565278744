#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <algorithm>

namespace hhsync {
namespace {

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
  }
  return HKEY_CURRENT_USER;
}

// An open key, closed when it goes out of scope.
class OpenKey {
 public:
  OpenKey(RegRoot root, std::string_view path, REGSAM access) {
    const std::string sub = RegistryKeyPath(path);
    if (RegOpenKeyExA(RootKey(root), sub.c_str(), 0, access, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// A value as the registry handed it over: text without its terminator(s),
// a DWORD as four little-endian bytes; nothing for other types.
std::optional<RegValue> FromRegistry(DWORD type, const std::string& bytes) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string text = bytes;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return RegValue::String(std::move(text));
  }
  if (type == REG_DWORD && bytes.size() == 4) return RegValue{RegType::kDword, bytes};
  return std::nullopt;
}

// Reads one value of an open key; false when it is missing or unreadable.
bool ReadValue(HKEY key, const char* name, DWORD* type, std::string* bytes) {
  for (DWORD size = 256;;) {
    bytes->assign(size, '\0');
    DWORD got = size;
    LONG rc =
        RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(bytes->data()), &got);
    if (rc == ERROR_SUCCESS) {
      bytes->resize(got);
      return true;
    }
    if (rc != ERROR_MORE_DATA) return false;
    size = std::max<DWORD>(got, size * 2);
  }
}

// Appends the values of the key at path, then those of its subkeys.
void ListInto(HKEY root, const std::string& path, std::vector<RegEntry>* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD maxName = 0, maxSub = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &maxSub, nullptr, nullptr, &maxName,
                   nullptr, nullptr, nullptr);
  std::vector<RegEntry> values;
  for (DWORD i = 0;; ++i) {
    std::string name(maxName + 1, '\0');
    DWORD nameLen = maxName + 1;
    if (RegEnumValueA(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    name.resize(nameLen);
    DWORD type = 0;
    std::string bytes;
    if (!ReadValue(key, name.c_str(), &type, &bytes)) continue;
    if (auto value = FromRegistry(type, bytes)) values.push_back({path, name, *value});
  }
  std::sort(values.begin(), values.end(), [](const RegEntry& a, const RegEntry& b) {
    return FoldRegistryName(a.name) < FoldRegistryName(b.name);
  });
  out->insert(out->end(), values.begin(), values.end());

  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    std::string name(maxSub + 1, '\0');
    DWORD nameLen = maxSub + 1;
    if (RegEnumKeyExA(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    name.resize(nameLen);
    subkeys.push_back(std::move(name));
  }
  RegCloseKey(key);
  std::sort(subkeys.begin(), subkeys.end(), [](const std::string& a, const std::string& b) {
    return FoldRegistryName(a) < FoldRegistryName(b);
  });
  for (const std::string& sub : subkeys)
    ListInto(root, path.empty() ? sub : path + "\\" + sub, out);
}

}  // namespace

bool Win32Registry::KeyExists(RegRoot root, std::string_view path) {
  return static_cast<bool>(OpenKey(root, path, KEY_READ));
}

std::optional<RegValue> Win32Registry::Query(RegRoot root, std::string_view path,
                                             std::string_view name) {
  OpenKey key(root, path, KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  const std::string valueName(name);
  DWORD type = 0;
  std::string bytes;
  if (!ReadValue(key.get(), valueName.c_str(), &type, &bytes)) return std::nullopt;
  return FromRegistry(type, bytes);
}

bool Win32Registry::CreateKey(RegRoot root, std::string_view path) {
  const std::string sub = RegistryKeyPath(path);
  if (sub.empty()) return true;  // a root always exists
  HKEY key = nullptr;
  if (RegCreateKeyExA(RootKey(root), sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool Win32Registry::SetValue(RegRoot root, std::string_view path, std::string_view name,
                             const RegValue& value) {
  OpenKey key(root, path, KEY_SET_VALUE);
  if (!key) return false;
  const std::string valueName(name);
  LONG rc;
  if (value.type == RegType::kDword) {
    const DWORD v = value.AsDword();
    rc = RegSetValueExA(key.get(), valueName.c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&v), sizeof v);
  } else {
    // REG_SZ is stored with its terminator.
    rc = RegSetValueExA(key.get(), valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.data.c_str()),
                        static_cast<DWORD>(value.data.size() + 1));
  }
  return rc == ERROR_SUCCESS;
}

bool Win32Registry::Delete(RegRoot root, std::string_view path,
                           std::optional<std::string_view> name) {
  const std::string sub = RegistryKeyPath(path);
  if (name) {
    OpenKey key(root, path, KEY_SET_VALUE);
    return key && RegDeleteValueA(key.get(), std::string(*name).c_str()) == ERROR_SUCCESS;
  }
  if (sub.empty()) return false;  // a root cannot be deleted
  // The key, its values and every key below it.
  return RegDeleteTreeA(RootKey(root), sub.c_str()) == ERROR_SUCCESS;
}

std::vector<RegEntry> Win32Registry::List(RegRoot root, std::string_view prefix) {
  std::vector<RegEntry> out;
  ListInto(RootKey(root), RegistryKeyPath(prefix), &out);
  return out;
}

}  // namespace hhsync
