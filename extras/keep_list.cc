#include "extras/keep_list.h"

#include <optional>
#include <utility>

#include "base/progress_sink.h"
#include "base/text.h"
#include "device/device_database.h"
#include "device/records.h"
#include "net/server_link.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

// The longest error text taken from a transfer error.
constexpr std::size_t kMaxErrorTextChars = 1024;

void LogTransferError(ProgressSink& progress, const HttpError& error) {
  progress.LogLine("Error:  " + std::to_string(error.code) + " " +
                   error.message.substr(0, kMaxErrorTextChars));
}

}  // namespace

KeepList::KeepList(VolumeMount& mount, RunRecorder& recorder) : mount_(mount), recorder_(recorder) {
  DeviceDatabase volume(mount_);
  DbHandle handle;
  CEOID oid = 0;
  if (!volume.OpenExisting(kKeepDatabase, &handle, &oid)) {
    // A database that is there but cannot be opened holds entries that
    // could not be read: they stay for the next sync, and the run's report
    // says so instead of telling of no list at all.
    readFailed_ = volume.rapi().CeGetLastError() != ce_error::kFileNotFound;
    return;
  }
  keepDbOid_ = oid;
  // The same for a record count that could not be had.
  const std::optional<uint16_t> counted = volume.CountRecords(oid);
  if (!counted) readFailed_ = true;
  const uint16_t count = counted.value_or(0);
  empty_ = counted == 0;
  if (count != 0) {
    records_.emplace();
    bool sawOther = false;
    for (uint16_t i = 0; i < count; ++i) {
      auto record = std::make_unique<KeepRecord>(volume, handle);
      // An entry that could not be read must not be posted as empty, nor
      // deleted unsent: the list is then not posted this time.
      if (record->readFailed()) readFailed_ = true;
      if (!record->IsPageRequest()) sawOther = true;
      allPageRequests_ = !sawOther;
      records_->push_back(std::move(record));
    }
  }
}

KeepList::~KeepList() = default;

std::string KeepList::BuildBody(const std::string& partner) {
  std::string body =
      "p=" + partner + "&count=" + std::to_string(records_ ? records_->size() : 0) + "&keep=";
  if (records_) {
    for (auto& record : *records_) body += record->ToText() + "|";
  }
  return body;
}

void KeepList::Upload(const SyncContext& run) {
  facts_.entriesRead = records_ ? static_cast<int>(records_->size()) : 0;
  facts_.readFailed = readFailed_;
  Post(run);
  recorder_.Keep(facts_);
}

void KeepList::Post(const SyncContext& run) {
  if (empty_) {
    // What a post leaves once its entries are deleted; an earlier run could
    // not delete it, and a run that finds it empty would never post again.
    DeviceDatabase volume(mount_);
    facts_.databaseDeleted = DeleteIfEmpty(volume);
  }
  if (!records_) return;
  if (readFailed_) {
    run.progress.LogLine("keep entries could not all be read; they are sent at the next sync");
    return;
  }
  std::unique_ptr<HttpSession> session = run.link.OpenSession(kConnectTimeoutMs);
  noBrowser_ = false;

  std::string url = run.settings.baseUrl() + "/update/keep?";
  std::string body = BuildBody(run.settings.partner());
  ParsedUrl parsed;
  if (!ParseHttpUrl(url, &parsed)) return;

  run.progress.SetStatus("Connecting to Tessary Server", 1);
  run.progress.ResetPhase(1);
  if (!run.progress.IsRunning()) return;
  run.progress.SetStatus("Sending...", 1);
  run.progress.ResetPhase(2);

  ServerLink::PostSteps steps;
  steps.connected = [&run] { run.progress.SetDetail(25, 100); };
  steps.requestOpened = [&run] { run.progress.SetDetail(50, 100); };
  steps.headersAdded = [&run] { run.progress.SetDetail(75, 100); };
  steps.sent = [&run] { run.progress.SetDetail(0, 100); };
  HttpError error;
  std::unique_ptr<HttpRequest> request = run.link.PostForm(*session, parsed, body, steps, &error);
  facts_.posted = request != nullptr || error.code == 0;  // a status came back
  if (!request) {
    // Refused, another status, or a transfer error: the entries stay on the
    // handheld and go out again at the next sync.
    if (error.code != 0) LogTransferError(run.progress, error);
    return;
  }

  std::string message;
  bool noBrowser = false;
  bool accepted = ReadReply(*request, &message, &noBrowser, run.progress);
  request.reset();
  session.reset();
  if (!accepted) return;
  facts_.accepted = true;
  facts_.reply = message;
  message_ = message;
  noBrowser_ = noBrowser;
  DeletePosted();
}

void KeepList::DeletePosted() {
  // Exactly the entries posted go: one the handheld added while the post was
  // on its way stays for the next sync. The database goes once it is empty.
  // Each step is tried twice, since an entry left behind is posted again.
  DeviceDatabase volume(mount_);
  DbHandle handle;
  CEOID oid = 0;
  if (!volume.OpenExisting(kKeepDatabase, &handle, &oid) &&
      !volume.OpenExisting(kKeepDatabase, &handle, &oid)) {
    return;
  }
  if (oid != keepDbOid_) return;  // not the database the entries were read from
  for (const auto& record : *records_) {
    if (DeleteRecordById(volume.rapi(), handle, record->oid())) ++facts_.entriesDeleted;
  }
  handle.Close();
  facts_.databaseDeleted = DeleteIfEmpty(volume);
}

bool KeepList::DeleteIfEmpty(DeviceDatabase& volume) {
  std::optional<uint16_t> left = volume.CountRecords(keepDbOid_);
  if (!left) left = volume.CountRecords(keepDbOid_);
  if (left != 0) return false;
  return volume.DeleteDatabase(keepDbOid_) || volume.DeleteDatabase(keepDbOid_);
}

bool KeepList::ReadReply(HttpRequest& request, std::string* message, bool* noBrowser,
                         ProgressSink& progress) {
  HttpError error;
  std::string line;
  if (!ReadReplyLine(request, kKeepReplyLineChars, &line, &error)) {
    if (error.code != 0) LogTransferError(progress, error);
    return false;
  }
  TrimRight(&line, " \t\r\n\v\f");
  if (!EqualsNoCase(line, "OK")) return false;

  *message = "no";
  *noBrowser = false;
  if (ReadReplyLine(request, kKeepReplyLineChars, &line, &error)) {
    TrimRight(&line, " \n\r");
    *message = line;
    if (line == "nob") *noBrowser = true;
  } else if (error.code != 0) {
    // The reply broke off: the server's answer is not known for sure.
    LogTransferError(progress, error);
    return false;
  }
  if (message->empty()) *message = "no";
  return true;
}

}  // namespace hhsync
