#pragma once
// The PC registry: three roots, keys with a default value and named values.
// Key paths are compared without regard to case and keep their case.
// Text values are 8-bit; an empty value name is the key's default value.
//
// Thread safety: an instance may be used from several threads; each call is
// atomic.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hhsync {

enum class RegRoot { kLocalMachine, kCurrentUser, kClassesRoot };
enum class RegType : uint32_t { kString = 1, kDword = 4 };

struct RegValue {
  RegType type = RegType::kString;
  std::string data;  // kString: the text without terminator; kDword: 4 bytes little-endian

  static RegValue String(std::string text) { return {RegType::kString, std::move(text)}; }
  static RegValue Dword(uint32_t v);
  uint32_t AsDword() const;  // 0 unless a 4-byte DWORD
};

struct RegEntry {
  std::string path;
  std::string name;
  RegValue value;
};

// The rules every store follows for names: a key path without leading or
// trailing separators, "/" read as "\\"; names compared without regard to
// case (ASCII and Windows-1252 letters).
std::string RegistryKeyPath(std::string_view path);
std::string FoldRegistryName(std::string_view name);
// Both: the form two paths are compared in.
inline std::string FoldKeyPath(std::string_view path) {
  return FoldRegistryName(RegistryKeyPath(path));
}

class Registry {
 public:
  Registry() = default;
  virtual ~Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  virtual bool KeyExists(RegRoot root, std::string_view path) = 0;
  // The value, or nothing when the key or the value is missing.
  virtual std::optional<RegValue> Query(RegRoot root, std::string_view path,
                                        std::string_view name) = 0;
  // Creates the key (and its parents) when missing; true when it exists after.
  virtual bool CreateKey(RegRoot root, std::string_view path) = 0;
  // Sets a value of an existing key; false (and nothing written) when the key
  // does not exist.
  virtual bool SetValue(RegRoot root, std::string_view path, std::string_view name,
                        const RegValue& value) = 0;
  // Creates the key when missing and sets its default value. Stores that can
  // make this one step do, so that a killed process leaves both or neither.
  virtual bool CreateKeyWithDefault(RegRoot root, std::string_view path, const RegValue& value) {
    return CreateKey(root, path) && SetValue(root, path, "", value);
  }
  // Deletes a key with its values; a named value when name is given.
  virtual bool Delete(RegRoot root, std::string_view path,
                      std::optional<std::string_view> name) = 0;
  // Every value under a root whose path starts with prefix (case-insensitive).
  virtual std::vector<RegEntry> List(RegRoot root, std::string_view prefix) = 0;
  // Why the registry itself could not be read or written (the store
  // locked, damaged, unreachable), once that happened; empty while it works.
  // A value that is simply not there is no trouble. Until then a failed
  // read looks like a missing value, so a caller that must tell the two
  // apart asks here.
  virtual std::string Trouble() { return {}; }
};

}  // namespace hhsync
