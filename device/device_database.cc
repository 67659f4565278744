#include "device/device_database.h"

#include "base/text.h"
#include "platform/clock.h"

namespace hhsync {

DbFailureSink& IgnoreDbFailures() {
  class Ignore final : public DbFailureSink {
   public:
    void Failed(DbFailure, const std::string&) override {}
  };
  static Ignore ignore;
  return ignore;
}

DeviceDatabase::DeviceDatabase(VolumeMount& mount) : mount_(mount) { Join(); }

DeviceDatabase::DeviceDatabase(VolumeMount& mount, const std::string& volumeName) : mount_(mount) {
  if (!mount_.mounted_) mount_.name_ = volumeName;
  Join();
}

void DeviceDatabase::Join() {
  if (!mount_.mounted_) mount_.mounted_ = MountVolume();
  mounted_ = mount_.mounted_;
  if (mounted_) ++mount_.holders_;
}

DeviceDatabase::~DeviceDatabase() {
  if (mounted_) --mount_.holders_;
  if (mount_.holders_ == 0) Unmount();
}

bool DeviceDatabase::MountVolume() {
  if (mount_.name_.empty()) return false;
  mount_.id_ = CeGuid{};
  if (rapi().CeMountDBVol(&mount_.id_, AnsiToWide(mount_.name_), kOpenExisting)) return true;
  switch (rapi().CeGetLastError()) {
    case ce_error::kInvalidParameter:
      failures().Failed(DbFailure::kMountBadParameter, "");
      return false;
    case ce_error::kDiskFull:
      failures().Failed(DbFailure::kMountDiskFull, "");
      return false;
    case ce_error::kAlreadyExists:
      // The volume is mounted already: usable when the platform named it.
      if (!mount_.id_.IsZero()) return true;
      failures().Failed(DbFailure::kMountUnnamed, "");
      return false;
    default:
      return false;
  }
}

bool DeviceDatabase::Mount(const std::string& volumeName) {
  mount_.name_ = volumeName;
  mount_.mounted_ = MountVolume();
  if (mount_.mounted_ != mounted_) {
    mounted_ = mount_.mounted_;
    mount_.holders_ += mounted_ ? 1 : -1;
  }
  return mounted_;
}

void DeviceDatabase::Unmount() {
  mount_.mounted_ = false;
  rapi().CeUnmountDBVol(&mount_.id_);
}

bool DeviceDatabase::Remount(uint32_t pauseMs) {
  Unmount();
  mount_.clock_.SleepMs(pauseMs);
  return Mount(mount_.name_);
}

bool DeviceDatabase::OpenOrCreate(const std::string& name, CEPROPID firstSort, CEPROPID secondSort,
                                  DbHandle* handle, CEOID* oid) {
  *oid = 0;
  // Closed first: closing after the open would replace the open's error.
  handle->Close();
  *handle = DbHandle(
      rapi(), rapi().CeOpenDatabaseEx(mount_.id_, oid, AnsiToWide(name), 0, CEDB_AUTOINCREMENT));
  if (handle->open()) return true;

  uint32_t error = rapi().CeGetLastError();
  if (error == ce_error::kInvalidParameter) {
    failures().Failed(DbFailure::kOpenBadParameter, name);
    return false;
  }
  if (error == ce_error::kNotEnoughMemory) {
    failures().Failed(DbFailure::kOpenNoMemory, name);
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
  CEOID created = rapi().CeCreateDatabaseEx(mount_.id_, info);
  if (created == 0) {
    error = rapi().CeGetLastError();
    if (error == ce_error::kInvalidParameter) {
      failures().Failed(DbFailure::kOpenBadParameter, name);
    } else if (error == ce_error::kDupName) {
      failures().Failed(DbFailure::kCreateDupName, name);
    }
    return false;
  }

  *oid = created;
  *handle = DbHandle(
      rapi(), rapi().CeOpenDatabaseEx(mount_.id_, oid, std::u16string(), 0, CEDB_AUTOINCREMENT));
  if (handle->open()) return true;
  error = rapi().CeGetLastError();
  if (error == ce_error::kInvalidParameter) {
    failures().Failed(DbFailure::kReopenBadParameter, name);
    return false;
  }
  if (error == ce_error::kNotEnoughMemory) {
    failures().Failed(DbFailure::kReopenNoMemory, name);
    return false;
  }
  return true;
}

bool DeviceDatabase::OpenExisting(const std::string& name, DbHandle* handle, CEOID* oid) {
  *oid = 0;
  handle->Close();
  *handle = DbHandle(
      rapi(), rapi().CeOpenDatabaseEx(mount_.id_, oid, AnsiToWide(name), 0, CEDB_AUTOINCREMENT));
  return handle->open();
}

std::optional<uint16_t> DeviceDatabase::CountRecords(CEOID oid) {
  CeOidInfo info;
  if (!rapi().CeOidGetInfoEx(mount_.id_, oid, &info)) {
    failures().Failed(DbFailure::kCountFailed, "");
    return std::nullopt;
  }
  return info.recordCount;
}

uint16_t DeviceDatabase::RecordCount(CEOID oid) { return CountRecords(oid).value_or(0); }

bool DeviceDatabase::DeleteDatabase(CEOID oid) {
  return rapi().CeDeleteDatabaseEx(mount_.id_, oid);
}

bool DeviceDatabase::DeleteDatabaseByName(const std::string& name) {
  DbHandle handle;
  CEOID oid;
  if (!OpenExisting(name, &handle, &oid)) return false;
  handle.Close();
  return DeleteDatabase(oid);
}

bool DeviceDatabase::RemoveDatabase(const std::string& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    DbHandle handle;
    CEOID oid;
    if (!OpenExisting(name, &handle, &oid)) {
      if (rapi().CeGetLastError() == ce_error::kFileNotFound) return true;  // not there
      continue;
    }
    handle.Close();
    if (DeleteDatabase(oid)) return true;
  }
  return false;
}

std::string DeviceDatabase::VolumeName() const { return mount_.name_; }

}  // namespace hhsync
