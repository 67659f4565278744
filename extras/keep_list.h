#pragma once
// KeepList: the entries the handheld application collected in its "keep"
// database. They are read at construction, posted to the server in one
// form-encoded request to "/update/keep?" by Upload, and the database is
// deleted from the handheld once the server accepted them (first reply line
// "OK"), so every entry is sent only once. The reply's second line is the
// message for the browser page the run opens afterwards.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "extras/keep_record.h"
#include "platform/rapi.h"
#include "settings/sync_context.h"

namespace hhsync {

class HttpRequest;
class DeviceDatabase;
class VolumeMount;
class ProgressSink;
class ServerLink;
class SyncSettings;

inline constexpr const char* kKeepDatabase = "keep";
inline constexpr std::size_t kKeepReplyLineChars = 2048;

class KeepList {
 public:
  // Reads every record of the handheld's "keep" database through the shared
  // mount of the database volume. A missing or empty database leaves the
  // list absent; so does one that is there but cannot be opened or whose
  // records cannot be counted, and then the facts say the read failed.
  KeepList(VolumeMount& mount, RunRecorder& recorder);
  virtual ~KeepList();
  KeepList(const KeepList&) = delete;
  KeepList& operator=(const KeepList&) = delete;

  // Posts the entries and reads the reply; does nothing when the list is
  // absent or an entry could not be read. Only after an "OK" reply are the
  // entries posted deleted, and the "keep" database with them once empty.
  // An empty "keep" database that an earlier run could not delete is
  // deleted now. What happened is reported to the run's recorder.
  void Upload(const SyncContext& run);

  // What Upload did so far.
  const KeepFacts& facts() const { return facts_; }

  // True when entries were read and the server did not answer "nob".
  bool ShouldOpenBrowser() const { return records_.has_value() && !noBrowser_; }
  std::string Message() const { return message_; }
  // True when at least one entry was read and every entry asks for a page.
  bool AllPageRequests() const { return allPageRequests_; }
  // True when the database is there but it, or an entry, could not be read.
  bool ReadFailed() const { return readFailed_; }

  // The entries read (null when the list is absent).
  const std::vector<std::unique_ptr<KeepRecord>>* records() const {
    return records_ ? &*records_ : nullptr;
  }

  // The form body of the post: "p=" partner "&count=" n "&keep=" and each
  // entry's text form followed by "|".
  std::string BuildBody(const std::string& partner);

 private:
  // Reads the reply of an accepted post. True when its first line is "OK";
  // then *message holds the second line (or "no") and *noBrowser whether it
  // was "nob". False on any other first line or on a transfer error.
  static bool ReadReply(HttpRequest& request, std::string* message, bool* noBrowser,
                        ProgressSink& progress);
  // Upload without the report.
  void Post(const SyncContext& run);
  // Deletes the records posted, then the database when nothing is left.
  void DeletePosted();
  // Deletes the database when it held nothing; whether it is gone.
  bool DeleteIfEmpty(DeviceDatabase& volume);

  VolumeMount& mount_;
  RunRecorder& recorder_;
  CEOID keepDbOid_ = 0;
  std::optional<std::vector<std::unique_ptr<KeepRecord>>> records_;
  std::string message_;
  bool noBrowser_ = false;
  bool allPageRequests_ = false;
  bool readFailed_ = false;
  bool empty_ = false;  // the database is there and holds no entry
  KeepFacts facts_;
};

}  // namespace hhsync
