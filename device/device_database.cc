#include "device/device_database.h"

#include "base/text.h"
#include "platform/clock.h"
#include "platform/prompter.h"

namespace hhsync {

namespace {

// Process-wide mount state shared by every instance: the volume's name and
// identifier, the number of instances that hold the mount, and whether the
// volume is mounted right now. After a remount the instances that held the
// mount still hold it, so the volume stays mounted until the last of them
// is gone.
std::string g_volumeName;
CeGuid g_volumeId;
int32_t g_holderCount = 0;
bool g_volumeMounted = false;

constexpr MessageBoxStyle kPlain{MbButtons::kOk, MbIcon::kNone, false};
constexpr MessageBoxStyle kStopOk{MbButtons::kOk, MbIcon::kStop, true};
constexpr MessageBoxStyle kStopYesNo{MbButtons::kYesNo, MbIcon::kStop, true};

}  // namespace

DeviceDatabase::DeviceDatabase(const Ports& ports) : ports_(ports) { Join(); }

DeviceDatabase::DeviceDatabase(const Ports& ports, const std::string& volumeName) : ports_(ports) {
  if (!g_volumeMounted) g_volumeName = volumeName;
  Join();
}

void DeviceDatabase::Join() {
  if (!g_volumeMounted) g_volumeMounted = MountVolume();
  mounted_ = g_volumeMounted;
  if (mounted_) ++g_holderCount;
}

DeviceDatabase::~DeviceDatabase() {
  if (mounted_) --g_holderCount;
  if (g_holderCount == 0) Unmount();
}

bool DeviceDatabase::MountVolume() {
  if (g_volumeName.empty()) return false;
  g_volumeId = CeGuid{};
  if (rapi().CeMountDBVol(&g_volumeId, AnsiToWide(g_volumeName), kOpenExisting)) return true;
  switch (rapi().CeGetLastError()) {
    case ce_error::kInvalidParameter:
      ports_.prompter->MessageBox("ERROR_INVALID_PARAMETER", kPlain);
      return false;
    case ce_error::kDiskFull:
      ports_.prompter->MessageBox("ERROR_DISK_FULL", kPlain);
      return false;
    case ce_error::kAlreadyExists:
      // The volume is mounted already: usable when the platform named it.
      if (!g_volumeId.IsZero()) return true;
      ports_.prompter->MessageBox("ERROR OPENING DATABASE ON PPC", kPlain);
      return false;
    default:
      return false;
  }
}

bool DeviceDatabase::Mount(const std::string& volumeName) {
  g_volumeName = volumeName;
  g_volumeMounted = MountVolume();
  if (g_volumeMounted != mounted_) {
    mounted_ = g_volumeMounted;
    g_holderCount += mounted_ ? 1 : -1;
  }
  return mounted_;
}

void DeviceDatabase::Unmount() {
  g_volumeMounted = false;
  rapi().CeUnmountDBVol(&g_volumeId);
}

bool DeviceDatabase::Remount(uint32_t pauseMs) {
  Unmount();
  ports_.clock->SleepMs(pauseMs);
  return Mount(g_volumeName);
}

bool DeviceDatabase::OpenOrCreate(const std::string& name, CEPROPID firstSort, CEPROPID secondSort,
                                  CeDbHandle* handle, CEOID* oid) {
  *oid = 0;
  *handle = rapi().CeOpenDatabaseEx(g_volumeId, oid, AnsiToWide(name), 0, CEDB_AUTOINCREMENT);
  if (*handle != kInvalidHandle) return true;

  uint32_t error = rapi().CeGetLastError();
  if (error == ce_error::kInvalidParameter) {
    ports_.prompter->MessageBox("could not open database bad parameter:" + name, kStopOk);
    return false;
  }
  if (error == ce_error::kNotEnoughMemory) {
    ports_.prompter->MessageBox("could not open database not enough memory", kStopYesNo);
    return false;
  }

  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = AnsiToWide(name);
  if (secondSort != 0) {
    info.sorts = {{firstSort, CEDB_SORT_CASEINSENSITIVE}, {secondSort, CEDB_SORT_CASEINSENSITIVE}};
  } else if (firstSort != 0) {
    info.sorts = {{firstSort, CEDB_SORT_CASEINSENSITIVE}};
  }
  CEOID created = rapi().CeCreateDatabaseEx(g_volumeId, info);
  if (created == 0) {
    error = rapi().CeGetLastError();
    if (error == ce_error::kInvalidParameter) {
      ports_.prompter->MessageBox("could not open database bad parameter:" + name, kStopOk);
    } else if (error == ce_error::kDupName) {
      ports_.prompter->MessageBox("could not create database dupe name", kPlain);
    }
    return false;
  }

  *oid = created;
  *handle = rapi().CeOpenDatabaseEx(g_volumeId, oid, std::u16string(), 0, CEDB_AUTOINCREMENT);
  if (*handle != kInvalidHandle) return true;
  error = rapi().CeGetLastError();
  if (error == ce_error::kInvalidParameter) {
    ports_.prompter->MessageBox("could not open database bad parameter", kStopOk);
    return false;
  }
  if (error == ce_error::kNotEnoughMemory) {
    ports_.prompter->MessageBox("could not open database not enough memory", kStopOk);
    return false;
  }
  return true;
}

bool DeviceDatabase::OpenExisting(const std::string& name, CeDbHandle* handle, CEOID* oid) {
  *oid = 0;
  *handle = rapi().CeOpenDatabaseEx(g_volumeId, oid, AnsiToWide(name), 0, CEDB_AUTOINCREMENT);
  return *handle != kInvalidHandle;
}

std::optional<uint16_t> DeviceDatabase::CountRecords(CEOID oid) {
  CeOidInfo info;
  if (!rapi().CeOidGetInfoEx(g_volumeId, oid, &info)) {
    ports_.prompter->MessageBox("DB Problem", kStopYesNo);
    return std::nullopt;
  }
  return info.recordCount;
}

uint16_t DeviceDatabase::RecordCount(CEOID oid) { return CountRecords(oid).value_or(0); }

bool DeviceDatabase::DeleteDatabase(CEOID oid) {
  return rapi().CeDeleteDatabaseEx(g_volumeId, oid);
}

bool DeviceDatabase::DeleteDatabaseByName(const std::string& name) {
  CeDbHandle handle;
  CEOID oid;
  if (!OpenExisting(name, &handle, &oid)) return false;
  rapi().CeCloseHandle(handle);
  return DeleteDatabase(oid);
}

bool DeviceDatabase::RemoveDatabase(const std::string& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    CeDbHandle handle;
    CEOID oid;
    if (!OpenExisting(name, &handle, &oid)) {
      if (rapi().CeGetLastError() == ce_error::kFileNotFound) return true;  // not there
      continue;
    }
    rapi().CeCloseHandle(handle);
    if (DeleteDatabase(oid)) return true;
  }
  return false;
}

void DeviceDatabase::CloseHandle(CeDbHandle handle) {
  if (handle != kInvalidHandle && handle != 0) rapi().CeCloseHandle(handle);
}

std::string DeviceDatabase::VolumeName() const { return g_volumeName; }

int DeviceDatabase::HolderCount() { return g_holderCount; }

void DeviceDatabase::ResetSharedStateForTesting() {
  g_volumeName.clear();
  g_volumeId = CeGuid{};
  g_holderCount = 0;
  g_volumeMounted = false;
}

}  // namespace hhsync
