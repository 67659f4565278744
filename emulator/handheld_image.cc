#include "emulator/handheld_image.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <random>
#include <utility>

#include "base/text.h"

namespace hhsync {
namespace {

// Marks a file as a handheld image of this layout.
constexpr char kFormat[] = "hhsync-handheld-1";
constexpr int kBusyTimeoutMs = 5000;

constexpr char kSchema[] = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE registry(path TEXT PRIMARY KEY COLLATE NOCASE, type INTEGER, value BLOB);
CREATE TABLE libraries(name TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE volumes(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE);
CREATE TABLE databases(oid INTEGER PRIMARY KEY, volume INTEGER NOT NULL,
                       name TEXT NOT NULL COLLATE NOCASE, sorts TEXT NOT NULL DEFAULT '',
                       UNIQUE(volume, name));
CREATE TABLE records(oid INTEGER PRIMARY KEY, db INTEGER NOT NULL);
CREATE INDEX records_by_db ON records(db, oid);
CREATE TABLE props(record INTEGER NOT NULL, propid INTEGER NOT NULL, value,
                   PRIMARY KEY(record, propid)) WITHOUT ROWID;
CREATE TABLE calls(id INTEGER PRIMARY KEY, library TEXT NOT NULL, function TEXT NOT NULL,
                   input TEXT NOT NULL);
CREATE TABLE faults(id INTEGER PRIMARY KEY, op TEXT NOT NULL, nth INTEGER NOT NULL,
                    every INTEGER NOT NULL, error INTEGER NOT NULL,
                    calls INTEGER NOT NULL DEFAULT 0);
)sql";

// Text properties are kept as their UTF-16LE bytes.
std::vector<uint8_t> WideToRawBytes(const std::u16string& s) {
  std::vector<uint8_t> out;
  out.reserve(s.size() * 2);
  for (char16_t u : s) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  return out;
}

std::u16string RawBytesToWide(const std::vector<uint8_t>& b) {
  std::u16string out;
  out.reserve(b.size() / 2);
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    out += static_cast<char16_t>(b[i] | (b[i + 1] << 8));
  }
  return out;
}

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

CePropVal PropFromColumn(SqlStatement& s, int col, CEPROPID id) {
  CePropVal v;
  v.propid = id;
  switch (PropType(id)) {
    case CEVT_UI4:
      v.ulVal = static_cast<uint32_t>(s.Int(col));
      break;
    case CEVT_LPWSTR:
      v.lpwsz = RawBytesToWide(s.Blob(col));
      break;
    default:
      v.blob = s.Blob(col);
      break;
  }
  return v;
}

void BindProp(SqlStatement& s, int i, const CePropVal& v) {
  switch (PropType(v.propid)) {
    case CEVT_UI4:
      s.Bind(i, static_cast<int64_t>(v.ulVal));
      break;
    case CEVT_LPWSTR:
      s.BindBlob(i, WideToRawBytes(v.lpwsz));
      break;
    default:
      s.BindBlob(i, v.blob);
      break;
  }
}

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

bool HandheldImage::Open() {
  if (db_) return true;
  if (!FileExists(path_)) return false;
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(h);
    return false;
  }
  sqlite3_busy_timeout(h, kBusyTimeoutMs);
  try {
    hhsync::Exec(h, "PRAGMA synchronous=NORMAL");
    SqlStatement s(h, "SELECT value FROM meta WHERE key='format'");
    if (!s.Step() || s.Text(0) != kFormat) {
      sqlite3_close_v2(h);
      return false;
    }
  } catch (const SqlError&) {
    sqlite3_close_v2(h);
    return false;
  }
  db_ = h;
  return true;
}

void HandheldImage::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void HandheldImage::Exec(const char* sql) { hhsync::Exec(db_, sql); }

// --- Settings and faults -----------------------------------------------------

std::string HandheldImage::Meta(const char* key) {
  SqlStatement s(db_, "SELECT value FROM meta WHERE key=?1");
  s.Bind(1, key);
  return s.Step() ? s.Text(0) : std::string();
}

void HandheldImage::SetMeta(const char* key, const std::string& value) {
  SqlStatement s(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
  s.Bind(1, key).Bind(2, value).Run();
}

CEOID HandheldImage::NextOid() {
  std::string v = Meta("next_oid");
  CEOID oid = v.empty() ? 1 : static_cast<CEOID>(std::stoul(v));
  if (oid == 0) oid = 1;
  SetMeta("next_oid", std::to_string(static_cast<uint64_t>(oid) + 1));
  return oid;
}

std::optional<uint32_t> HandheldImage::CountCall(const char* op) {
  SqlStatement u(db_, "UPDATE faults SET calls = calls + 1 WHERE op = ?1");
  u.Bind(1, op).Run();
  if (u.Changes() == 0) return std::nullopt;
  SqlStatement s(
      db_,
      "SELECT error FROM faults WHERE op = ?1 AND (calls = nth OR (every != 0 AND calls >= nth))"
      " ORDER BY id LIMIT 1");
  s.Bind(1, op);
  if (s.Step()) return static_cast<uint32_t>(s.Int(0));
  return std::nullopt;
}

void HandheldImage::AddFault(const InjectedFault& fault) {
  SqlStatement s(db_, "INSERT INTO faults(op, nth, every, error, calls) VALUES(?1, ?2, ?3, ?4, 0)");
  s.Bind(1, fault.operation)
      .Bind(2, static_cast<int64_t>(fault.nth))
      .Bind(3, fault.every ? 1 : 0)
      .Bind(4, static_cast<int64_t>(fault.error))
      .Run();
}

void HandheldImage::ClearFaults() { Exec("DELETE FROM faults"); }

std::vector<InjectedFault> HandheldImage::Faults() {
  std::vector<InjectedFault> out;
  SqlStatement s(db_, "SELECT op, nth, every, error, calls FROM faults ORDER BY id");
  while (s.Step()) {
    InjectedFault f;
    f.operation = s.Text(0);
    f.nth = static_cast<uint32_t>(s.Int(1));
    f.every = s.Int(2) != 0;
    f.error = static_cast<uint32_t>(s.Int(3));
    f.calls = static_cast<uint32_t>(s.Int(4));
    out.push_back(std::move(f));
  }
  return out;
}

// --- Libraries and calls -----------------------------------------------------

bool HandheldImage::LibraryInstalled(const std::string& name) {
  SqlStatement s(db_, "SELECT 1 FROM libraries WHERE name = ?1");
  s.Bind(1, name);
  return s.Step();
}

void HandheldImage::InstallLibrary(const std::string& name) {
  SqlStatement s(db_, "INSERT OR IGNORE INTO libraries(name) VALUES(?1)");
  s.Bind(1, name).Run();
}

bool HandheldImage::RemoveLibrary(const std::string& name) {
  SqlStatement s(db_, "DELETE FROM libraries WHERE name = ?1");
  s.Bind(1, name).Run();
  return s.Changes() != 0;
}

std::vector<std::string> HandheldImage::Libraries() {
  std::vector<std::string> out;
  SqlStatement s(db_, "SELECT name FROM libraries ORDER BY name");
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

void HandheldImage::LogCall(const std::string& library, const std::string& function,
                            const std::string& input) {
  SqlStatement c(db_, "INSERT INTO calls(library, function, input) VALUES(?1, ?2, ?3)");
  c.Bind(1, library).Bind(2, function).Bind(3, input).Run();
}

std::vector<HandheldDump::Call> HandheldImage::Calls() {
  std::vector<HandheldDump::Call> out;
  SqlStatement s(db_, "SELECT library, function, input FROM calls ORDER BY id");
  while (s.Step()) out.push_back({s.Text(0), s.Text(1), s.Text(2)});
  return out;
}

// --- Volumes and databases ---------------------------------------------------

int64_t HandheldImage::VolumeByName(const std::string& name) {
  SqlStatement s(db_, "SELECT id FROM volumes WHERE name = ?1");
  s.Bind(1, name);
  return s.Step() ? s.Int(0) : 0;
}

int64_t HandheldImage::AddVolume(const std::string& name) {
  SqlStatement s(db_, "INSERT INTO volumes(name) VALUES(?1)");
  s.Bind(1, name).Run();
  return s.LastInsertId();
}

CEOID HandheldImage::DatabaseByName(int64_t volume, const std::string& name) {
  SqlStatement s(db_, "SELECT oid FROM databases WHERE volume = ?1 AND name = ?2");
  s.Bind(1, volume).Bind(2, name);
  return s.Step() ? static_cast<CEOID>(s.Int(0)) : 0;
}

bool HandheldImage::DatabaseInVolume(int64_t volume, CEOID oid) {
  SqlStatement s(db_, "SELECT 1 FROM databases WHERE volume = ?1 AND oid = ?2");
  s.Bind(1, volume).Bind(2, static_cast<int64_t>(oid));
  return s.Step();
}

bool HandheldImage::DatabaseExists(CEOID oid) {
  SqlStatement s(db_, "SELECT 1 FROM databases WHERE oid = ?1");
  s.Bind(1, static_cast<int64_t>(oid));
  return s.Step();
}

std::vector<CeSortOrder> HandheldImage::DatabaseSorts(CEOID oid) {
  SqlStatement s(db_, "SELECT sorts FROM databases WHERE oid = ?1");
  s.Bind(1, static_cast<int64_t>(oid));
  return s.Step() ? DecodeSorts(s.Text(0)) : std::vector<CeSortOrder>();
}

bool HandheldImage::DatabaseInfo(int64_t volume, CEOID oid, std::string* name, int64_t* records) {
  SqlStatement s(db_,
                 "SELECT name, (SELECT count(*) FROM records WHERE db = d.oid)"
                 " FROM databases d WHERE volume = ?1 AND oid = ?2");
  s.Bind(1, volume).Bind(2, static_cast<int64_t>(oid));
  if (!s.Step()) return false;
  *name = s.Text(0);
  *records = s.Int(1);
  return true;
}

CEOID HandheldImage::CreateDatabase(int64_t volume, const std::string& name,
                                    const std::vector<CeSortOrder>& sorts) {
  CEOID oid = NextOid();
  SqlStatement s(db_, "INSERT INTO databases(oid, volume, name, sorts) VALUES(?1, ?2, ?3, ?4)");
  s.Bind(1, static_cast<int64_t>(oid)).Bind(2, volume).Bind(3, name).Bind(4, EncodeSorts(sorts));
  s.Run();
  return oid;
}

void HandheldImage::DeleteDatabase(CEOID oid) {
  SqlStatement p(db_, "DELETE FROM props WHERE record IN (SELECT oid FROM records WHERE db = ?1)");
  p.Bind(1, static_cast<int64_t>(oid)).Run();
  SqlStatement r(db_, "DELETE FROM records WHERE db = ?1");
  r.Bind(1, static_cast<int64_t>(oid)).Run();
  SqlStatement d(db_, "DELETE FROM databases WHERE oid = ?1");
  d.Bind(1, static_cast<int64_t>(oid)).Run();
}

std::vector<HandheldDump::Volume> HandheldImage::Volumes() {
  std::vector<HandheldDump::Volume> out;
  SqlStatement vols(db_, "SELECT id, name FROM volumes ORDER BY name");
  SqlStatement dbs(db_, "SELECT oid, name, sorts FROM databases WHERE volume = ?1 ORDER BY oid");
  SqlStatement recs(db_, "SELECT oid FROM records WHERE db = ?1 ORDER BY oid");
  SqlStatement props(db_, "SELECT propid, value FROM props WHERE record = ?1 ORDER BY propid");
  while (vols.Step()) {
    HandheldDump::Volume v;
    v.name = vols.Text(1);
    dbs.Reset();
    dbs.Bind(1, vols.Int(0));
    while (dbs.Step()) {
      HandheldDump::Database dbase;
      dbase.oid = static_cast<CEOID>(dbs.Int(0));
      dbase.name = dbs.Text(1);
      dbase.sorts = DecodeSorts(dbs.Text(2));
      recs.Reset();
      recs.Bind(1, dbs.Int(0));
      while (recs.Step()) {
        HandheldDump::Record r;
        r.id = static_cast<CEOID>(recs.Int(0));
        props.Reset();
        props.Bind(1, recs.Int(0));
        while (props.Step()) {
          r.props.push_back(PropFromColumn(props, 1, static_cast<CEPROPID>(props.Int(0))));
        }
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
  SqlStatement r(db_, "INSERT INTO records(oid, db) VALUES(?1, ?2)");
  r.Bind(1, static_cast<int64_t>(oid)).Bind(2, static_cast<int64_t>(db)).Run();
  SqlStatement p(db_, "INSERT OR REPLACE INTO props(record, propid, value) VALUES(?1, ?2, ?3)");
  for (const CePropVal& v : values) {
    p.Reset();
    p.Bind(1, static_cast<int64_t>(oid)).Bind(2, static_cast<int64_t>(v.propid));
    BindProp(p, 3, v);
    p.Run();
  }
  return oid;
}

CEOID HandheldImage::NextRecord(CEOID db, CEOID after) {
  SqlStatement s(db_, "SELECT oid FROM records WHERE db = ?1 AND oid > ?2 ORDER BY oid LIMIT 1");
  s.Bind(1, static_cast<int64_t>(db)).Bind(2, static_cast<int64_t>(after));
  return s.Step() ? static_cast<CEOID>(s.Int(0)) : 0;
}

std::vector<CePropVal> HandheldImage::RecordProps(CEOID record) {
  std::vector<CePropVal> out;
  SqlStatement all(db_, "SELECT propid, value FROM props WHERE record = ?1 ORDER BY propid");
  all.Bind(1, static_cast<int64_t>(record));
  while (all.Step()) out.push_back(PropFromColumn(all, 1, static_cast<CEPROPID>(all.Int(0))));
  return out;
}

std::vector<std::optional<CePropVal>> HandheldImage::RecordProps(CEOID record,
                                                                 const std::vector<CEPROPID>& ids) {
  std::vector<std::optional<CePropVal>> out;
  SqlStatement one(db_, "SELECT value FROM props WHERE record = ?1 AND propid = ?2");
  for (CEPROPID id : ids) {
    one.Reset();
    one.Bind(1, static_cast<int64_t>(record)).Bind(2, static_cast<int64_t>(id));
    if (one.Step()) {
      out.push_back(PropFromColumn(one, 0, id));
    } else {
      out.push_back(std::nullopt);
    }
  }
  return out;
}

bool HandheldImage::DeleteRecord(CEOID db, CEOID record) {
  SqlStatement r(db_, "DELETE FROM records WHERE oid = ?1 AND db = ?2");
  r.Bind(1, static_cast<int64_t>(record)).Bind(2, static_cast<int64_t>(db)).Run();
  if (r.Changes() == 0) return false;
  SqlStatement p(db_, "DELETE FROM props WHERE record = ?1");
  p.Bind(1, static_cast<int64_t>(record)).Run();
  return true;
}

// --- Registry ----------------------------------------------------------------

bool HandheldImage::KeyExists(const std::string& keyPath) {
  if (keyPath.empty()) return true;
  SqlStatement s(db_,
                 "SELECT 1 FROM registry WHERE path = ?1"
                 " OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE LIMIT 1");
  s.Bind(1, keyPath).Bind(2, keyPath + "\\");
  return s.Step();
}

void HandheldImage::CreateKey(const std::string& keyPath) {
  SqlStatement s(db_, "INSERT OR IGNORE INTO registry(path, type, value) VALUES(?1, NULL, NULL)");
  s.Bind(1, keyPath).Run();
}

bool HandheldImage::DeleteKeyTree(const std::string& keyPath) {
  SqlStatement s(
      db_,
      "DELETE FROM registry WHERE path = ?1 OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
  s.Bind(1, keyPath).Bind(2, keyPath + "\\").Run();
  return s.Changes() != 0;
}

void HandheldImage::SetDefaultValue(const std::string& keyPath, uint32_t type,
                                    const std::vector<uint8_t>& data) {
  SqlStatement s(db_,
                 "INSERT INTO registry(path, type, value) VALUES(?1, ?2, ?3)"
                 " ON CONFLICT(path) DO UPDATE SET type = excluded.type, value = excluded.value");
  s.Bind(1, keyPath).Bind(2, static_cast<int64_t>(type)).BindBlob(3, data);
  s.Run();
}

bool HandheldImage::DefaultValue(const std::string& keyPath, uint32_t* type,
                                 std::vector<uint8_t>* data) {
  SqlStatement s(db_, "SELECT type, value FROM registry WHERE path = ?1 AND value IS NOT NULL");
  s.Bind(1, keyPath);
  if (!s.Step()) return false;
  *type = static_cast<uint32_t>(s.Int(0));
  *data = s.Blob(1);
  return true;
}

std::vector<HandheldDump::RegistryEntry> HandheldImage::Registry() {
  std::vector<HandheldDump::RegistryEntry> out;
  SqlStatement s(db_, "SELECT path, type, value FROM registry ORDER BY path");
  while (s.Step()) {
    HandheldDump::RegistryEntry e;
    e.path = s.Text(0);
    e.hasValue = !s.IsNull(2);
    if (e.hasValue) e.value = RegistryValueText(static_cast<uint32_t>(s.Int(1)), s.Blob(2));
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace hhsync
