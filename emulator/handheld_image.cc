#include "emulator/handheld_image.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "emulator/packed_props.h"

namespace hhsync {
namespace {

// Marks a file as a handheld image of this layout.
constexpr char kFormat[] = "hhsync-handheld-2";
constexpr int kBusyTimeoutMs = 5000;

constexpr char kSchema[] = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE registry(path TEXT PRIMARY KEY COLLATE NOCASE, type INTEGER, value BLOB);
CREATE TABLE libraries(name TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE volumes(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE);
CREATE TABLE databases(oid INTEGER PRIMARY KEY, volume INTEGER NOT NULL,
                       name TEXT NOT NULL COLLATE NOCASE, sorts TEXT NOT NULL DEFAULT '',
                       UNIQUE(volume, name));
CREATE TABLE records(key INTEGER PRIMARY KEY, props BLOB NOT NULL);
CREATE TABLE calls(id INTEGER PRIMARY KEY, library TEXT NOT NULL, function TEXT NOT NULL,
                   input TEXT NOT NULL);
CREATE TABLE faults(id INTEGER PRIMARY KEY, op TEXT NOT NULL, nth INTEGER NOT NULL,
                    every INTEGER NOT NULL, error INTEGER NOT NULL,
                    calls INTEGER NOT NULL DEFAULT 0);
)sql";

// Sort orders are kept as "propid:flags" pairs separated by ';'.
std::string EncodeSorts(const std::vector<CeSortOrder>& sorts) {
  std::string out;
  for (const CeSortOrder& s : sorts) {
    if (!out.empty()) out += ';';
    out += std::to_string(s.propid) + ":" + std::to_string(s.flags);
  }
  return out;
}

// Throws std::exception when the text is damaged.
std::vector<CeSortOrder> DecodeSorts(const std::string& text) {
  std::vector<CeSortOrder> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(pos, end - pos);
    std::size_t colon = item.find(':');
    CeSortOrder s;
    s.propid = static_cast<CEPROPID>(std::stoul(item.substr(0, colon)));
    if (colon != std::string::npos)
      s.flags = static_cast<uint32_t>(std::stoul(item.substr(colon + 1)));
    out.push_back(s);
    pos = end + 1;
  }
  return out;
}

// A record's row key: its database's id in the upper 32 bits, its own in
// the lower, so that a database's records are one range of keys.
int64_t RecordKey(CEOID db, CEOID record) {
  return static_cast<int64_t>(static_cast<uint64_t>(db) << 32 | record);
}
int64_t FirstKey(CEOID db) { return RecordKey(db, 0); }
int64_t LastKey(CEOID db) { return RecordKey(db, 0xFFFFFFFFu); }
CEOID RecordOfKey(int64_t key) { return static_cast<CEOID>(static_cast<uint64_t>(key)); }

}  // namespace

std::string RegistryValueText(uint32_t type, const std::vector<uint8_t>& data) {
  if (type == kRegSz) return WideToUtf8(BytesToWide(data));
  std::string hex;
  char buf[3];
  for (uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    hex += buf;
  }
  return hex;
}

// --- The file ----------------------------------------------------------------

bool HandheldImage::FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HandheldImage::Create(const std::string& path, std::string* err) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (err) *err = "handheld image " + path + " already exists";
    return false;
  }
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE, nullptr);
  if (rc != SQLITE_OK) {
    if (err) *err = "cannot create handheld image " + path + ": " + sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return false;
  }
  try {
    hhsync::Exec(db, "PRAGMA journal_mode=WAL");
    hhsync::Exec(db, "BEGIN");
    hhsync::Exec(db, kSchema);
    std::random_device rd;
    char sd6[16];
    std::snprintf(sd6, sizeof sd6, "SD6-%08X", static_cast<unsigned>(rd()));
    SqlStatement s(db, "INSERT INTO meta(key, value) VALUES(?1, ?2)");
    const std::pair<const char*, std::string> rows[] = {
        {"format", kFormat}, {"connected", "1"}, {"next_oid", "1"}, {"sd6", sd6}};
    for (const auto& [k, v] : rows) {
      s.Reset();
      s.Bind(1, k).Bind(2, v).Run();
    }
    hhsync::Exec(db, "COMMIT");
  } catch (const SqlError& e) {
    sqlite3_close_v2(db);
    std::remove(path.c_str());
    if (err) *err = "cannot create handheld image " + path + ": " + e.what();
    return false;
  }
  sqlite3_close_v2(db);
  return true;
}

// Why the directory of path cannot be written, in parentheses; empty when
// it can. A read-only directory keeps SQLite from opening an image whose
// write-ahead log it would have to make.
static std::string DirectoryNote(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (::access(dir.c_str(), W_OK) == 0) return "";
  return " (" + dir + ": " + std::strerror(errno) + ")";
}

bool HandheldImage::Open() {
  if (db_) return true;
  openError_.clear();
  if (!FileExists(path_)) {
    openError_ = "no handheld image at " + path_;
    return false;
  }
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    openError_ = "cannot open handheld image " + path_ + ": " + sqlite3_errmsg(h);
    sqlite3_close_v2(h);
    return false;
  }
  sqlite3_busy_timeout(h, kBusyTimeoutMs);
  try {
    hhsync::Exec(h, "PRAGMA synchronous=NORMAL");
    SqlStatement s(h, "SELECT value FROM meta WHERE key='format'");
    if (!s.Step() || s.Text(0) != kFormat) {
      openError_ = path_ + " is not a handheld image of this version (" + kFormat + ")";
      s.Reset();
      sqlite3_close_v2(h);
      return false;
    }
  } catch (const SqlError& e) {
    openError_ = e.damaged() || e.code() == SQLITE_ERROR
                     ? path_ + " is not a handheld image: " + e.what()
                     : "the handheld image " + path_ + " could not be read: " + e.what() +
                           DirectoryNote(path_);
    sqlite3_close_v2(h);
    return false;
  }
  db_ = h;
  Invalidate();
  return true;
}

void HandheldImage::Close() {
  statements_.clear();  // statements go before their connection
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

HandheldImage::Use HandheldImage::Query(const char* sql) {
  std::unique_ptr<SqlStatement>& s = statements_[sql];
  if (!s) s = std::make_unique<SqlStatement>(db_, sql);
  return Use(*s);
}

void HandheldImage::Run(const char* sql) { Query(sql)->Run(); }

// --- Transactions and the cache ----------------------------------------------

HandheldImage::Transaction::Transaction(HandheldImage& image, Access access)
    : image_(image), access_(access) {
  image_.Run(access == Access::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  try {
    image_.Refresh();
  } catch (...) {
    RollbackOpenTransaction(image_.db_);
    throw;
  }
}

HandheldImage::Transaction::~Transaction() {
  if (done_) return;
  RollbackOpenTransaction(image_.db_);
  if (access_ == Access::kWrite) image_.Invalidate();
}

void HandheldImage::Transaction::Commit() {
  // A read transaction that wrote would have taken the write lock late and
  // could fail on a busy snapshot; it is a mistake in the caller.
  if (access_ == Access::kRead && sqlite3_txn_state(image_.db_, nullptr) == SQLITE_TXN_WRITE) {
    throw std::logic_error("a read transaction changed the handheld image");
  }
  image_.Run("COMMIT");
  done_ = true;
}

void HandheldImage::Mark() { Run("SAVEPOINT work"); }

void HandheldImage::Undo() {
  Run("ROLLBACK TO work");
  Invalidate();
}

void HandheldImage::Unmark() { Run("RELEASE work"); }

void HandheldImage::Refresh() {
  int64_t version = 0;
  {
    Use v = Query("PRAGMA data_version");
    if (!v->Step()) throw std::runtime_error("no data version");
    version = v->Int(0);
  }
  if (version == cache_.version) return;
  Cache c;
  c.connected = Meta("connected") == "1";
  {
    Use s = Query("SELECT DISTINCT op FROM faults");
    while (s->Step()) c.faultOps.insert(s->Text(0));
  }
  c.version = version;
  cache_ = std::move(c);
}

void HandheldImage::FindNextOid() {
  const std::string stored = Meta("next_oid");
  cache_.storedNextOid = stored.empty() ? 1 : std::stoull(stored);
  cache_.nextOid = cache_.storedNextOid;
  // The newest record of each database: one seek per database.
  for (const char* sql : {"SELECT max(oid) FROM databases",
                          "SELECT max((SELECT key FROM records WHERE key BETWEEN (d.oid << 32)"
                          " AND (d.oid << 32) + 4294967295 ORDER BY key DESC LIMIT 1) & 4294967295)"
                          " FROM databases d"}) {
    Use s = Query(sql);
    if (s->Step() && !s->IsNull(0)) {
      cache_.nextOid = std::max(cache_.nextOid, static_cast<uint64_t>(s->Int(0)) + 1);
    }
  }
  cache_.oidKnown = true;
}

// --- Settings and faults -----------------------------------------------------

std::string HandheldImage::Meta(const char* key) {
  Use s = Query("SELECT value FROM meta WHERE key=?1");
  s->Bind(1, key);
  return s->Step() ? s->Text(0) : std::string();
}

void HandheldImage::SetMeta(const char* key, const std::string& value) {
  {
    Use s = Query("INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    s->Bind(1, key).Bind(2, value).Run();
  }
  Invalidate();
}

CEOID HandheldImage::NextOid() {
  if (!cache_.oidKnown) FindNextOid();
  CEOID oid = static_cast<CEOID>(cache_.nextOid);
  if (oid == 0) oid = 1;
  cache_.nextOid = static_cast<uint64_t>(oid) + 1;
  return oid;
}

void HandheldImage::KeepNextOid() {
  if (!cache_.oidKnown) FindNextOid();
  if (cache_.storedNextOid >= cache_.nextOid) return;
  Use s = Query("INSERT OR REPLACE INTO meta(key, value) VALUES('next_oid', ?1)");
  s->Bind(1, std::to_string(cache_.nextOid)).Run();
  cache_.storedNextOid = cache_.nextOid;
}

std::optional<uint32_t> HandheldImage::CountCall(const char* op) {
  {
    Use u = Query("UPDATE faults SET calls = calls + 1 WHERE op = ?1");
    u->Bind(1, op).Run();
    if (u->Changes() == 0) return std::nullopt;
  }
  Use s = Query(
      "SELECT error FROM faults WHERE op = ?1 AND (calls = nth OR (every != 0 AND calls >= nth))"
      " ORDER BY id LIMIT 1");
  s->Bind(1, op);
  if (s->Step()) return static_cast<uint32_t>(s->Int(0));
  return std::nullopt;
}

void HandheldImage::AddFault(const InjectedFault& fault) {
  {
    Use s = Query("INSERT INTO faults(op, nth, every, error, calls) VALUES(?1, ?2, ?3, ?4, 0)");
    s->Bind(1, fault.operation)
        .Bind(2, static_cast<int64_t>(fault.nth))
        .Bind(3, fault.every ? 1 : 0)
        .Bind(4, static_cast<int64_t>(fault.error))
        .Run();
  }
  Invalidate();
}

void HandheldImage::ClearFaults() {
  Run("DELETE FROM faults");
  Invalidate();
}

std::vector<InjectedFault> HandheldImage::Faults() {
  std::vector<InjectedFault> out;
  Use s = Query("SELECT op, nth, every, error, calls FROM faults ORDER BY id");
  while (s->Step()) {
    InjectedFault f;
    f.operation = s->Text(0);
    f.nth = static_cast<uint32_t>(s->Int(1));
    f.every = s->Int(2) != 0;
    f.error = static_cast<uint32_t>(s->Int(3));
    f.calls = static_cast<uint32_t>(s->Int(4));
    out.push_back(std::move(f));
  }
  return out;
}

// --- Libraries and calls -----------------------------------------------------

bool HandheldImage::LibraryInstalled(const std::string& name) {
  Use s = Query("SELECT 1 FROM libraries WHERE name = ?1");
  s->Bind(1, name);
  return s->Step();
}

void HandheldImage::InstallLibrary(const std::string& name) {
  Use s = Query("INSERT OR IGNORE INTO libraries(name) VALUES(?1)");
  s->Bind(1, name).Run();
}

bool HandheldImage::RemoveLibrary(const std::string& name) {
  Use s = Query("DELETE FROM libraries WHERE name = ?1");
  s->Bind(1, name).Run();
  return s->Changes() != 0;
}

std::vector<std::string> HandheldImage::Libraries() {
  std::vector<std::string> out;
  Use s = Query("SELECT name FROM libraries ORDER BY name");
  while (s->Step()) out.push_back(s->Text(0));
  return out;
}

void HandheldImage::LogCall(const std::string& library, const std::string& function,
                            const std::string& input) {
  Use c = Query("INSERT INTO calls(library, function, input) VALUES(?1, ?2, ?3)");
  c->Bind(1, library).Bind(2, function).Bind(3, input).Run();
}

std::vector<HandheldDump::Call> HandheldImage::Calls() {
  std::vector<HandheldDump::Call> out;
  Use s = Query("SELECT library, function, input FROM calls ORDER BY id");
  while (s->Step()) out.push_back({s->Text(0), s->Text(1), s->Text(2)});
  return out;
}

// --- Volumes and databases ---------------------------------------------------

int64_t HandheldImage::VolumeByName(const std::string& name) {
  Use s = Query("SELECT id FROM volumes WHERE name = ?1");
  s->Bind(1, name);
  return s->Step() ? s->Int(0) : 0;
}

int64_t HandheldImage::AddVolume(const std::string& name) {
  Use s = Query("INSERT INTO volumes(name) VALUES(?1)");
  s->Bind(1, name).Run();
  return s->LastInsertId();
}

CEOID HandheldImage::DatabaseByName(int64_t volume, const std::string& name) {
  Use s = Query("SELECT oid FROM databases WHERE volume = ?1 AND name = ?2");
  s->Bind(1, volume).Bind(2, name);
  return s->Step() ? static_cast<CEOID>(s->Int(0)) : 0;
}

bool HandheldImage::DatabaseInVolume(int64_t volume, CEOID oid) {
  Use s = Query("SELECT 1 FROM databases WHERE volume = ?1 AND oid = ?2");
  s->Bind(1, volume).Bind(2, static_cast<int64_t>(oid));
  return s->Step();
}

bool HandheldImage::DatabaseExists(CEOID oid) {
  Use s = Query("SELECT 1 FROM databases WHERE oid = ?1");
  s->Bind(1, static_cast<int64_t>(oid));
  return s->Step();
}

std::vector<CeSortOrder> HandheldImage::DatabaseSorts(CEOID oid) {
  Use s = Query("SELECT sorts FROM databases WHERE oid = ?1");
  s->Bind(1, static_cast<int64_t>(oid));
  return s->Step() ? DecodeSorts(s->Text(0)) : std::vector<CeSortOrder>();
}

bool HandheldImage::DatabaseInfo(int64_t volume, CEOID oid, std::string* name, int64_t* records) {
  Use s = Query(
      "SELECT name, (SELECT count(*) FROM records WHERE key BETWEEN ?3 AND ?4)"
      " FROM databases d WHERE volume = ?1 AND oid = ?2");
  s->Bind(1, volume)
      .Bind(2, static_cast<int64_t>(oid))
      .Bind(3, FirstKey(oid))
      .Bind(4, LastKey(oid));
  if (!s->Step()) return false;
  *name = s->Text(0);
  *records = s->Int(1);
  return true;
}

CEOID HandheldImage::CreateDatabase(int64_t volume, const std::string& name,
                                    const std::vector<CeSortOrder>& sorts) {
  CEOID oid = NextOid();
  Use s = Query("INSERT INTO databases(oid, volume, name, sorts) VALUES(?1, ?2, ?3, ?4)");
  s->Bind(1, static_cast<int64_t>(oid)).Bind(2, volume).Bind(3, name).Bind(4, EncodeSorts(sorts));
  s->Run();
  return oid;
}

void HandheldImage::DeleteDatabase(CEOID oid) {
  {
    Use r = Query("DELETE FROM records WHERE key BETWEEN ?1 AND ?2");
    r->Bind(1, FirstKey(oid)).Bind(2, LastKey(oid)).Run();
  }
  {
    Use d = Query("DELETE FROM databases WHERE oid = ?1");
    d->Bind(1, static_cast<int64_t>(oid)).Run();
  }
  KeepNextOid();
}

std::vector<HandheldDump::Volume> HandheldImage::Volumes() {
  std::vector<HandheldDump::Volume> out;
  Use vols = Query("SELECT id, name FROM volumes ORDER BY name");
  Use dbs = Query("SELECT oid, name, sorts FROM databases WHERE volume = ?1 ORDER BY oid");
  Use recs = Query("SELECT key, props FROM records WHERE key BETWEEN ?1 AND ?2 ORDER BY key");
  while (vols->Step()) {
    HandheldDump::Volume v;
    v.name = vols->Text(1);
    dbs->Reset();
    dbs->Bind(1, vols->Int(0));
    while (dbs->Step()) {
      HandheldDump::Database dbase;
      dbase.oid = static_cast<CEOID>(dbs->Int(0));
      dbase.name = dbs->Text(1);
      dbase.sorts = DecodeSorts(dbs->Text(2));
      recs->Reset();
      recs->Bind(1, FirstKey(dbase.oid)).Bind(2, LastKey(dbase.oid));
      while (recs->Step()) {
        HandheldDump::Record r;
        r.id = RecordOfKey(recs->Int(0));
        std::string_view packed = recs->View(1);
        r.props = UnpackProps(packed.data(), packed.size());
        dbase.records.push_back(std::move(r));
      }
      v.databases.push_back(std::move(dbase));
    }
    out.push_back(std::move(v));
  }
  return out;
}

// --- Records -----------------------------------------------------------------

CEOID HandheldImage::AddRecord(CEOID db, const std::vector<CePropVal>& values) {
  CEOID oid = NextOid();
  Use r = Query("INSERT INTO records(key, props) VALUES(?1, ?2)");
  r->Bind(1, RecordKey(db, oid)).BindBlob(2, PackProps(values)).Run();
  return oid;
}

CEOID HandheldImage::NextRecord(CEOID db, CEOID after) {
  if (after == 0xFFFFFFFFu) return 0;
  Use s = Query("SELECT key FROM records WHERE key BETWEEN ?1 AND ?2 ORDER BY key LIMIT 1");
  s->Bind(1, RecordKey(db, after + 1)).Bind(2, LastKey(db));
  return s->Step() ? RecordOfKey(s->Int(0)) : 0;
}

std::vector<CePropVal> HandheldImage::RecordProps(CEOID db, CEOID record) {
  Use s = Query("SELECT props FROM records WHERE key = ?1");
  s->Bind(1, RecordKey(db, record));
  if (!s->Step()) return {};
  std::string_view packed = s->View(0);
  return UnpackProps(packed.data(), packed.size());
}

std::vector<std::optional<CePropVal>> HandheldImage::RecordProps(CEOID db, CEOID record,
                                                                 const std::vector<CEPROPID>& ids) {
  std::vector<std::optional<CePropVal>> out(ids.size());
  Use s = Query("SELECT props FROM records WHERE key = ?1");
  s->Bind(1, RecordKey(db, record));
  if (!s->Step()) return out;
  std::string_view packed = s->View(0);
  ForEachPacked(packed.data(), packed.size(), [&](CEPROPID id, const uint8_t* p, uint32_t n) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] == id) out[i] = UnpackProp(id, p, n);
    }
  });
  return out;
}

bool HandheldImage::DeleteRecord(CEOID db, CEOID record) {
  {
    Use r = Query("DELETE FROM records WHERE key = ?1");
    r->Bind(1, RecordKey(db, record)).Run();
    if (r->Changes() == 0) return false;
  }
  KeepNextOid();
  return true;
}

// --- Registry ----------------------------------------------------------------

bool HandheldImage::KeyExists(const std::string& keyPath) {
  if (keyPath.empty()) return true;
  Use s = Query(
      "SELECT 1 FROM registry WHERE path = ?1"
      " OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE LIMIT 1");
  s->Bind(1, keyPath).Bind(2, keyPath + "\\");
  return s->Step();
}

void HandheldImage::CreateKey(const std::string& keyPath) {
  Use s = Query("INSERT OR IGNORE INTO registry(path, type, value) VALUES(?1, NULL, NULL)");
  s->Bind(1, keyPath).Run();
}

bool HandheldImage::DeleteKeyTree(const std::string& keyPath) {
  Use s = Query(
      "DELETE FROM registry WHERE path = ?1 OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
  s->Bind(1, keyPath).Bind(2, keyPath + "\\").Run();
  return s->Changes() != 0;
}

void HandheldImage::SetDefaultValue(const std::string& keyPath, uint32_t type,
                                    const std::vector<uint8_t>& data) {
  Use s = Query(
      "INSERT INTO registry(path, type, value) VALUES(?1, ?2, ?3)"
      " ON CONFLICT(path) DO UPDATE SET type = excluded.type, value = excluded.value");
  s->Bind(1, keyPath).Bind(2, static_cast<int64_t>(type)).BindBlob(3, data);
  s->Run();
}

bool HandheldImage::DefaultValue(const std::string& keyPath, uint32_t* type,
                                 std::vector<uint8_t>* data) {
  Use s = Query("SELECT type, value FROM registry WHERE path = ?1 AND value IS NOT NULL");
  s->Bind(1, keyPath);
  if (!s->Step()) return false;
  *type = static_cast<uint32_t>(s->Int(0));
  *data = s->Blob(1);
  return true;
}

std::vector<HandheldDump::RegistryEntry> HandheldImage::Registry() {
  std::vector<HandheldDump::RegistryEntry> out;
  Use s = Query("SELECT path, type, value FROM registry ORDER BY path");
  while (s->Step()) {
    HandheldDump::RegistryEntry e;
    e.path = s->Text(0);
    e.hasValue = !s->IsNull(2);
    if (e.hasValue) e.value = RegistryValueText(static_cast<uint32_t>(s->Int(1)), s->Blob(2));
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace hhsync
