#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "platform/registry.h"

namespace hhsync {

// The desktop registry kept in one SQLite file (or in memory with
// ":memory:", which is what tests use). Every call is one transaction.
class SqliteRegistry final : public Registry {
 public:
  // Opens the store at path; a missing store is created by the first write.
  // ok() tells whether an existing store could be opened.
  explicit SqliteRegistry(const std::string& path);
  ~SqliteRegistry() override;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  bool KeyExists(RegRoot root, std::string_view path) override;
  std::optional<RegValue> Query(RegRoot root, std::string_view path,
                                std::string_view name) override;
  bool CreateKey(RegRoot root, std::string_view path) override;
  bool SetValue(RegRoot root, std::string_view path, std::string_view name,
                const RegValue& value) override;
  bool CreateKeyWithDefault(RegRoot root, std::string_view path, const RegValue& value) override;
  bool Delete(RegRoot root, std::string_view path, std::optional<std::string_view> name) override;
  std::vector<RegEntry> List(RegRoot root, std::string_view prefix) override;

 private:
  struct Db;
  bool Open();  // opens (creating) the store; false with error_ set
  // Parts of one call, run inside its transaction and lock.
  void InsertKeyPath(RegRoot root, std::string_view path);
  bool WriteValue(RegRoot root, std::string_view path, std::string_view name,
                  const RegValue& value);

  std::string path_;
  std::unique_ptr<Db> db_;
  std::string error_;
  std::mutex mu_;
};

}  // namespace hhsync
