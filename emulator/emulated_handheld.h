#pragma once
// The emulated handheld: one SQLite file (the handheld image) holds a
// handheld's registry, its database volumes with their databases and
// records, the libraries installed on it, whether it is connected, a log of
// remote calls and the injected faults. EmulatedHandheld implements the Rapi
// port over such an image with the handheld's result and error conventions,
// and offers an administration interface for hhctl and tests.
//
// Every remote operation runs as one SQLite transaction, so a process killed
// in the middle of a sync never leaves half a record behind. Several
// processes (hhsync, hhctl) may use the same image at once.
//
// Mounted volumes, database handles and registry key handles belong to the
// instance (they live in memory) and end with it or with CeRapiUninit.
//
// Thread safety: calls are serialized by an internal lock, so an instance may
// be shared by threads; WaitForInit sleeps without holding it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/rapi.h"

namespace hhsync {

// "Make the nth call of operation X fail with error E" (with `every`, every
// call from the nth on). Calls are counted from the moment the fault is added.
struct InjectedFault {
  std::string operation;  // a Rapi method name, e.g. "CeWriteRecordProps"
  uint32_t nth = 1;       // 1-based
  bool every = false;
  uint32_t error = 0;  // the handheld error code the failing call leaves behind
  uint32_t calls = 0;  // calls of the operation counted so far
};

// Everything an image holds, for inspection. Text is UTF-8.
struct HandheldDump {
  struct RegistryEntry {
    std::string path;  // as first created, case kept
    bool hasValue = false;
    std::string value;  // the default value (REG_SZ text, up to its first zero)
  };
  struct Record {
    CEOID id = 0;
    std::vector<CePropVal> props;  // in property id order
  };
  struct Database {
    CEOID oid = 0;
    std::string name;
    std::vector<CeSortOrder> sorts;
    std::vector<Record> records;  // in traversal order
  };
  struct Volume {
    std::string name;
    std::vector<Database> databases;  // in object id order
  };
  struct Call {
    std::string library;
    std::string function;
    std::string input;
  };

  bool connected = false;
  std::string sd6;                      // the value the companion library publishes
  std::vector<RegistryEntry> registry;  // ordered by path, case ignored
  std::vector<std::string> libraries;
  std::vector<Volume> volumes;  // ordered by name, case ignored
  std::vector<Call> calls;      // oldest first
  std::vector<InjectedFault> faults;
};

class EmulatedHandheld final : public Rapi {
 public:
  // The error a call leaves behind while the handheld is not connected or the
  // image is missing (ERROR_DEVICE_NOT_CONNECTED).
  static constexpr uint32_t kNotConnectedError = 1167;
  // The error of a handle that is not open (ERROR_INVALID_HANDLE).
  static constexpr uint32_t kInvalidHandleError = 6;

  // Never creates the image: a missing image is a handheld that is not
  // connected. The image is opened on first use.
  EmulatedHandheld(std::string imagePath, Clock& clock);
  ~EmulatedHandheld() override;

  // Rapi.
  int32_t CeRapiInitEx(RapiInit* init) override;
  uint32_t WaitForInit(RapiInit* init, uint32_t timeoutMs) override;
  int32_t CeRapiUninit() override;
  uint32_t CeGetLastError() override;
  // A fault injected with error 0 stands for a failure of the connection
  // itself, which the handheld cannot report: its text is given here.
  std::string DesktopErrorText() override;
  std::string DesktopTrouble() override;
  std::string NoAnswerText() override;
  bool CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) override;
  bool CeUnmountDBVol(CeGuid* guid) override;
  CeDbHandle CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid, const std::u16string& name,
                              CEPROPID sortProp, uint32_t flags) override;
  CEOID CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) override;
  bool CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) override;
  bool CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) override;
  CEOID CeReadRecordProps(CeDbHandle db, uint32_t flags, const std::vector<CEPROPID>& wanted,
                          std::vector<CePropVal>* values) override;
  CEOID CeWriteRecordProps(CeDbHandle db, CEOID oid, const std::vector<CePropVal>& values) override;
  bool CeDeleteRecord(CeDbHandle db, CEOID oid) override;
  bool CeCloseHandle(CeDbHandle db) override;
  int32_t CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) override;
  int32_t CeRegQueryValueEx(CeHKey key, const std::u16string& valueName, uint32_t* type,
                            std::vector<uint8_t>* data, uint32_t maxBytes) override;
  int32_t CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) override;
  int32_t CeRegSetValueEx(CeHKey key, const std::u16string& valueName, uint32_t type,
                          const std::vector<uint8_t>& data) override;
  int32_t CeRegCloseKey(CeHKey key) override;
  int32_t CeRapiInvoke(const std::u16string& library, const std::u16string& function,
                       const std::string& input, uint32_t* outSize,
                       std::vector<uint8_t>* output) override;

  // Administration, for hhctl and tests. These work whether or not the
  // handheld is connected, are not counted as calls and ignore faults. Each
  // returns false with a one-line reason in *err when it could not be done.

  // Whether an image exists at path.
  static bool Exists(const std::string& path);
  // Makes a new, connected, empty image; refuses a path that exists.
  static bool Init(const std::string& path, std::string* err);
  // The operation names that faults can be injected into.
  static const std::vector<std::string>& FaultableOperations();

  bool SetConnected(bool connected, std::string* err);
  // Installing an installed library does nothing; removing a missing one fails.
  bool InstallLibrary(const std::string& name, std::string* err);
  bool RemoveLibrary(const std::string& name, std::string* err);
  // Fails when the volume exists.
  bool CreateVolume(const std::string& name, std::string* err);
  // The default value of a registry key under HKLM; *value is empty when the
  // key or its value is missing.
  bool RegGet(const std::string& path, std::optional<std::string>* value, std::string* err);
  // Creates the key when needed and sets its default value (REG_SZ).
  bool RegSet(const std::string& path, const std::string& value, std::string* err);
  // Deletes the key and its sub-keys; fails when there is none.
  bool RegDelete(const std::string& path, std::string* err);
  // Adds a record to a database of an existing volume, creating the database
  // (without sort orders) when it is missing. *id receives the record's id.
  bool AddRecord(const std::string& volume, const std::string& database,
                 const std::vector<CePropVal>& props, CEOID* id, std::string* err);
  bool AddFault(const InjectedFault& fault, std::string* err);
  bool ClearFaults(std::string* err);
  bool Dump(HandheldDump* out, std::string* err);
  // Database handles this instance has opened and not yet closed.
  std::size_t OpenDatabaseHandles();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hhsync
