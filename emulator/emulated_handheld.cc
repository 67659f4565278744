#include "emulator/emulated_handheld.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <utility>

#include "base/text.h"

namespace hhsync {
namespace {

// Marks a file as a handheld image of this layout.
constexpr char kFormat[] = "hhsync-handheld-1";
constexpr int kBusyTimeoutMs = 5000;

// Win32 error codes the handheld uses besides those in rapi.h.
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorFileExists = 80;

// Creation dispositions a volume may be mounted with.
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenAlways = 4;

// Base values of the per-instance handles; neither collides with
// kInvalidHandle nor with the predefined registry roots.
constexpr CeDbHandle kFirstDbHandle = 0x1000;
constexpr CeHKey kFirstKeyHandle = 0x100;
// Tags the volume identifiers this emulator hands out.
constexpr uint32_t kGuidTag = 0x564F4C45;  // "VOLE"

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

// An SQLite failure inside this file; turned into an error value at the
// boundary of every public method.
struct SqlError {
  int code;
  std::string message;
};

[[noreturn]] void ThrowSql(sqlite3* db, int rc) {
  throw SqlError{rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
}

void Exec(sqlite3* db, const char* sql) {
  char* msg = nullptr;
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    std::string text = msg ? msg : sqlite3_errstr(rc);
    sqlite3_free(msg);
    throw SqlError{rc, text};
  }
}

// One prepared statement.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    int rc = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr);
    if (rc != SQLITE_OK) ThrowSql(db, rc);
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int i, int64_t v) {
    Check(sqlite3_bind_int64(s_, i, v));
    return *this;
  }
  Stmt& Bind(int i, const std::string& v) {
    Check(sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Stmt& BindBlob(int i, const void* data, std::size_t size) {
    if (size == 0) {
      Check(sqlite3_bind_zeroblob(s_, i, 0));
    } else {
      Check(sqlite3_bind_blob(s_, i, data, static_cast<int>(size), SQLITE_TRANSIENT));
    }
    return *this;
  }
  Stmt& BindNull(int i) {
    Check(sqlite3_bind_null(s_, i));
    return *this;
  }
  // True when a row is available.
  bool Step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSql(db_, rc);
  }
  void Run() { Step(); }
  void Reset() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }

  int64_t Int(int col) { return sqlite3_column_int64(s_, col); }
  bool IsNull(int col) { return sqlite3_column_type(s_, col) == SQLITE_NULL; }
  std::string Text(int col) {
    const unsigned char* p = sqlite3_column_text(s_, col);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(s_, col)))
             : std::string();
  }
  std::vector<uint8_t> Blob(int col) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s_, col));
    int n = sqlite3_column_bytes(s_, col);
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) ThrowSql(db_, rc);
  }
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

// The outcome of a remote operation: success, or failure with the handheld
// error code it leaves behind (which may be 0).
struct Outcome {
  bool failed = false;
  uint32_t error = 0;
};
Outcome Ok() { return {}; }
Outcome Fail(uint32_t error) { return {true, error}; }

int32_t HResultFromWin32(uint32_t error) {
  return error == 0 ? 0 : static_cast<int32_t>(0x80070000u | (error & 0xFFFFu));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Registry paths are kept without leading or trailing backslashes.
std::string NormalizeKeyPath(std::string path) {
  std::size_t b = path.find_first_not_of('\\');
  if (b == std::string::npos) return "";
  std::size_t e = path.find_last_not_of('\\');
  return path.substr(b, e - b + 1);
}

std::string JoinKeyPath(const std::string& parent, const std::string& sub) {
  std::string s = NormalizeKeyPath(sub);
  if (parent.empty()) return s;
  if (s.empty()) return parent;
  return parent + "\\" + s;
}

// The library's name on the handheld: without a folder or a ".dll" ending.
std::string LibraryBaseName(const std::string& library) {
  std::string name = library;
  std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".dll")) {
    name.resize(name.size() - 4);
  }
  return name;
}

bool KnownType(CEPROPID id) {
  uint16_t t = PropType(id);
  return t == CEVT_UI4 || t == CEVT_LPWSTR || t == CEVT_BLOB;
}

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

// The default value's text: UTF-16LE bytes up to the first zero unit.
std::string RegTextOf(uint32_t type, const std::vector<uint8_t>& data) {
  if (type == kRegSz) return WideToUtf8(BytesToWide(data));
  std::string hex;
  char buf[3];
  for (uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    hex += buf;
  }
  return hex;
}

CePropVal PropFromColumn(Stmt& s, int col, CEPROPID id) {
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

void BindProp(Stmt& s, int i, const CePropVal& v) {
  switch (PropType(v.propid)) {
    case CEVT_UI4:
      s.Bind(i, static_cast<int64_t>(v.ulVal));
      break;
    case CEVT_LPWSTR: {
      std::vector<uint8_t> bytes = WideToRawBytes(v.lpwsz);
      s.BindBlob(i, bytes.data(), bytes.size());
      break;
    }
    default:
      s.BindBlob(i, v.blob.data(), v.blob.size());
      break;
  }
}

}  // namespace

struct EmulatedHandheld::Impl {
  Impl(std::string p, Clock& c) : path(std::move(p)), clock(c) {}
  ~Impl() { Close(); }

  std::string path;
  Clock& clock;
  std::mutex mu;
  sqlite3* db = nullptr;
  uint32_t lastError = 0;
  // A connection was made (CeRapiInitEx and a signalled wait) and not yet
  // ended by CeRapiUninit; remote calls fail without one.
  bool session = false;

  // Session state of this instance.
  struct Mount {
    int64_t volume = 0;
    CeGuid guid;
  };
  std::vector<Mount> mounts;
  uint32_t nextMountSerial = 1;
  struct OpenDb {
    CEOID oid = 0;
    CEOID lastRead = 0;  // the id of the last record read through this handle
  };
  std::map<CeDbHandle, OpenDb> handles;
  CeDbHandle nextHandle = kFirstDbHandle;
  std::map<CeHKey, std::string> keys;  // open key -> its path
  CeHKey nextKey = kFirstKeyHandle;

  void Close() {
    if (db) sqlite3_close_v2(db);
    db = nullptr;
  }

  // Opens the image when it is not open yet. Never creates it.
  bool Open() {
    if (db) return true;
    if (!FileExists(path)) return false;
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(h);
      return false;
    }
    sqlite3_busy_timeout(h, kBusyTimeoutMs);
    try {
      Exec(h, "PRAGMA synchronous=NORMAL");
      Stmt s(h, "SELECT value FROM meta WHERE key='format'");
      if (!s.Step() || s.Text(0) != kFormat) {
        sqlite3_close_v2(h);
        return false;
      }
    } catch (const SqlError&) {
      sqlite3_close_v2(h);
      return false;
    }
    db = h;
    return true;
  }

  void Rollback() {
    if (db && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  std::string Meta(const char* key) {
    Stmt s(db, "SELECT value FROM meta WHERE key=?1");
    s.Bind(1, std::string(key));
    return s.Step() ? s.Text(0) : std::string();
  }
  void SetMeta(const char* key, const std::string& value) {
    Stmt s(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    s.Bind(1, std::string(key)).Bind(2, value).Run();
  }
  bool Connected() { return Meta("connected") == "1"; }

  // Counts a call of op against every fault on it; the error of the first
  // fault that fires.
  std::optional<uint32_t> CountCall(const char* op) {
    Stmt u(db, "UPDATE faults SET calls = calls + 1 WHERE op = ?1");
    u.Bind(1, std::string(op)).Run();
    if (sqlite3_changes(db) == 0) return std::nullopt;
    Stmt s(
        db,
        "SELECT error FROM faults WHERE op = ?1 AND (calls = nth OR (every != 0 AND calls >= nth))"
        " ORDER BY id LIMIT 1");
    s.Bind(1, std::string(op));
    if (s.Step()) return static_cast<uint32_t>(s.Int(0));
    return std::nullopt;
  }

  // Runs one remote operation in one transaction: counts the call, applies
  // faults, requires a connected handheld, then does the work. The work's
  // changes are undone when it fails. Leaves the outcome's error as the last
  // error.
  template <typename Work>
  Outcome Run(const char* op, Work&& work) {
    std::lock_guard<std::mutex> lock(mu);
    Outcome out;
    if (!Open()) {
      out = Fail(kNotConnectedError);
    } else {
      try {
        Exec(db, "BEGIN IMMEDIATE");
        if (std::optional<uint32_t> fault = CountCall(op)) {
          out = Fail(*fault);
        } else if (!session || !Connected()) {
          out = Fail(kNotConnectedError);
        } else {
          Exec(db, "SAVEPOINT work");
          out = work();
          if (out.failed) Exec(db, "ROLLBACK TO work");
          Exec(db, "RELEASE work");
        }
        Exec(db, "COMMIT");
      } catch (const SqlError& e) {
        Rollback();
        out = Fail(e.code == SQLITE_FULL ? ce_error::kDiskFull : kErrorGenFailure);
      } catch (const std::exception&) {  // a damaged image
        Rollback();
        out = Fail(kErrorGenFailure);
      }
    }
    lastError = out.error;
    return out;
  }

  // Runs an administration step in one transaction.
  template <typename Work>
  bool Admin(std::string* err, Work&& work) {
    std::lock_guard<std::mutex> lock(mu);
    if (!Open()) {
      if (err) *err = "no handheld image at " + path;
      return false;
    }
    try {
      Exec(db, "BEGIN IMMEDIATE");
      std::string why;
      bool ok = work(&why);
      if (ok) {
        Exec(db, "COMMIT");
      } else {
        Rollback();
        if (err) *err = why;
      }
      return ok;
    } catch (const SqlError& e) {
      Rollback();
      if (err) *err = "handheld image " + path + ": " + e.message;
      return false;
    } catch (const std::exception& e) {
      Rollback();
      if (err) *err = "handheld image " + path + " is damaged: " + e.what();
      return false;
    }
  }

  CEOID NextOid() {
    std::string v = Meta("next_oid");
    CEOID oid = v.empty() ? 1 : static_cast<CEOID>(std::stoul(v));
    if (oid == 0) oid = 1;
    SetMeta("next_oid", std::to_string(static_cast<uint64_t>(oid) + 1));
    return oid;
  }

  // The volume a guid of this instance names, or 0.
  int64_t MountedVolume(const CeGuid& guid) {
    if (guid.IsZero()) return 0;
    for (const Mount& m : mounts) {
      if (std::equal(std::begin(m.guid.data), std::end(m.guid.data), std::begin(guid.data))) {
        return m.volume;
      }
    }
    return 0;
  }

  int64_t VolumeByName(const std::string& name) {
    Stmt s(db, "SELECT id FROM volumes WHERE name = ?1");
    s.Bind(1, name);
    return s.Step() ? s.Int(0) : 0;
  }

  // The database's object id within the volume, or 0.
  CEOID DatabaseByName(int64_t volume, const std::string& name) {
    Stmt s(db, "SELECT oid FROM databases WHERE volume = ?1 AND name = ?2");
    s.Bind(1, volume).Bind(2, name);
    return s.Step() ? static_cast<CEOID>(s.Int(0)) : 0;
  }
  bool DatabaseInVolume(int64_t volume, CEOID oid) {
    Stmt s(db, "SELECT 1 FROM databases WHERE volume = ?1 AND oid = ?2");
    s.Bind(1, volume).Bind(2, static_cast<int64_t>(oid));
    return s.Step();
  }
  bool DatabaseExists(CEOID oid) {
    Stmt s(db, "SELECT 1 FROM databases WHERE oid = ?1");
    s.Bind(1, static_cast<int64_t>(oid));
    return s.Step();
  }

  CEOID CreateDatabase(int64_t volume, const std::string& name,
                       const std::vector<CeSortOrder>& sorts) {
    CEOID oid = NextOid();
    Stmt s(db, "INSERT INTO databases(oid, volume, name, sorts) VALUES(?1, ?2, ?3, ?4)");
    s.Bind(1, static_cast<int64_t>(oid)).Bind(2, volume).Bind(3, name).Bind(4, EncodeSorts(sorts));
    s.Run();
    return oid;
  }

  CEOID AddRecordRow(CEOID dbOid, const std::vector<CePropVal>& values) {
    CEOID oid = NextOid();
    Stmt r(db, "INSERT INTO records(oid, db) VALUES(?1, ?2)");
    r.Bind(1, static_cast<int64_t>(oid)).Bind(2, static_cast<int64_t>(dbOid)).Run();
    Stmt p(db, "INSERT OR REPLACE INTO props(record, propid, value) VALUES(?1, ?2, ?3)");
    for (const CePropVal& v : values) {
      p.Reset();
      p.Bind(1, static_cast<int64_t>(oid)).Bind(2, static_cast<int64_t>(v.propid));
      BindProp(p, 3, v);
      p.Run();
    }
    return oid;
  }

  void DeleteDatabaseRows(CEOID oid) {
    Stmt p(db, "DELETE FROM props WHERE record IN (SELECT oid FROM records WHERE db = ?1)");
    p.Bind(1, static_cast<int64_t>(oid)).Run();
    Stmt r(db, "DELETE FROM records WHERE db = ?1");
    r.Bind(1, static_cast<int64_t>(oid)).Run();
    Stmt d(db, "DELETE FROM databases WHERE oid = ?1");
    d.Bind(1, static_cast<int64_t>(oid)).Run();
  }

  // The open database a handle names, when the database still exists.
  OpenDb* Handle(CeDbHandle h) {
    auto it = handles.find(h);
    if (it == handles.end() || !DatabaseExists(it->second.oid)) return nullptr;
    return &it->second;
  }

  // A key exists when it was created or when it has sub-keys; the root
  // always exists.
  bool KeyExists(const std::string& keyPath) {
    if (keyPath.empty()) return true;
    Stmt s(db,
           "SELECT 1 FROM registry WHERE path = ?1"
           " OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE LIMIT 1");
    s.Bind(1, keyPath).Bind(2, keyPath + "\\");
    return s.Step();
  }

  // The key a root (HKLM or an open key) and sub-key name; false when the
  // root is neither.
  bool ResolveKey(CeHKey root, const std::u16string& subKey, std::string* keyPath) {
    std::string parent;
    if (root != kHKeyLocalMachine) {
      auto it = keys.find(root);
      if (it == keys.end()) return false;
      parent = it->second;
    }
    *keyPath = JoinKeyPath(parent, WideToUtf8(subKey));
    return true;
  }

  void SetDefaultValue(const std::string& keyPath, uint32_t type,
                       const std::vector<uint8_t>& data) {
    Stmt s(db,
           "INSERT INTO registry(path, type, value) VALUES(?1, ?2, ?3)"
           " ON CONFLICT(path) DO UPDATE SET type = excluded.type, value = excluded.value");
    s.Bind(1, keyPath).Bind(2, static_cast<int64_t>(type)).BindBlob(3, data.data(), data.size());
    s.Run();
  }

  // The default value of a key: false when the key has none.
  bool DefaultValue(const std::string& keyPath, uint32_t* type, std::vector<uint8_t>* data) {
    Stmt s(db, "SELECT type, value FROM registry WHERE path = ?1 AND value IS NOT NULL");
    s.Bind(1, keyPath);
    if (!s.Step()) return false;
    *type = static_cast<uint32_t>(s.Int(0));
    *data = s.Blob(1);
    return true;
  }

  // What the companion library does on the handheld when it is started:
  // publish "sd6" under the product's registry path when it is empty there.
  void LaunchApp(const std::string& input) {
    std::string regPath = input.substr(0, input.find('|'));
    std::string keyPath = NormalizeKeyPath(WideToUtf8(AnsiToWide(regPath)) + "sd6");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (DefaultValue(keyPath, &type, &data) && !BytesToWide(data).empty()) return;
    SetDefaultValue(keyPath, kRegSz, WideToBytes(Utf8ToWide(Meta("sd6"))));
  }
};

EmulatedHandheld::EmulatedHandheld(std::string imagePath, Clock& clock)
    : impl_(std::make_unique<Impl>(std::move(imagePath), clock)) {}

EmulatedHandheld::~EmulatedHandheld() = default;

// --- Connection ------------------------------------------------------------

int32_t EmulatedHandheld::CeRapiInitEx(RapiInit* init) {
  init->cbSize = 12;
  init->event = 1;
  init->result = 0;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->lastError = 0;
  // Connecting itself always starts; whether it completes is WaitForInit's
  // business. Only an injected fault makes it fail at once.
  if (impl_->Open()) {
    try {
      Exec(impl_->db, "BEGIN IMMEDIATE");
      std::optional<uint32_t> fault = impl_->CountCall("CeRapiInitEx");
      Exec(impl_->db, "COMMIT");
      if (fault) {
        impl_->lastError = *fault;
        init->result = *fault == 0 ? static_cast<int32_t>(0x80004005u) : HResultFromWin32(*fault);
        return init->result;
      }
    } catch (const SqlError&) {
      impl_->Rollback();
    }
  }
  return 0;
}

uint32_t EmulatedHandheld::WaitForInit(const RapiInit& /*init*/, uint32_t timeoutMs) {
  bool signalled = false;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->Open()) {
      try {
        Exec(impl_->db, "BEGIN IMMEDIATE");
        std::optional<uint32_t> fault = impl_->CountCall("WaitForInit");
        signalled = !fault && impl_->Connected();
        Exec(impl_->db, "COMMIT");
      } catch (const SqlError&) {
        impl_->Rollback();
        signalled = false;
      }
    }
  }
  if (signalled) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->session = true;
    return kWaitObject0;
  }
  impl_->clock.SleepMs(timeoutMs);
  return kWaitTimeout;
}

int32_t EmulatedHandheld::CeRapiUninit() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->session = false;
  impl_->mounts.clear();
  impl_->handles.clear();
  impl_->keys.clear();
  impl_->lastError = 0;
  if (impl_->Open()) {
    try {
      Exec(impl_->db, "BEGIN IMMEDIATE");
      std::optional<uint32_t> fault = impl_->CountCall("CeRapiUninit");
      Exec(impl_->db, "COMMIT");
      if (fault) {
        impl_->lastError = *fault;
        return *fault == 0 ? static_cast<int32_t>(0x80004005u) : HResultFromWin32(*fault);
      }
    } catch (const SqlError&) {
      impl_->Rollback();
    }
  }
  return 0;
}

uint32_t EmulatedHandheld::CeGetLastError() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->lastError;
}

// --- Volumes -----------------------------------------------------------------

bool EmulatedHandheld::CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) {
  Impl& m = *impl_;
  return !m.Run("CeMountDBVol", [&]() -> Outcome {
             if (volume.empty()) return Fail(ce_error::kInvalidParameter);
             std::string name = WideToUtf8(volume);
             int64_t id = m.VolumeByName(name);
             if (id != 0 && flags == kCreateNew) return Fail(kErrorFileExists);
             if (id == 0) {
               if (flags != kCreateNew && flags != kCreateAlways && flags != kOpenAlways) {
                 return Fail(ce_error::kFileNotFound);
               }
               Stmt s(m.db, "INSERT INTO volumes(name) VALUES(?1)");
               s.Bind(1, name).Run();
               id = sqlite3_last_insert_rowid(m.db);
             }
             for (const Impl::Mount& mount : m.mounts) {
               if (mount.volume == id) {
                 *guid = mount.guid;
                 return Fail(ce_error::kAlreadyExists);
               }
             }
             Impl::Mount mount;
             mount.volume = id;
             mount.guid.data[0] = kGuidTag;
             mount.guid.data[1] = static_cast<uint32_t>(id);
             mount.guid.data[2] = m.nextMountSerial++;
             m.mounts.push_back(mount);
             *guid = mount.guid;
             return Ok();
           }).failed;
}

bool EmulatedHandheld::CeUnmountDBVol(CeGuid* guid) {
  Impl& m = *impl_;
  return !m.Run("CeUnmountDBVol", [&]() -> Outcome {
             for (auto it = m.mounts.begin(); it != m.mounts.end(); ++it) {
               if (std::equal(std::begin(it->guid.data), std::end(it->guid.data),
                              std::begin(guid->data))) {
                 m.mounts.erase(it);
                 return Ok();
               }
             }
             return Fail(ce_error::kInvalidParameter);
           }).failed;
}

// --- Databases ---------------------------------------------------------------

CeDbHandle EmulatedHandheld::CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid,
                                              const std::u16string& name, CEPROPID sortProp,
                                              uint32_t /*flags*/) {
  Impl& m = *impl_;
  CeDbHandle result = kInvalidHandle;
  m.Run("CeOpenDatabaseEx", [&]() -> Outcome {
    int64_t volume = m.MountedVolume(guid);
    if (volume == 0) return Fail(ce_error::kInvalidParameter);
    CEOID found = 0;
    if (*oid != 0) {
      if (m.DatabaseInVolume(volume, *oid)) found = *oid;
    } else {
      if (name.empty() || name.size() > kMaxDbNameChars) return Fail(ce_error::kInvalidParameter);
      found = m.DatabaseByName(volume, WideToUtf8(name));
    }
    if (found == 0) return Fail(ce_error::kFileNotFound);
    if (sortProp != 0) {
      // Records are always walked in id order, but a sort property must still
      // be one the database was created with.
      Stmt s(m.db, "SELECT sorts FROM databases WHERE oid = ?1");
      s.Bind(1, static_cast<int64_t>(found));
      std::vector<CeSortOrder> sorts =
          s.Step() ? DecodeSorts(s.Text(0)) : std::vector<CeSortOrder>();
      if (std::none_of(sorts.begin(), sorts.end(),
                       [&](const CeSortOrder& o) { return o.propid == sortProp; })) {
        return Fail(ce_error::kInvalidParameter);
      }
    }
    *oid = found;
    result = m.nextHandle++;
    m.handles[result] = Impl::OpenDb{found, 0};
    return Ok();
  });
  return result;
}

CEOID EmulatedHandheld::CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) {
  Impl& m = *impl_;
  CEOID result = 0;
  m.Run("CeCreateDatabaseEx", [&]() -> Outcome {
    int64_t volume = m.MountedVolume(guid);
    if (volume == 0) return Fail(ce_error::kInvalidParameter);
    if ((info.flags & CEDB_VALIDNAME) == 0 || info.name.empty() ||
        info.name.size() > kMaxDbNameChars || info.sorts.size() > 2) {
      return Fail(ce_error::kInvalidParameter);
    }
    for (const CeSortOrder& s : info.sorts) {
      if (!KnownType(s.propid)) return Fail(ce_error::kInvalidParameter);
    }
    std::string name = WideToUtf8(info.name);
    if (m.DatabaseByName(volume, name) != 0) return Fail(ce_error::kDupName);
    result = m.CreateDatabase(volume, name, info.sorts);
    return Ok();
  });
  return result;
}

bool EmulatedHandheld::CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) {
  Impl& m = *impl_;
  return !m.Run("CeOidGetInfoEx", [&]() -> Outcome {
             int64_t volume = m.MountedVolume(guid);
             if (volume == 0) return Fail(ce_error::kInvalidParameter);
             Stmt s(m.db,
                    "SELECT name, (SELECT count(*) FROM records WHERE db = d.oid)"
                    " FROM databases d WHERE volume = ?1 AND oid = ?2");
             s.Bind(1, volume).Bind(2, static_cast<int64_t>(oid));
             if (!s.Step()) return Fail(ce_error::kFileNotFound);
             info->name = Utf8ToWide(s.Text(0));
             // The handheld keeps the count in 16 bits.
             info->recordCount = static_cast<uint16_t>(s.Int(1));
             return Ok();
           }).failed;
}

bool EmulatedHandheld::CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) {
  Impl& m = *impl_;
  return !m.Run("CeDeleteDatabaseEx", [&]() -> Outcome {
             int64_t volume = m.MountedVolume(guid);
             if (volume == 0) return Fail(ce_error::kInvalidParameter);
             if (!m.DatabaseInVolume(volume, oid)) return Fail(ce_error::kFileNotFound);
             m.DeleteDatabaseRows(oid);
             return Ok();
           }).failed;
}

// --- Records -----------------------------------------------------------------

CEOID EmulatedHandheld::CeReadRecordProps(CeDbHandle db, uint32_t /*flags*/,
                                          const std::vector<CEPROPID>& wanted,
                                          std::vector<CePropVal>* values) {
  Impl& m = *impl_;
  values->clear();
  CEOID result = 0;
  m.Run("CeReadRecordProps", [&]() -> Outcome {
    Impl::OpenDb* open = m.Handle(db);
    if (!open) return Fail(kInvalidHandleError);
    Stmt next(m.db, "SELECT oid FROM records WHERE db = ?1 AND oid > ?2 ORDER BY oid LIMIT 1");
    next.Bind(1, static_cast<int64_t>(open->oid)).Bind(2, static_cast<int64_t>(open->lastRead));
    if (!next.Step()) return Fail(ce_error::kNoMoreItems);
    CEOID rec = static_cast<CEOID>(next.Int(0));
    std::vector<CePropVal> out;
    if (wanted.empty()) {
      // No list: every property of the record.
      Stmt all(m.db, "SELECT propid, value FROM props WHERE record = ?1 ORDER BY propid");
      all.Bind(1, static_cast<int64_t>(rec));
      while (all.Step()) {
        out.push_back(PropFromColumn(all, 1, static_cast<CEPROPID>(all.Int(0))));
      }
    } else {
      Stmt one(m.db, "SELECT value FROM props WHERE record = ?1 AND propid = ?2");
      for (CEPROPID id : wanted) {
        one.Reset();
        one.Bind(1, static_cast<int64_t>(rec)).Bind(2, static_cast<int64_t>(id));
        if (one.Step()) {
          out.push_back(PropFromColumn(one, 0, id));
        } else {
          CePropVal missing;
          missing.propid = id;
          missing.flags = CEDB_PROPNOTFOUND;
          out.push_back(std::move(missing));
        }
      }
    }
    open->lastRead = rec;
    *values = std::move(out);
    result = rec;
    return Ok();
  });
  return result;
}

CEOID EmulatedHandheld::CeWriteRecordProps(CeDbHandle db, CEOID oid,
                                           const std::vector<CePropVal>& values) {
  Impl& m = *impl_;
  CEOID result = 0;
  m.Run("CeWriteRecordProps", [&]() -> Outcome {
    Impl::OpenDb* open = m.Handle(db);
    if (!open) return Fail(kInvalidHandleError);
    // Records are only ever added whole; changing one in place is not offered.
    if (oid != 0 || values.empty()) return Fail(ce_error::kInvalidParameter);
    for (const CePropVal& v : values) {
      if (!KnownType(v.propid)) return Fail(ce_error::kInvalidParameter);
    }
    result = m.AddRecordRow(open->oid, values);
    return Ok();
  });
  return result;
}

bool EmulatedHandheld::CeDeleteRecord(CeDbHandle db, CEOID oid) {
  Impl& m = *impl_;
  return !m.Run("CeDeleteRecord", [&]() -> Outcome {
             Impl::OpenDb* open = m.Handle(db);
             if (!open) return Fail(kInvalidHandleError);
             if (oid == 0) return Fail(ce_error::kInvalidParameter);
             Stmt r(m.db, "DELETE FROM records WHERE oid = ?1 AND db = ?2");
             r.Bind(1, static_cast<int64_t>(oid)).Bind(2, static_cast<int64_t>(open->oid)).Run();
             if (sqlite3_changes(m.db) == 0) return Fail(ce_error::kFileNotFound);
             Stmt p(m.db, "DELETE FROM props WHERE record = ?1");
             p.Bind(1, static_cast<int64_t>(oid)).Run();
             return Ok();
           }).failed;
}

bool EmulatedHandheld::CeCloseHandle(CeDbHandle db) {
  Impl& m = *impl_;
  return !m.Run("CeCloseHandle", [&]() -> Outcome {
             if (m.handles.erase(db) == 0) return Fail(kInvalidHandleError);
             return Ok();
           }).failed;
}

// --- Registry ----------------------------------------------------------------

int32_t EmulatedHandheld::CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegOpenKeyEx", [&]() -> Outcome {
    std::string keyPath;
    if (!m.ResolveKey(root, subKey, &keyPath)) return Fail(ce_error::kFileNotFound);
    if (!m.KeyExists(keyPath)) return Fail(ce_error::kFileNotFound);
    *key = m.nextKey++;
    m.keys[*key] = keyPath;
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegQueryValueEx(CeHKey key, const std::u16string& valueName,
                                            uint32_t* type, std::vector<uint8_t>* data,
                                            uint32_t maxBytes) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegQueryValueEx", [&]() -> Outcome {
    auto it = m.keys.find(key);
    if (it == m.keys.end()) return Fail(kInvalidHandleError);
    // Only default values are kept.
    if (!valueName.empty()) return Fail(ce_error::kFileNotFound);
    uint32_t t = 0;
    std::vector<uint8_t> bytes;
    if (!m.DefaultValue(it->second, &t, &bytes)) return Fail(ce_error::kFileNotFound);
    if (type) *type = t;
    if (bytes.size() > maxBytes) return Fail(ce_error::kMoreData);
    *data = std::move(bytes);
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegCreateKeyEx", [&]() -> Outcome {
    std::string keyPath;
    if (!m.ResolveKey(root, subKey, &keyPath)) return Fail(ce_error::kFileNotFound);
    if (keyPath.empty()) return Fail(ce_error::kInvalidParameter);
    Stmt s(m.db, "INSERT OR IGNORE INTO registry(path, type, value) VALUES(?1, NULL, NULL)");
    s.Bind(1, keyPath).Run();
    *key = m.nextKey++;
    m.keys[*key] = keyPath;
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegSetValueEx(CeHKey key, const std::u16string& valueName,
                                          uint32_t type, const std::vector<uint8_t>& data) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegSetValueEx", [&]() -> Outcome {
    auto it = m.keys.find(key);
    if (it == m.keys.end()) return Fail(kInvalidHandleError);
    if (!valueName.empty() || it->second.empty()) return Fail(ce_error::kInvalidParameter);
    m.SetDefaultValue(it->second, type, data);
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegCloseKey(CeHKey key) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegCloseKey", [&]() -> Outcome {
    if (m.keys.erase(key) == 0) return Fail(kInvalidHandleError);
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

// --- Remote calls ------------------------------------------------------------

int32_t EmulatedHandheld::CeRapiInvoke(const std::u16string& library,
                                       const std::u16string& function, const std::string& input,
                                       uint32_t* outSize, std::vector<uint8_t>* output) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRapiInvoke", [&]() -> Outcome {
    std::string lib = LibraryBaseName(WideToUtf8(library));
    Stmt s(m.db, "SELECT 1 FROM libraries WHERE name = ?1");
    s.Bind(1, lib);
    if (!s.Step()) return Fail(ce_error::kFileNotFound);
    // Only the companion library exports anything; exported names are
    // matched exactly.
    std::string fn = WideToUtf8(function);
    if (!EqualsNoCase(lib, "zvdll") || (fn != "RAPIlaunchapp" && fn != "RAPIlaunchafter")) {
      return Fail(ce_error::kCallNotImplemented);
    }
    Stmt c(m.db, "INSERT INTO calls(library, function, input) VALUES(?1, ?2, ?3)");
    c.Bind(1, WideToUtf8(library)).Bind(2, fn).Bind(3, AnsiToUtf8(input)).Run();
    if (fn == "RAPIlaunchapp") m.LaunchApp(input);
    output->clear();
    if (outSize) *outSize = 0;
    return Ok();
  });
  if (!out.failed) return 0;
  return out.error == 0 ? static_cast<int32_t>(0x80004005u) : HResultFromWin32(out.error);
}

// --- Administration ----------------------------------------------------------

bool EmulatedHandheld::Exists(const std::string& path) { return FileExists(path); }

bool EmulatedHandheld::Init(const std::string& path, std::string* err) {
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
    Exec(db, "PRAGMA journal_mode=WAL");
    Exec(db, "BEGIN");
    Exec(db, kSchema);
    std::random_device rd;
    char sd6[16];
    std::snprintf(sd6, sizeof sd6, "SD6-%08X", static_cast<unsigned>(rd()));
    Stmt s(db, "INSERT INTO meta(key, value) VALUES(?1, ?2)");
    const std::pair<const char*, std::string> rows[] = {
        {"format", kFormat}, {"connected", "1"}, {"next_oid", "1"}, {"sd6", sd6}};
    for (const auto& [k, v] : rows) {
      s.Reset();
      s.Bind(1, std::string(k)).Bind(2, v).Run();
    }
    Exec(db, "COMMIT");
  } catch (const SqlError& e) {
    sqlite3_close_v2(db);
    std::remove(path.c_str());
    if (err) *err = "cannot create handheld image " + path + ": " + e.message;
    return false;
  }
  sqlite3_close_v2(db);
  return true;
}

const std::vector<std::string>& EmulatedHandheld::FaultableOperations() {
  static const std::vector<std::string> kOps = {
      "CeRapiInitEx",       "WaitForInit",       "CeRapiUninit",       "CeMountDBVol",
      "CeUnmountDBVol",     "CeOpenDatabaseEx",  "CeCreateDatabaseEx", "CeOidGetInfoEx",
      "CeDeleteDatabaseEx", "CeReadRecordProps", "CeWriteRecordProps", "CeDeleteRecord",
      "CeCloseHandle",      "CeRegOpenKeyEx",    "CeRegQueryValueEx",  "CeRegCreateKeyEx",
      "CeRegSetValueEx",    "CeRegCloseKey",     "CeRapiInvoke"};
  return kOps;
}

bool EmulatedHandheld::SetConnected(bool connected, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string*) {
    m.SetMeta("connected", connected ? "1" : "0");
    return true;
  });
}

bool EmulatedHandheld::InstallLibrary(const std::string& name, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    std::string lib = LibraryBaseName(name);
    if (lib.empty()) {
      *why = "empty library name";
      return false;
    }
    Stmt s(m.db, "INSERT OR IGNORE INTO libraries(name) VALUES(?1)");
    s.Bind(1, lib).Run();
    return true;
  });
}

bool EmulatedHandheld::RemoveLibrary(const std::string& name, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    Stmt s(m.db, "DELETE FROM libraries WHERE name = ?1");
    s.Bind(1, LibraryBaseName(name)).Run();
    if (sqlite3_changes(m.db) == 0) {
      *why = "library " + name + " is not installed";
      return false;
    }
    return true;
  });
}

bool EmulatedHandheld::CreateVolume(const std::string& name, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    if (name.empty()) {
      *why = "empty volume name";
      return false;
    }
    if (m.VolumeByName(name) != 0) {
      *why = "volume " + name + " already exists";
      return false;
    }
    Stmt s(m.db, "INSERT INTO volumes(name) VALUES(?1)");
    s.Bind(1, name).Run();
    return true;
  });
}

bool EmulatedHandheld::RegGet(const std::string& path, std::optional<std::string>* value,
                              std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string*) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (m.DefaultValue(NormalizeKeyPath(path), &type, &data)) {
      *value = RegTextOf(type, data);
    } else {
      value->reset();
    }
    return true;
  });
}

bool EmulatedHandheld::RegSet(const std::string& path, const std::string& value, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    std::string keyPath = NormalizeKeyPath(path);
    if (keyPath.empty()) {
      *why = "empty registry key";
      return false;
    }
    m.SetDefaultValue(keyPath, kRegSz, WideToBytes(Utf8ToWide(value)));
    return true;
  });
}

bool EmulatedHandheld::RegDelete(const std::string& path, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    std::string keyPath = NormalizeKeyPath(path);
    Stmt s(
        m.db,
        "DELETE FROM registry WHERE path = ?1 OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
    s.Bind(1, keyPath).Bind(2, keyPath + "\\").Run();
    if (keyPath.empty() || sqlite3_changes(m.db) == 0) {
      *why = "no registry key " + path;
      return false;
    }
    return true;
  });
}

bool EmulatedHandheld::AddRecord(const std::string& volume, const std::string& database,
                                 const std::vector<CePropVal>& props, CEOID* id, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    int64_t vol = m.VolumeByName(volume);
    if (vol == 0) {
      *why = "no volume " + volume;
      return false;
    }
    std::u16string wide = Utf8ToWide(database);
    if (wide.empty() || wide.size() > kMaxDbNameChars) {
      *why = "database name must have 1 to " + std::to_string(kMaxDbNameChars) + " characters";
      return false;
    }
    if (props.empty()) {
      *why = "a record needs at least one property";
      return false;
    }
    for (const CePropVal& v : props) {
      if (!KnownType(v.propid)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", v.propid);
        *why = std::string("property ") + buf + " has an unknown type";
        return false;
      }
    }
    CEOID dbOid = m.DatabaseByName(vol, database);
    if (dbOid == 0) dbOid = m.CreateDatabase(vol, database, {});
    CEOID rec = m.AddRecordRow(dbOid, props);
    if (id) *id = rec;
    return true;
  });
}

bool EmulatedHandheld::AddFault(const InjectedFault& fault, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    const auto& ops = FaultableOperations();
    if (std::find(ops.begin(), ops.end(), fault.operation) == ops.end()) {
      *why = "unknown operation " + fault.operation;
      return false;
    }
    if (fault.nth == 0) {
      *why = "the failing call is counted from 1";
      return false;
    }
    Stmt s(m.db, "INSERT INTO faults(op, nth, every, error, calls) VALUES(?1, ?2, ?3, ?4, 0)");
    s.Bind(1, fault.operation)
        .Bind(2, static_cast<int64_t>(fault.nth))
        .Bind(3, fault.every ? 1 : 0)
        .Bind(4, static_cast<int64_t>(fault.error))
        .Run();
    return true;
  });
}

bool EmulatedHandheld::ClearFaults(std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string*) {
    Exec(m.db, "DELETE FROM faults");
    return true;
  });
}

bool EmulatedHandheld::Dump(HandheldDump* out, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string*) {
    HandheldDump d;
    d.connected = m.Connected();
    d.sd6 = m.Meta("sd6");
    {
      Stmt s(m.db, "SELECT path, type, value FROM registry ORDER BY path");
      while (s.Step()) {
        HandheldDump::RegistryEntry e;
        e.path = s.Text(0);
        e.hasValue = !s.IsNull(2);
        if (e.hasValue) e.value = RegTextOf(static_cast<uint32_t>(s.Int(1)), s.Blob(2));
        d.registry.push_back(std::move(e));
      }
    }
    {
      Stmt s(m.db, "SELECT name FROM libraries ORDER BY name");
      while (s.Step()) d.libraries.push_back(s.Text(0));
    }
    {
      Stmt vols(m.db, "SELECT id, name FROM volumes ORDER BY name");
      Stmt dbs(m.db, "SELECT oid, name, sorts FROM databases WHERE volume = ?1 ORDER BY oid");
      Stmt recs(m.db, "SELECT oid FROM records WHERE db = ?1 ORDER BY oid");
      Stmt props(m.db, "SELECT propid, value FROM props WHERE record = ?1 ORDER BY propid");
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
        d.volumes.push_back(std::move(v));
      }
    }
    {
      Stmt s(m.db, "SELECT library, function, input FROM calls ORDER BY id");
      while (s.Step()) d.calls.push_back({s.Text(0), s.Text(1), s.Text(2)});
    }
    {
      Stmt s(m.db, "SELECT op, nth, every, error, calls FROM faults ORDER BY id");
      while (s.Step()) {
        InjectedFault f;
        f.operation = s.Text(0);
        f.nth = static_cast<uint32_t>(s.Int(1));
        f.every = s.Int(2) != 0;
        f.error = static_cast<uint32_t>(s.Int(3));
        f.calls = static_cast<uint32_t>(s.Int(4));
        d.faults.push_back(std::move(f));
      }
    }
    *out = std::move(d);
    return true;
  });
}

}  // namespace hhsync
