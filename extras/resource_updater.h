#pragma once
// Resources: files the handheld's companion application needs and
// installation packages for the PC's CE application manager. The server's
// resource status list is compared with the handheld databases "zavResA"
// (what the handheld has been told about) and "zavRes" (the resources
// themselves); what is new or changed is downloaded and stored, and
// installation descriptors ("INI") are handed to the CE application manager.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "device/db_handle.h"
#include "device/records.h"
#include "platform/rapi.h"
#include "settings/sync_context.h"

namespace hhsync {

class DeviceDatabase;
class Paths;
class Prompter;
class Shell;
class VolumeMount;
class ProgressSink;
class ServerLink;
class SyncSettings;

inline constexpr const char* kResourceDatabase = "zavRes";
inline constexpr const char* kResourceStatusDatabase = "zavResA";
// Largest resource kept in memory (types other than CAB, INI, PRC, PDB).
inline constexpr std::size_t kResourceBufferBytes = 132000;
// The most entries a resource status list may bring into memory: far above
// any real list. A longer list is not used.
inline constexpr std::size_t kMaxResourceEntries = 1'000'000;
// Pause before the volume is mounted again after a refused write.
inline constexpr uint32_t kResourceRemountPauseMs = 20;

// One resource: as the server lists it, or as read back from the handheld.
//
// On the handheld: property 100 (number) the rid, the sort order of both
// databases; 101 the revision, 102 the type, 103 the name (text); 104 the
// data (byte block, "zavRes" only).
class ResourceRecord {
 public:
  static constexpr uint16_t kRidProp = 100;
  static constexpr uint16_t kRevisionProp = 101;
  static constexpr uint16_t kTypeProp = 102;
  static constexpr uint16_t kNameProp = 103;
  static constexpr uint16_t kDataProp = 104;

  ResourceRecord() = default;
  ResourceRecord(std::string rid, std::string type, std::string revision, std::string name);
  virtual ~ResourceRecord() = default;
  ResourceRecord(const ResourceRecord&) = default;
  ResourceRecord& operator=(const ResourceRecord&) = default;

  // Reads the next record (properties 100 and 101 only). Each property the
  // record lacks is told to the volume's failure sink. The rid becomes the
  // signed decimal text of the stored number.
  ReadOutcome ReadNextFromDevice(const DeviceDatabase& volume, const DbHandle& handle);
  // Writes the record as a new one: properties 100 to 103, and 104 with
  // size bytes of data unless data is null. The rid is stored as the number
  // its leading decimal digits give. False on an invalid handle or a refused
  // write (error 87, 112 or no error code).
  bool WriteToDevice(Rapi& rapi, const DbHandle& handle, const uint8_t* data,
                     std::size_t size) const;
  // Deletes the record last read, when one was read. True when the
  // handheld reported it deleted.
  bool DeleteFromDevice(Rapi& rapi, const DbHandle& handle) const;

  CEOID oid() const { return oid_; }
  const std::string& rid() const { return rid_; }
  const std::string& type() const { return type_; }
  const std::string& revision() const { return revision_; }
  const std::string& name() const { return name_; }

 private:
  CEOID oid_ = 0;
  std::string rid_;
  std::string type_;
  std::string revision_;
  std::string name_;
};

class ResourceUpdater {
 public:
  using RecordMap = std::map<std::string, std::unique_ptr<ResourceRecord>>;

  // The desktop's side of the step: where files are saved (paths), how the
  // application manager is started (shell), where the user is told of a
  // write that failed (prompter) and what the step did (recorder).
  struct Desktop {
    Paths& paths;
    Shell& shell;
    Prompter& prompter;
    RunRecorder& recorder;
  };
  // statusUrl: the resource status request; a download adds "&rid=" + rid.
  ResourceUpdater(VolumeMount& mount, Desktop desktop, std::string statusUrl);
  virtual ~ResourceUpdater();  // closes the databases still open
  ResourceUpdater(const ResourceUpdater&) = delete;
  ResourceUpdater& operator=(const ResourceUpdater&) = delete;

  // The whole resource step: fetch the status list, reconcile it with the
  // handheld, download and store what is new or changed, and run the CE
  // application manager for the INI files saved. True when the handheld's
  // resources were brought up to date; false when nothing had changed or a
  // step failed. What happened is reported to the run's recorder.
  bool UpdateResources(const SyncContext& run);

  // What the last UpdateResources did: "updated", "unchanged" or "failed".
  const ResourcesFacts& facts() const { return facts_; }
  // What keeps the handheld's resources from being what the server listed
  // after the last UpdateResources, for the run's outcome: the rids of
  // resources that are not current (their data or their status record is
  // missing), and the handheld records that are stale or may be doubled.
  // Both empty when every listed resource is current.
  const std::vector<std::string>& notCurrent() const { return notCurrent_; }
  const std::vector<std::string>& recordProblems() const { return recordProblems_; }

  // Parses a status reply into both lists. False when its first line is not
  // "OK" (ignoring case), or when it lists more than kMaxResourceEntries.
  bool ParseStatusList(const std::string& reply);

  const RecordMap& downloadList() const { return downloadList_; }
  const RecordMap& statusList() const { return statusList_; }

 private:
  bool FetchStatusList(ProgressSink& progress, ServerLink& link);
  enum class Comparison { kUnchanged, kChanged, kUnreadable };
  // Compares both lists with the handheld, deleting the records that are
  // gone or of another revision. kUnreadable when a record could not be
  // read: what the handheld holds is then not known and nothing more is
  // written this time.
  Comparison Reconcile(DeviceDatabase& volume);
  bool Apply(DeviceDatabase& volume, const SyncContext& run);
  // Apply's steps: store the new and changed resources (and save the CAB
  // and INI files, collecting the INI paths), record the status of what is
  // current, start the CE application manager on the INI files saved.
  bool StoreDownloads(DeviceDatabase& volume, ProgressSink& progress, ServerLink& link,
                      std::string* installArguments, std::set<std::string>* arrived);
  bool RecordStatus(DeviceDatabase& volume, ProgressSink& progress,
                    const std::set<std::string>& arrived, bool installUntried);
  void RunAppManager(const std::string& manager, const std::string& arguments,
                     ProgressSink& progress);
  // Writes a record; after a refusal closes the handle, remounts the volume,
  // reopens the database by name and tries once more; tells the user when
  // that fails too.
  bool WriteWithRetry(DeviceDatabase& volume, const char* database, DbHandle* handle,
                      const ResourceRecord& record, const uint8_t* data, std::size_t size);
  // Saves a CAB or INI resource into the program directory and appends a
  // blank and the file's short path to *arguments. False when the file could
  // not be created or written whole; *facts tells what happened.
  bool SaveToFile(const ResourceRecord& record, const std::string& url, ServerLink& link,
                  ProgressSink& progress, std::string* arguments, ResourceFacts* facts);
  // The report entry of a resource, made on first use.
  ResourceFacts& Facts(const ResourceRecord& record);
  // Fills notCurrent_ from what is left of both lists after Apply.
  void FindNotCurrent();
  // Apply's failure, for the report.
  bool Fail(const std::string& reason);
  void CloseHandles();
  // Whether name is one of the program's own files in the program directory.
  bool IsProgramFile(const std::string& name) const;

  VolumeMount& mount_;
  Desktop desktop_;
  std::string statusUrl_;
  RecordMap downloadList_;
  RecordMap statusList_;
  DbHandle resourceDb_;
  DbHandle statusDb_;
  ResourcesFacts facts_;
  std::map<std::string, ResourceFacts> itemFacts_;  // by rid
  std::vector<std::string> notCurrent_;
  std::vector<std::string> recordProblems_;
};

// Whether name can be a file in the program directory: not empty, not "."
// or "..", without "/", "\", double quotes or control characters.
bool IsPlainFileName(const std::string& name);

}  // namespace hhsync
