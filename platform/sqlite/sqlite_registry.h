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
  std::string Trouble() override;

 private:
  struct Db;
  // Opens (creating) the store; false with error_ set. A store that could
  // not be opened is not tried again: each try may wait out the busy
  // timeout.
  bool Open();
  // Runs one call; an SQLite failure is remembered as the store's trouble
  // and makes the call answer failed.
  template <typename T, typename Work>
  T Guarded(T failed, Work&& work);
  // Whether a write may be tried: the store is open and no write has met
  // another process's lock yet.
  bool Writable();
  // Parts of one call, run inside its transaction and lock.
  void InsertKeyPath(RegRoot root, std::string_view path);
  bool WriteValue(RegRoot root, std::string_view path, std::string_view name,
                  const RegValue& value);

  std::string path_;
  std::unique_ptr<Db> db_;
  std::string error_;
  std::string trouble_;  // the first failure of the store, for Trouble()
  bool writesGivenUp_ = false;
  std::mutex mu_;
};

}  // namespace hhsync
