#pragma once
// DeviceDatabase: the one way to the handheld's database volume. The volume is
// mounted once for a run and shared by every instance through a holder count
// kept in the run's VolumeMount: the first instance mounts it, later ones
// join, and the volume is unmounted when the count returns to 0. Databases
// are opened by name and created with their sort orders when missing.
//
// Thread safety: none; the run's VolumeMount and its DeviceDatabases are
// used by the thread that runs the sync.

#include <cstdint>
#include <optional>
#include <string>

#include "device/db_failure.h"
#include "device/db_handle.h"
#include "platform/rapi.h"

namespace hhsync {

class Clock;

// The volume as one run shares it: the connection it is reached through,
// the clock that times the pauses of a remount, where its failures are told,
// its name and identifier, how many DeviceDatabase objects hold it, and
// whether it is mounted right now. After a remount the objects that held the
// mount still hold it, so the volume stays mounted until the last of them is
// gone. Owned by the run; it must outlive every DeviceDatabase made over it.
class VolumeMount {
 public:
  VolumeMount(Rapi& rapi, Clock& clock, DbFailureSink& failures)
      : rapi_(rapi), clock_(clock), failures_(failures) {}
  VolumeMount(const VolumeMount&) = delete;
  VolumeMount& operator=(const VolumeMount&) = delete;

  const std::string& name() const { return name_; }
  int holders() const { return holders_; }
  bool mounted() const { return mounted_; }

 private:
  friend class DeviceDatabase;
  Rapi& rapi_;
  Clock& clock_;
  DbFailureSink& failures_;
  std::string name_;
  CeGuid id_;
  int32_t holders_ = 0;
  bool mounted_ = false;
};

class DeviceDatabase {
 public:
  // Joins the run's mount, or mounts the volume whose name was stored by an
  // earlier mount when it is not mounted.
  explicit DeviceDatabase(VolumeMount& mount);
  // Joins the run's mount, or stores the name and mounts that volume.
  DeviceDatabase(VolumeMount& mount, const std::string& volumeName);
  ~DeviceDatabase();
  DeviceDatabase(const DeviceDatabase&) = delete;
  DeviceDatabase& operator=(const DeviceDatabase&) = delete;

  // Whether this instance holds the mount and counts in the holder count.
  bool mounted() const { return mounted_; }

  // Stores the name and mounts it. Meant for when the volume is not mounted
  // (after a failed first mount, after Unmount). True when this instance now
  // holds a mounted volume.
  bool Mount(const std::string& volumeName);
  // Unmounts the shared volume, whatever other instances still exist. The
  // instances that held the mount keep holding it: a Mount that follows
  // brings the volume back for all of them, and it stays mounted until the
  // last of them is gone.
  void Unmount();
  // Unmount, sleep for the pause, mount the stored volume name again.
  bool Remount(uint32_t pauseMs);

  // Opens a database by name, creating it with 0, 1 or 2 sort orders (a sort
  // identifier of 0 means none) when it cannot be opened. Tells the volume's
  // sink of the open and create failures the user hears of. *handle closes what it held
  // before and holds the new database. May return true with nothing open
  // when the new database cannot be reopened for a reason other than a bad
  // parameter or lack of memory; every record writer refuses such a handle.
  bool OpenOrCreate(const std::string& name, CEPROPID firstSort, CEPROPID secondSort,
                    DbHandle* handle, CEOID* oid);
  // Opens a database by name; no message.
  bool OpenExisting(const std::string& name, DbHandle* handle, CEOID* oid);
  // The database's record count; 0, told to the sink, on failure.
  uint16_t RecordCount(CEOID oid);
  // The same, with a failure told apart from an empty database.
  std::optional<uint16_t> CountRecords(CEOID oid);
  bool DeleteDatabase(CEOID oid);
  // True when the database existed and was deleted.
  bool DeleteDatabaseByName(const std::string& name);
  // Makes sure the database is gone: true when it was deleted or did not
  // exist; a failed open or delete is tried once more. False when it may
  // still be there.
  bool RemoveDatabase(const std::string& name);

  std::string VolumeName() const;
  Rapi& rapi() const { return mount_.rapi_; }
  DbFailureSink& failures() const { return mount_.failures_; }

 private:
  bool MountVolume();
  // Holds the shared mount, mounting the volume when it is not mounted.
  void Join();

  VolumeMount& mount_;
  bool mounted_ = false;
};

}  // namespace hhsync
