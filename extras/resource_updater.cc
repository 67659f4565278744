#include "extras/resource_updater.h"

#include <set>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/progress_sink.h"
#include "base/text.h"
#include "base/tokenizer.h"
#include "device/device_database.h"
#include "device/records.h"
#include "net/server_link.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "platform/shell.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr CEPROPID kRidSort = UintProp(ResourceRecord::kRidProp);

bool IsIgnoredType(const std::string& type) { return type == "PRC" || type == "PDB"; }

}  // namespace

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    // No directories, and nothing that could not stand quoted as one
    // argument of the application manager's command line.
    if (c == '/' || c == '\\' || c == '"' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// ResourceRecord

ResourceRecord::ResourceRecord(std::string rid, std::string type, std::string revision,
                               std::string name)
    : rid_(std::move(rid)),
      type_(std::move(type)),
      revision_(std::move(revision)),
      name_(std::move(name)) {}

ReadOutcome ResourceRecord::ReadNextFromDevice(const DeviceDatabase& volume,
                                               const DbHandle& handle) {
  const RecordRead read = ReadRecordValues(
      volume.rapi(), &volume.failures(), handle, {UintProp(kRidProp), TextProp(kRevisionProp)},
      [this](const CePropVal& value) {
        if (value.propid == UintProp(kRidProp)) {
          rid_ = std::to_string(static_cast<int32_t>(value.ulVal));
        } else if (value.propid == TextProp(kRevisionProp)) {
          revision_ = WideToAnsi(value.lpwsz);
        }
      });
  oid_ = read.oid;
  return read.outcome;
}

bool ResourceRecord::WriteToDevice(Rapi& rapi, const DbHandle& handle, const uint8_t* data,
                                   std::size_t size) const {
  if (!handle.open()) return false;
  std::vector<CePropVal> values = {
      CePropVal::Ui4(UintProp(kRidProp), static_cast<uint32_t>(AtoI(rid_))),
      CePropVal::Text(TextProp(kRevisionProp), AnsiToWide(revision_)),
      CePropVal::Text(TextProp(kTypeProp), AnsiToWide(type_)),
      CePropVal::Text(TextProp(kNameProp), AnsiToWide(name_)),
  };
  if (data != nullptr) {
    values.push_back(CePropVal::Blob(BlobProp(kDataProp), std::vector<uint8_t>(data, data + size)));
  }
  return WriteNewRecord(rapi, handle, values).ok;
}

bool ResourceRecord::DeleteFromDevice(Rapi& rapi, const DbHandle& handle) const {
  return DeleteRecordById(rapi, handle, oid_);
}

// ResourceUpdater

ResourceUpdater::ResourceUpdater(VolumeMount& mount, Desktop desktop, std::string statusUrl)
    : mount_(mount), desktop_(desktop), statusUrl_(std::move(statusUrl)) {}

ResourceUpdater::~ResourceUpdater() = default;

void ResourceUpdater::CloseHandles() {
  resourceDb_.Close();
  statusDb_.Close();
}

bool ResourceUpdater::UpdateResources(const SyncContext& run) {
  facts_ = ResourcesFacts();
  itemFacts_.clear();
  notCurrent_.clear();
  recordProblems_.clear();
  DeviceDatabase volume(mount_);
  CEOID oid = 0;
  // A failed open does not end the step: the reconcile then finds no record,
  // and the first write reopens the database after a remount.
  if (!volume.OpenOrCreate(kResourceStatusDatabase, kRidSort, 0, &statusDb_, &oid)) {
    recordProblems_.push_back(std::string(kResourceStatusDatabase) +
                              " could not be opened: its records may be doubled");
  }
  bool done = false;
  if (FetchStatusList(run.progress, run.link)) {
    facts_.listed = static_cast<int>(statusList_.size());
    switch (Reconcile(volume)) {
      case Comparison::kUnchanged:
        facts_.result = ResourcesResult::kUnchanged;
        recordProblems_.clear();  // nothing was written into them
        break;
      case Comparison::kUnreadable:
        Fail("a resource record on the handheld could not be read");
        recordProblems_.clear();
        break;
      case Comparison::kChanged:
        done = Apply(volume, run);
        if (done) facts_.result = ResourcesResult::kUpdated;
        FindNotCurrent();
        break;
    }
  }
  CloseHandles();
  for (auto& [rid, item] : itemFacts_) facts_.items.push_back(std::move(item));
  itemFacts_.clear();
  desktop_.recorder.Resources(facts_);
  return done;
}

void ResourceUpdater::FindNotCurrent() {
  std::set<std::string> missing;
  for (const RecordMap* list : {&statusList_, &downloadList_}) {
    for (const auto& [rid, record] : *list) {
      if (IsIgnoredType(record->type())) continue;
      auto it = itemFacts_.find(rid);
      const bool done = it != itemFacts_.end() &&
                        (list == &statusList_ ? it->second.installed : it->second.stored);
      if (!done) missing.insert(rid);
    }
  }
  notCurrent_.assign(missing.begin(), missing.end());
}

bool ResourceUpdater::Fail(const std::string& reason) {
  facts_.result = ResourcesResult::kFailed;
  if (facts_.reason.empty()) facts_.reason = reason;
  return false;
}

ResourceFacts& ResourceUpdater::Facts(const ResourceRecord& record) {
  auto [it, added] = itemFacts_.try_emplace(record.rid());
  if (added) {
    it->second.rid = record.rid();
    it->second.type = record.type();
    it->second.revision = record.revision();
    it->second.name = record.name();
  }
  return it->second;
}

bool ResourceUpdater::FetchStatusList(ProgressSink& progress, ServerLink& link) {
  const std::string reply = link.FetchText(statusUrl_, &progress);
  if (reply.empty()) return Fail("the resource list could not be fetched");
  if (!ParseStatusList(reply)) return Fail("the resource list was not usable");
  return true;
}

bool ResourceUpdater::ParseStatusList(const std::string& reply) {
  std::string text = reply;
  std::size_t end = text.find_last_not_of(" \t\r\n\v\f");
  text.erase(end == std::string::npos ? 0 : end + 1);

  Tokenizer lines(text, "\n");
  if (!EqualsNoCase(lines.Next(), "OK")) return false;
  lines.Next();  // the second line carries nothing the program uses
  while (lines.HasMore()) {
    std::string line = lines.Next();
    if (line.size() < 3) continue;
    if (statusList_.size() >= kMaxResourceEntries) return false;
    Tokenizer fields(line, "|");
    std::string rid = fields.Next();
    std::string type = fields.Next();
    std::string revision = fields.Next();
    std::string name = fields.Next();
    auto record = std::make_unique<ResourceRecord>(rid, type, revision, name);
    statusList_[rid] = std::make_unique<ResourceRecord>(*record);
    downloadList_[rid] = std::move(record);
  }
  return true;
}

ResourceUpdater::Comparison ResourceUpdater::Reconcile(DeviceDatabase& volume) {
  Rapi& rapi = volume.rapi();
  bool changed = false;
  bool failed = false;
  // A record that could not be deleted stays beside the one written later.
  int stale = 0;
  // A database that could not be opened is read as empty; its first write
  // reopens it.
  while (statusDb_.open()) {
    ResourceRecord stored;
    const ReadOutcome read = stored.ReadNextFromDevice(volume, statusDb_);
    failed = read == ReadOutcome::kFailed;
    if (read != ReadOutcome::kRecord) break;
    auto it = statusList_.find(stored.rid());
    if (it != statusList_.end() && it->second->revision() == stored.revision()) {
      statusList_.erase(it);  // the handheld knows this one already
      continue;
    }
    // Unknown to the server, or of another revision (written again later).
    changed = true;
    if (!stored.DeleteFromDevice(rapi, statusDb_)) ++stale;
  }
  if (failed) return Comparison::kUnreadable;
  if (!changed && !statusList_.empty()) changed = true;
  if (!changed) return Comparison::kUnchanged;

  CEOID oid = 0;
  if (!volume.OpenOrCreate(kResourceDatabase, kRidSort, 0, &resourceDb_, &oid)) {
    recordProblems_.push_back(std::string(kResourceDatabase) +
                              " could not be opened: its records may be doubled");
  }
  while (resourceDb_.open()) {
    ResourceRecord stored;
    const ReadOutcome read = stored.ReadNextFromDevice(volume, resourceDb_);
    failed = read == ReadOutcome::kFailed;
    if (read != ReadOutcome::kRecord) break;
    auto it = downloadList_.find(stored.rid());
    if (it != downloadList_.end() && it->second->revision() == stored.revision()) {
      downloadList_.erase(it);
      continue;
    }
    if (!stored.DeleteFromDevice(rapi, resourceDb_)) ++stale;
  }
  if (stale != 0) {
    recordProblems_.push_back(std::to_string(stale) +
                              " outdated resource records could not be deleted");
  }
  // An unread record might be a current one: downloading it again would
  // leave two.
  return failed ? Comparison::kUnreadable : Comparison::kChanged;
}

bool ResourceUpdater::Apply(DeviceDatabase& volume, const SyncContext& run) {
  run.progress.ResetDetail(static_cast<int>(4 * downloadList_.size()));
  run.progress.SetStatus("Getting status from server.", 1);
  // An INI file is installed by the application manager. When its path
  // could not be read (the PC's registry failed, which is not the same as
  // a manager that is not there), the install cannot be tried, and the
  // INI must not be recorded as current: the next sync fetches it again.
  const std::string manager = run.settings.desktop().AppManagerPath();
  const bool installUntried = manager.empty() && !run.settings.desktop().Trouble().empty();

  std::string installArguments;
  std::set<std::string> arrived;
  if (!StoreDownloads(volume, run.progress, run.link, &installArguments, &arrived)) return false;
  if (!RecordStatus(volume, run.progress, arrived, installUntried)) return false;
  if (installArguments.size() > 1) RunAppManager(manager, installArguments, run.progress);
  return true;
}

// The resources themselves first: a resource is recorded as current in
// "zavResA" only once its data is on the handheld (or its file complete
// beside the program), so one that broke off is fetched again next time.
bool ResourceUpdater::StoreDownloads(DeviceDatabase& volume, ProgressSink& progress,
                                     ServerLink& link, std::string* installArguments,
                                     std::set<std::string>* arrived) {
  for (const auto& [rid, record] : downloadList_) {
    std::vector<uint8_t> buffer(kResourceBufferBytes, 0);
    progress.StepDetail();
    std::string url = statusUrl_ + "&rid=" + rid;
    const std::string& type = record->type();
    ResourceFacts& facts = Facts(*record);
    if (IsIgnoredType(type)) {
      facts.note = "PRC and PDB resources are not kept";
      continue;
    }
    std::size_t size = 1;
    if (type == "CAB" || type == "INI") {
      std::string shortPath;
      if (!SaveToFile(*record, url, link, progress, &shortPath, &facts)) continue;
      if (type == "INI") *installArguments += shortPath;
    } else {
      size = link.FetchIntoBuffer(url, buffer.data(), buffer.size());
      if (size == 0) {
        facts.note = "the download brought nothing";
        return Fail("the download of resource " + rid + " failed");
      }
      facts.fetched = true;
      facts.bytes = size;
      progress.StepDetail();
    }
    if (!WriteWithRetry(volume, kResourceDatabase, &resourceDb_, *record, buffer.data(), size)) {
      return Fail("resource " + rid + " could not be stored on the handheld");
    }
    facts.stored = true;
    arrived->insert(rid);
  }
  return true;
}

// Then the status records, for what arrived and what was current already.
bool ResourceUpdater::RecordStatus(DeviceDatabase& volume, ProgressSink& progress,
                                   const std::set<std::string>& arrived, bool installUntried) {
  for (const auto& [rid, record] : statusList_) {
    progress.StepDetail();
    ResourceFacts& facts = Facts(*record);
    if (IsIgnoredType(record->type())) {
      facts.note = "PRC and PDB resources are not kept";
      continue;
    }
    progress.StepDetail();
    if (downloadList_.count(rid) != 0 && arrived.count(rid) == 0) continue;
    if (installUntried && record->type() == "INI") {
      facts.note = "not recorded: the application manager could not be looked up";
      continue;
    }
    if (!WriteWithRetry(volume, kResourceStatusDatabase, &statusDb_, *record, nullptr, 0)) {
      return Fail("resource " + rid + " could not be recorded on the handheld");
    }
    facts.installed = true;
  }
  return true;
}

void ResourceUpdater::RunAppManager(const std::string& manager, const std::string& arguments,
                                    ProgressSink& progress) {
  if (manager.empty()) {
    // Without the manager the command line would start the first INI file.
    progress.LogLine("CE application manager not registered; nothing installed");
    return;
  }
  // An unquoted path with blanks (C:\Program Files\...) would start
  // whatever its first word names (C:\Program.exe).
  const bool quote = manager.front() != '"' && manager.find_first_of(" \t") != std::string::npos;
  facts_.appManagerCommand = (quote ? "\"" + manager + "\"" : manager) + arguments;
  desktop_.shell.RunAndWait(facts_.appManagerCommand);
}

bool ResourceUpdater::WriteWithRetry(DeviceDatabase& volume, const char* database, DbHandle* handle,
                                     const ResourceRecord& record, const uint8_t* data,
                                     std::size_t size) {
  Rapi& rapi = volume.rapi();
  if (record.WriteToDevice(rapi, *handle, data, size)) return true;
  handle->Close();
  volume.Remount(kResourceRemountPauseMs);
  CEOID oid = 0;
  volume.OpenOrCreate(database, kRidSort, 0, handle, &oid);
  if (record.WriteToDevice(rapi, *handle, data, size)) return true;
  MessageBoxStyle style;
  style.systemModal = true;
  desktop_.prompter.MessageBox("Unable to write resource, please sync again.", style);
  return false;
}

bool ResourceUpdater::IsProgramFile(const std::string& name) const {
  return EqualsNoCase(name, kConfigFileName) || EqualsNoCase(name, kLogFileName) ||
         desktop_.paths.IsPlatformFile(name);
}

bool ResourceUpdater::SaveToFile(const ResourceRecord& record, const std::string& url,
                                 ServerLink& link, ProgressSink& progress, std::string* arguments,
                                 ResourceFacts* facts) {
  const std::string& name = record.name();
  auto skip = [&](const std::string& why) {
    progress.LogLine("resource " + record.rid() + " skipped: " + why);
    facts->note = why;
    return false;
  };
  if (!IsPlainFileName(name) || IsProgramFile(name)) {
    return skip("\"" + name + "\" is not a file the server may write");
  }
  std::string path = desktop_.paths.InProgramDir(name);
  std::unique_ptr<PendingFile> file = desktop_.paths.CreateReplacement(path);
  if (!file) return skip("cannot create " + path);
  // Only a whole download takes the file's place; after a broken one the
  // file stays as it was and the resource is fetched again next time.
  uint64_t written = 0;
  if (!link.FetchIntoFile(*file, url, &written) || !file->Commit()) {
    return skip("the download of " + name + " did not complete");
  }
  facts->fetched = true;
  facts->bytes = written;
  file.reset();
  // A short path still holding blanks (8.3 names switched off) is quoted.
  arguments->append(" ").append(QuoteArgument(desktop_.shell.ShortPath(path)));
  return true;
}

}  // namespace hhsync
