#include "sqlite_files.h"

#include <sqlite3.h>

#include "command.h"

namespace hhctl {

namespace fs = std::filesystem;

void Quiesce(const fs::path& path) {
  if (!fs::exists(path)) return;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  if (fs::exists(path.string() + "-wal")) {
    throw Failure(path.string() + " still has a write-ahead log: is a connection open?");
  }
}

std::string IntegrityCheck(const fs::path& path) {
  if (!fs::exists(path)) return "missing";
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    result = std::string("cannot open: ") + (db ? sqlite3_errmsg(db) : "out of memory");
  } else {
    sqlite3_busy_timeout(db, 5000);
    auto collect = [](void* out, int, char** values, char**) {
      auto* text = static_cast<std::string*>(out);
      if (!text->empty()) *text += "; ";
      *text += values[0] ? values[0] : "";
      return 0;
    };
    char* message = nullptr;
    if (sqlite3_exec(db, "PRAGMA integrity_check", collect, &result, &message) != SQLITE_OK) {
      result = std::string("integrity_check failed: ") + (message ? message : "");
    }
    sqlite3_free(message);
  }
  sqlite3_close(db);
  return result;
}

}  // namespace hhctl
