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
// Thread safety: none; EmulatedHandheld serializes its use.

#include <cstdint>
#include <optional>
#include <string>
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
  // there is no file or it is not a handheld image.
  bool Open();
  void Close();

  // A transaction on the open image (BEGIN IMMEDIATE ... COMMIT).
  SqlTransaction Begin() { return SqlTransaction(db_); }
  // Runs plain SQL (savepoints) on the open image.
  void Exec(const char* sql);

  // The image's settings: "connected", "sd6", "next_oid".
  std::string Meta(const char* key);
  void SetMeta(const char* key, const std::string& value);
  bool Connected() { return Meta("connected") == "1"; }
  // A new object id, never 0.
  CEOID NextOid();

  // Faults: counts a call of op against every fault on it and gives the
  // error of the first fault that fires.
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
  std::vector<CePropVal> RecordProps(CEOID record);  // every property, in id order
  // The properties asked for, in that order; nothing for one the record lacks.
  std::vector<std::optional<CePropVal>> RecordProps(CEOID record, const std::vector<CEPROPID>& ids);
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
  std::string path_;
  sqlite3* db_ = nullptr;
};

// A default value as text: REG_SZ as UTF-8 up to its first zero, anything
// else as lowercase hex.
std::string RegistryValueText(uint32_t type, const std::vector<uint8_t>& data);

}  // namespace hhsync
