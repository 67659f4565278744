#include "platform/sqlite/sqlite_statement.h"

#include <sqlite3.h>

namespace hhsync {

bool SqlError::diskFull() const { return code_ == SQLITE_FULL; }

bool SqlError::damaged() const {
  const int primary = code_ & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void ThrowSqlError(sqlite3* db, int rc) {
  throw SqlError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

void Exec(sqlite3* db, const char* sql) {
  char* msg = nullptr;
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    std::string text = msg ? msg : sqlite3_errstr(rc);
    sqlite3_free(msg);
    throw SqlError(rc, text);
  }
}

SqlStatement::SqlStatement(sqlite3* db, const char* sql) : db_(db) {
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    ThrowSqlError(db, rc);
  }
}

SqlStatement::~SqlStatement() { sqlite3_finalize(stmt_); }

void SqlStatement::Check(int rc) {
  if (rc != SQLITE_OK) ThrowSqlError(db_, rc);
}

SqlStatement& SqlStatement::Bind(int i, int64_t value) {
  Check(sqlite3_bind_int64(stmt_, i, value));
  return *this;
}

SqlStatement& SqlStatement::Bind(int i, std::string_view text) {
  // An empty view may have no data at all; SQLite would bind that as NULL.
  const char* data = text.data() ? text.data() : "";
  Check(sqlite3_bind_text(stmt_, i, data, static_cast<int>(text.size()), SQLITE_TRANSIENT));
  return *this;
}

SqlStatement& SqlStatement::BindBlob(int i, const void* data, std::size_t size) {
  if (size == 0) {
    Check(sqlite3_bind_zeroblob(stmt_, i, 0));
  } else {
    Check(sqlite3_bind_blob(stmt_, i, data, static_cast<int>(size), SQLITE_TRANSIENT));
  }
  return *this;
}

bool SqlStatement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  ThrowSqlError(db_, rc);
}

void SqlStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t SqlStatement::Int(int col) { return sqlite3_column_int64(stmt_, col); }

bool SqlStatement::IsNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

std::string SqlStatement::Text(int col) {
  const void* p = sqlite3_column_blob(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

std::vector<uint8_t> SqlStatement::Blob(int col) {
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

std::string_view SqlStatement::View(int col) {
  const void* p = sqlite3_column_blob(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n))
           : std::string_view();
}

int SqlStatement::Changes() const { return sqlite3_changes(db_); }

int64_t SqlStatement::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

SqlTransaction::SqlTransaction(sqlite3* db) : db_(db) { Exec(db_, "BEGIN IMMEDIATE"); }

SqlTransaction::~SqlTransaction() {
  if (!done_) RollbackOpenTransaction(db_);
}

void SqlTransaction::Commit() {
  Exec(db_, "COMMIT");
  done_ = true;
}

void RollbackOpenTransaction(sqlite3* db) {
  if (db && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace hhsync
