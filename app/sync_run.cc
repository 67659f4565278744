// One complete sync as a short sequence of named steps: connect, the
// first-run handshake, the volume probe, the decision whether a full sync is
// due, the progress dialog, the server and handheld work, the bookkeeping,
// and closing everything again. Each way out reports the run's outcome to
// the run's recorder (see docs/report.schema.json for what each means).

#include <memory>
#include <string>
#include <vector>

#include "app/db_failure_boxes.h"
#include "app/dialogs/dialog_threads.h"
#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "base/run_report.h"
#include "content/category_list.h"
#include "device/device_database.h"
#include "extras/keep_list.h"
#include "extras/resource_updater.h"
#include "net/server_link.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/rapi.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/browser.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr const char* kStillCopying =
    "Unable to open database perhaps it is still copying on device.";

// The first-run handshake: tries of the "OK" markers, and of sd6, one second
// apart.
constexpr int kHandshakeTries = 10;
constexpr uint32_t kHandshakePauseMs = 1000;
constexpr int kSd6Retries = 10;
// Waiting for the database marker before the volume is probed.
constexpr int kDbpOkTries = 3;
constexpr uint32_t kDbpOkPauseMs = 2000;
// A first run's patience with a volume that is not there yet.
constexpr uint32_t kMountRetryPauseMs = 1000;
constexpr uint32_t kMountSecondPauseMs = 3000;
constexpr uint32_t kStillCopyingPauseMs = 3000;
// The phases of the upper bar.
constexpr int kContentPhaseSteps = 6;
constexpr int kFinalPhaseSteps = 7;
constexpr int kSecondsPerHour = 3600;

// One run of RunSync. Each step says in its name what it does; a step that
// returns false ends the run early (the connection is closed on the way out).
class SyncRun {
 public:
  SyncRun(SyncRunner& runner, const Ports& ports, bool firstRun)
      : runner_(runner),
        ports_(ports),
        firstRun_(firstRun),
        properties_(runner.Properties()),
        waitThread_(*ports.dialogs, waitDialog_),
        dbFailures_(*ports.prompter),
        mount_(*ports.rapi, *ports.clock, dbFailures_) {}

  bool Run() {
    if (firstRun_) ShowWaitDialog();
    if (!Connect()) return false;
    bool ready = ProbeVolume();
    ReportVolume(ready);
    if (ready) ready = DecideWhatIsDue();
    if (ready) {
      OpenProgressDialog();
      if (browserOnly_) {
        PostKeepListOnly();
      } else {
        FullSync();
      }
      if (firstRun_) runner_.LaunchDeviceApp(LaunchCall::kLaunchAfter);
    }
    ports_.rapi->CeRapiUninit();
    if (progressThread_) progressThread_->Stop();
    return ready;
  }

 private:
  void ShowWaitDialog() {
    waitThread_.Start();
    waitDialog_.SetShown(true);
    waitDialog_.Step();
  }

  // CeRapiInitEx and the wait for its event; a first run says when no
  // handheld answers.
  bool Connect() {
    const bool connected = runner_.Connect();
    ports_.recorder->HandheldConnected(connected);
    if (connected) return true;
    // The desktop may know why: the connection failed on its side.
    const std::string why = ports_.rapi->DesktopErrorText();
    if (why.empty()) {
      const std::string note = ports_.rapi->NoAnswerText();
      Outcome(RunOutcome::kNoHandheld, "no handheld answered" + (note.empty() ? "" : ": " + note));
    } else {
      Outcome(RunOutcome::kFailed, "the handheld could not be reached: " + why);
    }
    if (firstRun_) ports_.prompter->MessageBox(kNoConnectionMessage, MessageBoxStyle{});
    ports_.rapi->CeRapiUninit();
    return false;
  }

  void Outcome(RunOutcome outcome, const std::string& reason) {
    ports_.recorder->Outcome(outcome, reason);
  }

  // The volume as the probe left it; a run that cannot use it ends here.
  void ReportVolume(bool mounted) {
    if (settings_) ports_.recorder->HandheldSd6(settings_->GetSd6());
    ports_.recorder->HandheldVolume(probe_ ? probe_->VolumeName() : std::string(), mounted);
    if (mounted) return;
    if (userCancelled_) {
      Outcome(RunOutcome::kCancelled, "the user cancelled while the volume was not there");
    } else {
      const std::string why = ports_.rapi->DesktopTrouble();
      Outcome(RunOutcome::kFailed, "the database volume \"" +
                                       (probe_ ? probe_->VolumeName() : std::string()) +
                                       "\" could not be mounted" + (why.empty() ? "" : ": " + why));
    }
  }

  // What the steps share, once the settings, the progress dialog and the
  // server link exist.
  SyncContext Context() { return {*progress_, *settings_, *link_}; }

  // The settings, after a first run's handshake with the freshly installed
  // handheld software, and the volume they name mounted.
  bool ProbeVolume() {
    bool dbDone = false;
    if (firstRun_) dbDone = Handshake();
    settings_ = std::make_unique<SyncSettings>(ports_, &properties_);
    std::string volume = settings_->GetDbp();
    if (firstRun_) {
      for (int i = 0; i < kDbpOkTries && !(dbDone || settings_->CheckDbpOk()); ++i) {
        Pause(kDbpOkPauseMs);
        volume = settings_->GetDbp();
      }
      volume = settings_->GetDbp();
    }
    probe_ = std::make_unique<DeviceDatabase>(mount_, volume);
    return probe_->mounted() || (firstRun_ && MountLater());
  }

  // Waits for the handheld side's "OK" markers and sd6, launching the
  // companion library. Whether the database marker was seen.
  bool Handshake() {
    SyncSettings first(ports_, &properties_);
    bool dbDone = first.CheckDbpOk();
    bool dllDone = first.CheckDllOk();
    for (int i = 0; i < kHandshakeTries && !(dbDone && dllDone); ++i) {
      if (waitDialog_.IsDone()) break;
      Pause(kHandshakePauseMs);
      dbDone = dbDone || first.CheckDbpOk();
      dllDone = dllDone || first.CheckDllOk();
    }
    runner_.LaunchDeviceApp(LaunchCall::kLaunchApp);
    for (int retries = 0; first.RefreshSd6().empty() && retries < kSd6Retries; ++retries) {
      waitDialog_.Step();
      if (waitDialog_.IsDone()) break;
      ports_.clock->SleepMs(kHandshakePauseMs);
      runner_.LaunchDeviceApp(LaunchCall::kLaunchApp);
    }
    return dbDone;
  }

  // A first run's further tries of a volume that was not there yet, ending
  // with the user's Retry or Cancel.
  bool MountLater() {
    userCancelled_ = true;  // until the volume is there
    if (waitDialog_.IsDone()) return false;
    Pause(kMountRetryPauseMs);
    if (waitDialog_.IsDone()) return false;
    if (probe_->Mount(settings_->GetDbp())) return true;
    Pause(kMountSecondPauseMs);
    while (!probe_->Mount(settings_->GetDbp())) {
      MbAnswer answer = ports_.prompter->MessageBox(
          kStillCopying, MessageBoxStyle{MbButtons::kRetryCancel, MbIcon::kNone, true});
      if (answer == MbAnswer::kCancel) return false;
      ports_.clock->SleepMs(kStillCopyingPauseMs);
    }
    userCancelled_ = false;
    return true;
  }

  // Steps the wait dialog and sleeps.
  void Pause(uint32_t ms) {
    waitDialog_.Step();
    ports_.clock->SleepMs(ms);
  }

  // Whether the run goes on, and whether it only posts the keep list and
  // opens the browser: a sync that is not due yet, or pages the handheld
  // asked for, need no full sync when every keep entry is a page request.
  bool DecideWhatIsDue() {
    if (!settings_->ni() && settings_->sra()) {
      KeepList keep(mount_, *ports_.recorder);
      if (!keep.ShouldOpenBrowser()) {
        Outcome(RunOutcome::kNotDue, "the handheld asked for its pages only and " +
                                         NoKeepEntry(keep, "holds no keep entry"));
        return false;
      }
      if (keep.AllPageRequests()) {
        browserOnly_ = true;
      } else {
        settings_->ClearSra();
      }
    }
    if (settings_->ni() || browserOnly_ || !NotDueYet()) return true;
    KeepList keep(mount_, *ports_.recorder);
    if (!keep.ShouldOpenBrowser()) {
      Outcome(RunOutcome::kNotDue, "the last sync was " + std::to_string(hoursSinceLast_) +
                                       " hours ago, syncs are due every " +
                                       std::to_string(hoursBetween_) + " hours, and " +
                                       NoKeepEntry(keep, "no keep entry waits"));
      return false;
    }
    browserOnly_ = keep.AllPageRequests();
    return true;
  }

  // Why the keep list gives the run nothing to do: it is empty (none), or
  // its database is there but could not be read, which the report should
  // not pass off as empty.
  static std::string NoKeepEntry(const KeepList& keep, const char* none) {
    return keep.ReadFailed() ? "its keep database could not be read" : none;
  }

  bool NotDueYet() {
    const int hoursBetween = settings_->desktop().GetUpdateFrequency();
    if (hoursBetween <= 0) return false;
    const uint32_t last = settings_->desktop().GetLastSync();
    if (last == 0) return false;
    hoursBetween_ = hoursBetween;
    hoursSinceLast_ = (ports_.clock->Now() - static_cast<int64_t>(last)) / kSecondsPerHour;
    return hoursSinceLast_ < hoursBetween;
  }

  void OpenProgressDialog() {
    progress_ = std::make_unique<ProgressDialog>(
        ProgressDialog::Desktop{*ports_.registry, *ports_.paths, *ports_.clock, *ports_.prompter},
        runner_.config().GetBitmap("main.bmp"), properties_.Get("name"),
        settings_->logEnabled() ? ProgressDialog::Log::kOpen : ProgressDialog::Log::kAsSwitched,
        properties_.Has("nologo") ? ProgressDialog::Logo::kHidden : ProgressDialog::Logo::kShown,
        properties_.Get("registry"));
    progressThread_ = std::make_unique<ProgressDialogThread>(*ports_.dialogs, *progress_);
    progressThread_->Start();
    if (firstRun_) {
      if (!waitDialog_.IsDone()) waitDialog_.SetShown(false);
      waitThread_.End();
    }
    // Every request of the run goes through one link; a proxy it switches
    // off stays off for the rest of the run.
    link_ = std::make_unique<ServerLink>(*ports_.http, *ports_.prompter, settings_->proxyConfig(),
                                         *ports_.recorder);
    progress_->SetStatus("Contacting Server", 1);
    progress_->ResetPhase(0);
  }

  // The keep list and its page without a full sync: the run ends page-only
  // once the server accepted the entries.
  void PostKeepListOnly() {
    KeepList keep(mount_, *ports_.recorder);
    keep.Upload(Context());
    if (keep.ShouldOpenBrowser()) OpenKeepPage(keep);
    const KeepFacts& facts = keep.facts();
    if (!progress_->IsRunning()) {
      Outcome(RunOutcome::kCancelled, "the user cancelled the sync");
    } else if (facts.accepted) {
      Outcome(RunOutcome::kPageOnly, "");
    } else if (facts.readFailed) {
      Outcome(RunOutcome::kFailed, "keep entries could not all be read; none was posted");
    } else {
      Outcome(RunOutcome::kFailed, "the server did not accept the keep list");
    }
  }

  void FullSync() {
    KeepList keep(mount_, *ports_.recorder);
    CategoryList categories(mount_, *ports_.prompter);
    if (!runner_.ExchangeProfile(Context(), categories)) return;
    keep.Upload(Context());
    ResourceUpdater resources(mount_,
                              {*ports_.paths, *ports_.shell, *ports_.prompter, *ports_.recorder},
                              settings_->ResourceUrl());
    const bool resourceResult = resources.UpdateResources(Context());
    const bool contentResult = UpdateContent(categories);
    if (keep.ShouldOpenBrowser()) OpenKeepPage(keep);
    RecordCompleteSync(contentResult && resourceResult);
    ReportFullSync(resources);
  }

  // A sync is complete only when the handheld holds every category of the
  // profile whole and every resource of the list current; whether lst was
  // stamped does not decide it (a list that brought no change stamps
  // nothing, a category left at version 0 does not stop the stamp). What is
  // missing is named.
  void ReportFullSync(const ResourceUpdater& resources) {
    if (!progress_->IsRunning()) {
      Outcome(RunOutcome::kCancelled, "the user cancelled the sync");
      return;
    }
    std::vector<std::string> missing = contentProblems_;
    if (resources.facts().result == ResourcesResult::kFailed) {
      missing.push_back("resources: " + resources.facts().reason);
    } else if (!resources.notCurrent().empty()) {
      missing.push_back("resources not current: " + NameList(resources.notCurrent()));
    }
    for (const std::string& problem : resources.recordProblems()) {
      missing.push_back("resources: " + problem);
    }
    // Handheld settings that could not be read were taken as their
    // defaults; defaults that could not be written are missing there.
    if (!settings_->unreadSettings().empty()) {
      missing.push_back("handheld settings read as their defaults: " +
                        NameList(settings_->unreadSettings()));
    }
    if (!settings_->unwrittenSettings().empty()) {
      missing.push_back("handheld settings not written: " +
                        NameList(settings_->unwrittenSettings()));
    }
    // Settings of the PC that could not be read were taken as their
    // defaults, and what the run stores there (lst) is not stored.
    if (const std::string trouble = ports_.registry->Trouble(); !trouble.empty()) {
      missing.push_back(trouble + "; the PC's settings were taken as their defaults");
    }
    // What failed on the desktop's side of the connection is the cause of
    // much of the rest.
    if (const std::string trouble = ports_.rapi->DesktopTrouble();
        !missing.empty() && !trouble.empty()) {
      missing.push_back(trouble);
    }
    std::string reason;
    for (const std::string& m : missing) reason += (reason.empty() ? "" : "; ") + m;
    Outcome(reason.empty() ? RunOutcome::kComplete : RunOutcome::kPartial, reason);
  }

  // "a, b, c" and, past kNamesShown names, "and N more".
  static std::string NameList(const std::vector<std::string>& names) {
    constexpr std::size_t kNamesShown = 5;
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
      out += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > kNamesShown) {
      out += " and " + std::to_string(names.size() - kNamesShown) + " more";
    }
    return out;
  }

  bool UpdateContent(CategoryList& categories) {
    progress_->SetStatus("Updating Handheld Data", 1);
    progress_->ResetPhase(kContentPhaseSteps);
    // When "cats" could not be read, what the handheld holds is not known:
    // every category would count as new and be rebuilt, the unchanged ones
    // from items already dropped. The content stays as it is until the next
    // sync.
    const bool reconciled = categories.Reconcile(*progress_);
    const bool loaded = reconciled && categories.LoadContent(Context());
    progress_->ResetPhase(kFinalPhaseSteps);
    categories.ReportTo(*ports_.recorder, reconciled);
    if (!reconciled) {
      contentProblems_.push_back(
          "the category database could not be read; the content stays as it was");
      return loaded;
    }
    const std::vector<std::string> unfinished = categories.Unfinished();
    const std::vector<std::string> leftOut = categories.LeftOut();
    if (!unfinished.empty()) {
      contentProblems_.push_back("content: categories not whole: " + NameList(unfinished));
    }
    if (!leftOut.empty()) {
      contentProblems_.push_back("content: left out, their content table is another category's: " +
                                 NameList(leftOut));
    }
    if (unfinished.empty() && leftOut.empty() && !loaded) {
      contentProblems_.push_back("content: the category database could not be updated");
    }
    return loaded;
  }

  void OpenKeepPage(const KeepList& keep) {
    progress_->SetStatus("Launching Web browser", 1);
    const std::string url = settings_->loginUrl() + "?m=" + keep.Message();
    ports_.recorder->KeepPage(url, OpenInBrowser(*ports_.shell, *ports_.registry, url, kSwShow));
  }

  // A complete, uncancelled sync clears ni (opening the first-run page) and
  // stamps lst. Cancel may come at any moment, also while the first-run page
  // opens: the running flag is read again for each.
  void RecordCompleteSync(bool resultsOk) {
    if (settings_->ni() && progress_->IsRunning() && resultsOk) {
      settings_->ClearNi();
      settings_->OpenFirstRunPage();
    }
    if (progress_->IsRunning() && resultsOk) settings_->desktop().StampLastSync();
  }

  SyncRunner& runner_;
  const Ports& ports_;
  const bool firstRun_;
  const PropertySet& properties_;
  InstallWaitDialog waitDialog_;
  WaitDialogThread waitThread_;
  // How the run tells the user of a failure on the volume, and the volume
  // as this run shares it; declared before everything that holds it.
  DbFailureBoxes dbFailures_;
  VolumeMount mount_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<DeviceDatabase> probe_;
  bool browserOnly_ = false;
  // What NotDueYet found, for the report.
  int hoursBetween_ = 0;
  int64_t hoursSinceLast_ = 0;
  // The user gave up waiting for the volume (the wait dialog, or Cancel).
  bool userCancelled_ = false;
  // What the content step left undone, for the report.
  std::vector<std::string> contentProblems_;
  std::unique_ptr<ProgressDialog> progress_;
  std::unique_ptr<ProgressDialogThread> progressThread_;
  std::unique_ptr<ServerLink> link_;
};

}  // namespace

bool SyncRunner::RunSync(SyncKind kind) {
  if (config_.LoadFailed()) {
    ports_.recorder->Outcome(RunOutcome::kNoConfiguration, config_.Problem());
    return false;
  }
  return SyncRun(*this, ports_, kind == SyncKind::kFirst).Run();
}

}  // namespace hhsync
