#pragma once
// The SQLite layer shared by the adapters that keep their data in SQLite
// files: the desktop registry store and the emulated handheld's image.
//
// Every failure is thrown as SqlError. Each adapter catches it at the
// boundary of its own public calls and turns it into its error value there
// (the registry store answers false or nothing; the handheld leaves an
// error code), so no exception crosses a port.
//
// Thread safety: none here; a connection and its statements are used by one
// thread at a time, which the adapters ensure with their own locks.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace hhsync {

// An SQLite failure: its result code and SQLite's message (the what()).
class SqlError : public std::runtime_error {
 public:
  SqlError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }
  // The disk or the database file is full (SQLITE_FULL).
  bool diskFull() const;
  // The file is damaged or is no database (SQLITE_CORRUPT, SQLITE_NOTADB).
  bool damaged() const;

 private:
  int code_;
};

// Throws SqlError for the result code rc of a call on db (db may be null).
[[noreturn]] void ThrowSqlError(sqlite3* db, int rc);

// Runs statements that return no rows, such as "BEGIN" or a schema.
void Exec(sqlite3* db, const char* sql);

// One prepared statement on a connection that outlives it.
class SqlStatement {
 public:
  SqlStatement(sqlite3* db, const char* sql);
  ~SqlStatement();
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  // Parameters are numbered from 1. Text and bytes are copied.
  SqlStatement& Bind(int i, int64_t value);
  SqlStatement& Bind(int i, std::string_view text);
  // A zero-length value binds an empty blob, never NULL.
  SqlStatement& BindBlob(int i, const void* data, std::size_t size);
  SqlStatement& BindBlob(int i, std::string_view bytes) {
    return BindBlob(i, bytes.data(), bytes.size());
  }
  SqlStatement& BindBlob(int i, const std::vector<uint8_t>& bytes) {
    return BindBlob(i, bytes.data(), bytes.size());
  }

  // Steps once: true when a row is available, false when the statement is done.
  bool Step();
  // Runs a statement that returns no rows.
  void Run() { Step(); }
  // Makes the statement ready to be bound and run again.
  void Reset();

  // Columns of the current row, numbered from 0. NULL reads as 0 or empty.
  int64_t Int(int col);
  bool IsNull(int col);
  std::string Text(int col);  // the bytes as stored, text or blob
  std::vector<uint8_t> Blob(int col);
  // The bytes without a copy; valid until the statement steps or resets.
  std::string_view View(int col);

  // Rows changed by the statement the connection ran last (call after Run).
  int Changes() const;
  // The rowid of the row the connection inserted last.
  int64_t LastInsertId() const;

 private:
  void Check(int rc);

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// "BEGIN IMMEDIATE" now; rolled back when it ends without Commit (an early
// return or an exception), so a failed call never leaves half its changes.
class SqlTransaction {
 public:
  explicit SqlTransaction(sqlite3* db);
  ~SqlTransaction();
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;

  void Commit();

 private:
  sqlite3* db_;
  bool done_ = false;
};

// Rolls back the transaction open on db, if any; never throws.
void RollbackOpenTransaction(sqlite3* db);

}  // namespace hhsync
