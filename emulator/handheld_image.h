#pragma once
// The handheld image as SQL: the file's layout, opening and creating it, and
// every query the emulated handheld makes of it. Nothing here knows the
// handheld's calls or their error codes; that is EmulatedHandheld's part.
//
// Every method but Open, Create and Close needs an open image and throws
// SqlError when SQLite fails (and std::exception for a damaged image); the
// caller runs it inside a transaction (Begin) and turns failures into error
// values.
//
// A call costs what its storage must: statements are prepared once per
// connection; a record is one row keyed by its database and its id (so a
// database's records lie together, in id order, and adding one appends to
// its database's run without a second index), its properties packed into
// one value; and what every call consults (the connected mark, which
// operations have faults armed, the next object id) is kept in memory and
// read again only when another connection has changed the file since
// (PRAGMA data_version).
//
// Thread safety: none; EmulatedHandheld serializes its use.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "platform/rapi.h"
#include "platform/sqlite/sqlite_statement.h"

namespace hhsync {

class HandheldImage {
 public:
  explicit HandheldImage(std::string path) : path_(std::move(path)) {}
  ~HandheldImage() { Close(); }
  HandheldImage(const HandheldImage&) = delete;
  HandheldImage& operator=(const HandheldImage&) = delete;

  // Makes a new, connected, empty image; refuses a path that exists. False
  // with a one-line reason in *err.
  static bool Create(const std::string& path, std::string* err);
  // Whether a regular file exists at path.
  static bool FileExists(const std::string& path);

  const std::string& path() const { return path_; }
  // Opens the image when it is not open yet; never creates it. False when
  // there is no file or it is not a handheld image of this layout, with the
  // reason in openError().
  bool Open();
  void Close();
  const std::string& openError() const { return openError_; }

  // A transaction on the open image: a read takes no write lock and sees one
  // snapshot; a write is BEGIN IMMEDIATE. Ending without Commit rolls back.
  // Begin brings the cached state up to date with the file.
  enum class Access { kRead, kWrite };
  class Transaction {
   public:
    Transaction(HandheldImage& image, Access access);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

   private:
    HandheldImage& image_;
    Access access_;
    bool done_ = false;
  };
  // A point inside a write transaction that Undo goes back to (the calls of
  // an operation that counted a fault, whose count must stay).
  void Mark();
  void Undo();
  void Unmark();

  // The image's settings: "connected", "sd6", "next_oid".
  std::string Meta(const char* key);
  void SetMeta(const char* key, const std::string& value);
  bool Connected() { return cache_.connected; }
  // A new object id, never 0; ids are never handed out twice.
  CEOID NextOid();

  // Faults: whether any fault is armed on op (then counting the call writes,
  // so it needs a write transaction); CountCall counts a call of op against
  // every fault on it and gives the error of the first fault that fires.
  bool FaultArmed(const char* op) const { return cache_.faultOps.count(op) != 0; }
  std::optional<uint32_t> CountCall(const char* op);
  void AddFault(const InjectedFault& fault);
  void ClearFaults();
  std::vector<InjectedFault> Faults();

  // Libraries installed on the handheld, and the calls made of them.
  bool LibraryInstalled(const std::string& name);
  void InstallLibrary(const std::string& name);
  bool RemoveLibrary(const std::string& name);  // false when it was not installed
  std::vector<std::string> Libraries();
  void LogCall(const std::string& library, const std::string& function, const std::string& input);
  std::vector<HandheldDump::Call> Calls();

  // Volumes (0 is no volume) and their databases (0 is no database).
  int64_t VolumeByName(const std::string& name);
  int64_t AddVolume(const std::string& name);
  CEOID DatabaseByName(int64_t volume, const std::string& name);
  bool DatabaseInVolume(int64_t volume, CEOID oid);
  bool DatabaseExists(CEOID oid);
  std::vector<CeSortOrder> DatabaseSorts(CEOID oid);
  // The name and record count of a database of the volume.
  bool DatabaseInfo(int64_t volume, CEOID oid, std::string* name, int64_t* records);
  CEOID CreateDatabase(int64_t volume, const std::string& name,
                       const std::vector<CeSortOrder>& sorts);
  void DeleteDatabase(CEOID oid);  // with its records
  std::vector<HandheldDump::Volume> Volumes();

  // Records, walked in id order.
  CEOID AddRecord(CEOID db, const std::vector<CePropVal>& values);
  // The first record of db after the one with id `after`, or 0.
  CEOID NextRecord(CEOID db, CEOID after);
  std::vector<CePropVal> RecordProps(CEOID db, CEOID record);  // every property, in id order
  // The properties asked for, in that order; nothing for one the record lacks.
  std::vector<std::optional<CePropVal>> RecordProps(CEOID db, CEOID record,
                                                    const std::vector<CEPROPID>& ids);
  bool DeleteRecord(CEOID db, CEOID record);  // false when db has no such record

  // The registry: keys by path (case ignored), each with a default value.
  // A key exists when it was created or has sub-keys; the root always does.
  bool KeyExists(const std::string& keyPath);
  void CreateKey(const std::string& keyPath);
  bool DeleteKeyTree(const std::string& keyPath);  // false when nothing was there
  void SetDefaultValue(const std::string& keyPath, uint32_t type, const std::vector<uint8_t>& data);
  // False when the key has no default value.
  bool DefaultValue(const std::string& keyPath, uint32_t* type, std::vector<uint8_t>* data);
  std::vector<HandheldDump::RegistryEntry> Registry();

 private:
  // A cached statement in use; reset when the use ends, so no statement
  // holds a read snapshot past its call.
  class Use {
   public:
    explicit Use(SqlStatement& s) : s_(s) {}
    ~Use() { s_.Reset(); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    SqlStatement* operator->() { return &s_; }
    SqlStatement& operator*() { return s_; }

   private:
    SqlStatement& s_;
  };
  // The statement for sql (a string literal: it is cached by its address),
  // prepared on first use.
  Use Query(const char* sql);
  // Runs a cached statement that returns no rows.
  void Run(const char* sql);

  // What every call consults, as of the file's data version `version`
  // (-1: read it again).
  struct Cache {
    int64_t version = -1;
    bool connected = false;
    std::set<std::string, std::less<>> faultOps;
    bool oidKnown = false;       // nextOid is worked out on first use
    uint64_t nextOid = 1;        // the next object id to hand out
    uint64_t storedNextOid = 1;  // what the meta row holds
  };
  void Refresh();
  // Forgets the cache; after a rollback it may hold what was undone.
  void Invalidate() { cache_.version = -1; }
  // The next object id from what the file holds: past every database and
  // record, and never below the stored mark.
  void FindNextOid();
  // Keeps the stored next id at or above every id handed out, so that
  // deleting the newest object never lets its id be handed out again.
  void KeepNextOid();

  std::string path_;
  std::string openError_;
  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, std::unique_ptr<SqlStatement>> statements_;
  Cache cache_;
};

// A default value as text: REG_SZ as UTF-8 up to its first zero, anything
// else as lowercase hex.
std::string RegistryValueText(uint32_t type, const std::vector<uint8_t>& data);

}  // namespace hhsync
