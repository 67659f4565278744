#pragma once
// The report of one run: what the run set out to do, how it ended, and the
// facts each part of the program reports about its own work (the requests
// sent, the categories and resources synced, the keep list, the message
// boxes shown). The parts report through a RunRecorder they are handed with
// the run's ports; the recorder of a run that keeps no report does nothing.
//
// Text in a report is the program's 8-bit text (Windows-1252), as the run
// had it; whoever writes the report out converts it.
//
// Thread safety: RunReport is a plain value. A RunRecorder may be called
// from any thread (message boxes come from dialog threads too); the no-op
// recorder trivially allows it, and collecting recorders say how they do.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hhsync {

// How a run ended. Names as written in the report: see OutcomeName.
enum class RunOutcome {
  kComplete,         // the mode's work is done
  kPartial,          // the profile was exchanged, but content or resources are not all done
  kNotDue,           // nothing to do: no sync due, no keep entry waiting
  kPageOnly,         // the keep list posted and the page opened, without a full sync
  kCancelled,        // the user cancelled
  kNoHandheld,       // no handheld answered
  kNoConfiguration,  // S.DAT could not be loaded
  kRedirect,         // the server answered the profile request with REDIRECT
  kFailed,           // the run could not do its work
};

// "complete", "partial", "not-due", "page-only", "cancelled", "no-handheld",
// "no-configuration", "redirect", "failed".
const char* OutcomeName(RunOutcome outcome);

// The exit status of a run that ended so: 0 for complete, not-due and
// page-only (nothing is owed), otherwise one status per outcome so that a
// script or a service manager can tell them apart: failed 1, partial 3,
// cancelled 4, no-handheld 5, no-configuration 6, redirect 7. (2 is a front
// end that cannot be had, before any outcome.)
int ExitStatusOf(RunOutcome outcome);
inline constexpr int kExitFrontEndUnavailable = 2;

// One HTTP request as it went out and came back.
struct RequestFacts {
  std::string method;
  std::string url;             // without credentials
  std::optional<int> status;   // none when no status line arrived
  uint64_t bytesReceived = 0;  // body bytes read
  int64_t ms = 0;              // from opening the request to releasing it
  int errorCode = 0;           // a transport failure's code, 0 without one
  std::string errorText;
};

// What a request's end adds to the facts its start gave.
struct RequestResult {
  std::optional<int> status;
  uint64_t bytesReceived = 0;
  int errorCode = 0;
  std::string errorText;
};

// What the content step did with a category.
enum class CategoryAction {
  kNew,          // not on the handheld
  kUpdated,      // on the handheld in another version, or a category of status lines only
  kUnchanged,    // on the handheld in the profile's version
  kGone,         // on the handheld, no longer in the profile
  kLeft,         // left for the next sync: what the handheld holds of it could not be read
  kSharedTable,  // left out: an earlier category of the profile has its content table
};
// "new", "updated", "unchanged", "gone", "left", "shared-table".
const char* CategoryActionName(CategoryAction action);

// One category the content step dealt with.
struct CategoryFacts {
  std::string key;
  CategoryAction action = CategoryAction::kLeft;
  std::optional<uint32_t> profileVersion;  // none for a category of status lines only
  std::optional<uint32_t> versionBefore;   // its "cats" record before the run; none without
  std::optional<uint32_t> versionAfter;    // its "cats" record after the run; none without
  int itemsFetched = 0;                    // items downloaded whole
  int itemsDeleted = 0;       // index records deleted one by one from its content table
  int recordsWritten = 0;     // index records and "J"/"JJ" records written
  bool tableDeleted = false;  // a gone category's content table was deleted
  bool completed = false;     // the handheld now holds it whole (a gone one: its record is gone)
};

// The keep list of a run that used one.
struct KeepFacts {
  int entriesRead = 0;
  bool readFailed = false;  // the database or an entry could not be read: nothing was posted
  bool posted = false;      // the post went out
  bool accepted = false;    // the server answered "OK"
  std::string reply;        // the reply's second line when accepted ("no" without one)
  int entriesDeleted = 0;
  bool databaseDeleted = false;
  bool pageOpened = false;
  std::string pageUrl;  // empty when no page was opened
};

// One resource the resource step dealt with.
struct ResourceFacts {
  std::string rid;
  std::string type;
  std::string revision;
  std::string name;
  bool fetched = false;    // its download completed
  uint64_t bytes = 0;      // the bytes kept: written to its file or stored on the handheld
  bool stored = false;     // its "zavRes" record was written
  bool installed = false;  // its "zavResA" record was written: the handheld knows it current
  std::string note;        // why it was passed over, when it was
};

// How the resource step of a full sync ended.
enum class ResourcesResult { kUpdated, kUnchanged, kFailed };
// "updated", "unchanged", "failed".
const char* ResourcesResultName(ResourcesResult result);

// The resource step of a full sync.
struct ResourcesFacts {
  ResourcesResult result = ResourcesResult::kFailed;
  std::string reason;  // why it failed
  int listed = 0;      // entries of the server's resource list
  std::vector<ResourceFacts> items;
  std::string appManagerCommand;  // the CE application manager's command line, if it ran
};

struct MessageFacts {
  std::string text;
  std::string buttons;  // "ok", "ok,cancel", "yes,no", "retry,cancel"
  std::string answer;   // "ok", "cancel", "retry", "yes", "no"
};

struct HandheldFacts {
  std::optional<bool> connected;  // none when the mode never connects
  std::string volume;             // the database volume the run used; empty when none
  bool mounted = false;
  std::string sd6;  // the handheld's sd6 setting as the run read it; empty when not read
};

struct RunReport {
  std::string mode;              // "sync", "first", "test", "config"
  int64_t startedAt = 0;         // seconds since 1970 (UTC)
  int startedOffsetMinutes = 0;  // the local time's offset from UTC then
  int64_t endedAt = 0;
  int endedOffsetMinutes = 0;
  int64_t elapsedMs = 0;
  RunOutcome outcome = RunOutcome::kFailed;
  std::string reason;
  HandheldFacts handheld;
  std::optional<uint32_t> lstWritten;  // the "lst" value written, when it was
  std::vector<RequestFacts> requests;
  std::vector<CategoryFacts> categories;
  std::optional<KeepFacts> keep;
  std::optional<ResourcesFacts> resources;
  std::vector<MessageFacts> messages;
};

// Where the parts of a run report their facts. Every method does nothing
// here; a collecting recorder overrides them.
class RunRecorder {
 public:
  RunRecorder() = default;
  virtual ~RunRecorder() = default;
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  // How the run ended; a later call replaces an earlier one.
  virtual void Outcome(RunOutcome /*outcome*/, const std::string& /*reason*/) {}
  // Something wrong that the run went on despite (a configuration without
  // the product's properties): the report's reason names it before the
  // outcome's own.
  virtual void Problem(const std::string& /*problem*/) {}
  virtual void HandheldConnected(bool /*connected*/) {}
  virtual void HandheldVolume(const std::string& /*volume*/, bool /*mounted*/) {}
  virtual void HandheldSd6(const std::string& /*sd6*/) {}
  // The "lst" value the run wrote into the desktop registry.
  virtual void LastSyncWritten(uint32_t /*value*/) {}
  // A request about to go out; the number it returns names it when it ends.
  virtual int RequestStarted(const std::string& /*method*/, const std::string& /*url*/) {
    return 0;
  }
  virtual void RequestEnded(int /*request*/, const RequestResult& /*result*/) {}
  virtual void Category(const CategoryFacts& /*facts*/) {}
  // The keep list's post; KeepPage adds the page opened afterwards.
  virtual void Keep(const KeepFacts& /*facts*/) {}
  virtual void KeepPage(const std::string& /*url*/, bool /*opened*/) {}
  virtual void Resources(const ResourcesFacts& /*facts*/) {}
  virtual void Message(const MessageFacts& /*facts*/) {}
};

// A recorder that does nothing, for runs and tests that keep no report.
RunRecorder& NoRunRecorder();

// The URL without a user name and password before its host.
std::string UrlWithoutCredentials(const std::string& url);

// The run in one line for people: "<outcome>: N categories updated, N
// items, SIZE, T s", and "; <reason>" when there is one. Categories count
// when they were new or updated and completed; items are the items fetched;
// the size is every body byte received. The modes that sync nothing ("test",
// "config") say "<outcome>: <reason> (T s)" instead.
std::string ReportSummary(const RunReport& report);

// "512 B", "1.2 kB", "3.4 MB", "1.0 GB" (powers of 1000).
std::string SizeText(uint64_t bytes);

}  // namespace hhsync
