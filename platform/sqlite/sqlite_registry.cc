#include "platform/sqlite/sqlite_registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include "platform/sqlite/sqlite_statement.h"

namespace hhsync {

// The store's callers get values, never exceptions.
template <typename T, typename Work>
T SqliteRegistry::Guarded(T failed, Work&& work) {
  try {
    return work();
  } catch (const SqlError& e) {
    if (trouble_.empty()) trouble_ = "the registry store " + path_ + " failed: " + e.what();
    // Another process holds the store past the busy timeout: the next
    // write would wait it out again.
    const int primary = e.code() & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) writesGivenUp_ = true;
    return failed;
  }
}

bool SqliteRegistry::Writable() { return Open() && !writesGivenUp_; }

struct SqliteRegistry::Db {
  sqlite3* handle = nullptr;
  ~Db() { sqlite3_close(handle); }
};

SqliteRegistry::SqliteRegistry(const std::string& path) : path_(path) {
  // An existing store is opened at once so that errors show early; a missing
  // one is created by the first write only, so reading never makes a file.
  if (path_ == ":memory:" || ::access(path_.c_str(), F_OK) == 0) Open();
}

bool SqliteRegistry::Open() {
  if (db_) return true;
  if (!error_.empty()) return false;
  auto db = std::make_unique<Db>();
  if (sqlite3_open_v2(path_.c_str(), &db->handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    error_ = db->handle ? sqlite3_errmsg(db->handle) : "cannot open";
    trouble_ = "the registry store " + path_ + " could not be opened: " + error_;
    return false;
  }
  sqlite3_busy_timeout(db->handle, 5000);
  try {
    Exec(db->handle,
         "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
         "CREATE TABLE IF NOT EXISTS keys(root INTEGER, fold TEXT, path TEXT,"
         " PRIMARY KEY(root, fold));"
         "CREATE TABLE IF NOT EXISTS vals(root INTEGER, fold TEXT, name_fold TEXT,"
         " name TEXT, type INTEGER, data BLOB, PRIMARY KEY(root, fold, name_fold));");
  } catch (const SqlError& e) {
    error_ = e.what();
    trouble_ = "the registry store " + path_ + " could not be opened: " + error_;
    return false;
  }
  db_ = std::move(db);
  return true;
}

std::string SqliteRegistry::Trouble() {
  std::lock_guard<std::mutex> l(mu_);
  return trouble_;
}

SqliteRegistry::~SqliteRegistry() = default;

bool SqliteRegistry::KeyExists(RegRoot root, std::string_view path) {
  std::lock_guard<std::mutex> l(mu_);
  const std::string fold = FoldKeyPath(path);
  if (fold.empty()) return true;  // a root always exists
  if (!db_) return false;
  return Guarded(false, [&] {
    SqlStatement s(db_->handle, "SELECT 1 FROM keys WHERE root=?1 AND fold=?2");
    return s.Bind(1, static_cast<int>(root)).Bind(2, fold).Step();
  });
}

std::optional<RegValue> SqliteRegistry::Query(RegRoot root, std::string_view path,
                                              std::string_view name) {
  std::lock_guard<std::mutex> l(mu_);
  if (!db_) return std::nullopt;
  return Guarded(std::optional<RegValue>(), [&]() -> std::optional<RegValue> {
    SqlStatement s(db_->handle,
                   "SELECT type, data FROM vals WHERE root=?1 AND fold=?2 AND name_fold=?3");
    s.Bind(1, static_cast<int>(root)).Bind(2, FoldKeyPath(path)).Bind(3, FoldRegistryName(name));
    if (!s.Step()) return std::nullopt;
    return RegValue{static_cast<RegType>(s.Int(0)), s.Text(1)};
  });
}

bool SqliteRegistry::CreateKey(RegRoot root, std::string_view path) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Writable()) return false;
  return Guarded(false, [&] {
    SqlTransaction transaction(db_->handle);
    InsertKeyPath(root, path);
    transaction.Commit();
    return true;
  });
}

bool SqliteRegistry::SetValue(RegRoot root, std::string_view path, std::string_view name,
                              const RegValue& value) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Writable()) return false;
  return Guarded(false, [&] { return WriteValue(root, path, name, value); });
}

bool SqliteRegistry::CreateKeyWithDefault(RegRoot root, std::string_view path,
                                          const RegValue& value) {
  std::lock_guard<std::mutex> l(mu_);
  if (!Writable()) return false;
  // One transaction: a process killed half-way leaves no key without its value,
  // which a later read could not tell from a setting that is there.
  return Guarded(false, [&] {
    SqlTransaction transaction(db_->handle);
    InsertKeyPath(root, path);
    if (!WriteValue(root, path, "", value)) return false;
    transaction.Commit();
    return true;
  });
}

void SqliteRegistry::InsertKeyPath(RegRoot root, std::string_view path) {
  std::string full = RegistryKeyPath(path);
  SqlStatement s(db_->handle, "INSERT OR IGNORE INTO keys(root, fold, path) VALUES(?1, ?2, ?3)");
  // The key and each of its parents, so that a listing shows the tree.
  for (std::size_t pos = 0;;) {
    std::size_t next = full.find('\\', pos);
    std::string part = full.substr(0, next);
    s.Reset();
    s.Bind(1, static_cast<int>(root)).Bind(2, FoldRegistryName(part)).Bind(3, part).Run();
    if (next == std::string::npos) break;
    pos = next + 1;
  }
}

bool SqliteRegistry::WriteValue(RegRoot root, std::string_view path, std::string_view name,
                                const RegValue& value) {
  std::string fold = FoldKeyPath(path);
  if (fold.empty()) {
    // Values of the root itself: the root exists without being created, but
    // a listing joins values to their key's row.
    SqlStatement key(db_->handle,
                     "INSERT OR IGNORE INTO keys(root, fold, path) VALUES(?1, '', '')");
    key.Bind(1, static_cast<int>(root)).Run();
  }
  SqlStatement exists(db_->handle, "SELECT 1 FROM keys WHERE root=?1 AND fold=?2");
  if (!exists.Bind(1, static_cast<int>(root)).Bind(2, fold).Step()) return false;
  SqlStatement s(db_->handle,
                 "INSERT OR REPLACE INTO vals(root, fold, name_fold, name, type, data)"
                 " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  s.Bind(1, static_cast<int>(root))
      .Bind(2, fold)
      .Bind(3, FoldRegistryName(name))
      .Bind(4, name)
      .Bind(5, static_cast<int>(value.type))
      .BindBlob(6, value.data)
      .Run();
  return true;
}

bool SqliteRegistry::Delete(RegRoot root, std::string_view path,
                            std::optional<std::string_view> name) {
  std::lock_guard<std::mutex> l(mu_);
  if (!db_ || writesGivenUp_) return false;
  std::string fold = FoldKeyPath(path);
  if (fold.empty() && !name) return false;  // a root cannot be deleted
  return Guarded(false, [&] {
    if (name) {
      SqlStatement s(db_->handle, "DELETE FROM vals WHERE root=?1 AND fold=?2 AND name_fold=?3");
      s.Bind(1, static_cast<int>(root)).Bind(2, fold).Bind(3, FoldRegistryName(*name)).Run();
      return s.Changes() > 0;
    }
    // The key, its values and every key below it.
    std::string below = fold + "\\";
    SqlTransaction transaction(db_->handle);
    SqlStatement k(
        db_->handle,
        "DELETE FROM keys WHERE root=?1 AND (fold=?2 OR substr(fold, 1, length(?3))=?3)");
    k.Bind(1, static_cast<int>(root)).Bind(2, fold).Bind(3, below).Run();
    int removed = k.Changes();
    SqlStatement v(
        db_->handle,
        "DELETE FROM vals WHERE root=?1 AND (fold=?2 OR substr(fold, 1, length(?3))=?3)");
    v.Bind(1, static_cast<int>(root)).Bind(2, fold).Bind(3, below).Run();
    transaction.Commit();
    return removed > 0;
  });
}

std::vector<RegEntry> SqliteRegistry::List(RegRoot root, std::string_view prefix) {
  std::lock_guard<std::mutex> l(mu_);
  std::vector<RegEntry> out;
  if (!db_) return out;
  std::string fold = FoldKeyPath(prefix);
  // A failure part way through leaves the entries read up to it.
  Guarded(false, [&] {
    SqlStatement s(db_->handle,
                   "SELECT k.path, v.name, v.type, v.data FROM vals v JOIN keys k"
                   " ON k.root=v.root AND k.fold=v.fold WHERE v.root=?1 AND"
                   " (?2='' OR v.fold=?2 OR substr(v.fold, 1, length(?2)+1)=?2||'\\')"
                   " ORDER BY v.fold, v.name_fold");
    s.Bind(1, static_cast<int>(root)).Bind(2, fold);
    while (s.Step()) {
      out.push_back({s.Text(0), s.Text(1), RegValue{static_cast<RegType>(s.Int(2)), s.Text(3)}});
    }
    return true;
  });
  return out;
}

}  // namespace hhsync
