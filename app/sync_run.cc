// One complete sync: connect, the first-run handshake, the volume probe, the
// decision whether a full sync is due, the progress dialog, the server and
// handheld work, the bookkeeping, and closing everything again.

#include <memory>
#include <thread>

#include "app/dialogs/dialog_threads.h"
#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "content/category_list.h"
#include "device/device_database.h"
#include "extras/keep_list.h"
#include "extras/resource_updater.h"
#include "net/server_link.h"
#include "platform/clock.h"
#include "platform/prompter.h"
#include "platform/rapi.h"
#include "platform/shell.h"
#include "settings/browser.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr const char* kStillCopying =
    "Unable to open database perhaps it is still copying on device.";

// The first-run wait dialog and its thread; the thread is ended in an
// orderly way (the dialog marked done, the thread joined) however the run
// ends.
class WaitDialogRunner {
 public:
  WaitDialogRunner(DialogHost& ui, bool show) {
    if (!show) return;
    Flags().waitDialogReady = false;
    thread_ = std::thread(WaitDialogThread, std::ref(ui), std::ref(dialog_));
    WaitFor(Flags().waitDialogReady);
    dialog_.SetShown(true);
    dialog_.Step();
  }
  ~WaitDialogRunner() { End(); }
  void End() {
    if (!thread_.joinable()) return;
    dialog_.MarkDone();
    thread_.join();
  }
  InstallWaitDialog& dialog() { return dialog_; }

 private:
  InstallWaitDialog dialog_;
  std::thread thread_;
};

}  // namespace

bool SyncRunner::RunSync(bool firstRun) {
  if (config_.LoadFailed()) return false;
  Rapi& rapi = *ports_.rapi;
  Clock& clock = *ports_.clock;
  DialogFlags& flags = Flags();

  WaitDialogRunner wait(*ports_.dialogs, firstRun);
  InstallWaitDialog& waitDialog = wait.dialog();

  // Connection.
  RapiInit init;
  rapi.CeRapiInitEx(&init);
  uint32_t waited = rapi.WaitForInit(init, kConnectWaitMs);
  flags.progressDialogReady = false;
  if (waited != kWaitObject0 || init.result < 0) {
    if (firstRun) ports_.prompter->MessageBox(kNoConnectionMessage, MessageBoxStyle{});
    rapi.CeRapiUninit();
    return false;
  }
  // Every early way out from here on.
  auto abort = [&] {
    rapi.CeRapiUninit();
    return false;
  };

  const PropertySet& properties = Properties();
  std::string name = properties.Get("name");

  // The handshake with freshly installed handheld software.
  bool dbDone = false;
  if (firstRun) {
    SyncSettings first(ports_, &properties);
    dbDone = first.CheckDbpOk(false);
    bool dllDone = first.CheckDllOk(false);
    for (int i = 0; i < 10 && !(dbDone && dllDone); ++i) {
      if (waitDialog.IsDone()) break;
      waitDialog.Step();
      clock.SleepMs(1000);
      dbDone = first.CheckDbpOk(dbDone);
      dllDone = first.CheckDllOk(dllDone);
    }
    LaunchDeviceApp(false);
    for (int retries = 0;; ++retries) {
      if (!first.GetSd6(true).empty() || retries == 10) break;
      waitDialog.Step();
      if (waitDialog.IsDone()) break;
      clock.SleepMs(1000);
      LaunchDeviceApp(false);
    }
  }

  // Settings and the database volume.
  SyncSettings settings(ports_, &properties);
  std::string volume = settings.GetDbp();
  if (firstRun) {
    for (int i = 0; i < 3 && !settings.CheckDbpOk(dbDone); ++i) {
      waitDialog.Step();
      clock.SleepMs(2000);
      volume = settings.GetDbp();
    }
    volume = settings.GetDbp();
  }
  DeviceDatabase probe(ports_, volume);
  if (!probe.mounted()) {
    if (!firstRun || waitDialog.IsDone()) return abort();
    waitDialog.Step();
    clock.SleepMs(1000);
    if (waitDialog.IsDone()) return abort();
    if (!probe.Mount(settings.GetDbp())) {
      waitDialog.Step();
      clock.SleepMs(3000);
      if (!probe.Mount(settings.GetDbp())) {
        for (;;) {
          MbAnswer answer = ports_.prompter->MessageBox(
              kStillCopying, MessageBoxStyle{MbButtons::kRetryCancel, MbIcon::kNone, true});
          if (answer == MbAnswer::kCancel) return abort();
          clock.SleepMs(3000);
          if (probe.Mount(settings.GetDbp())) break;
        }
      }
    }
  }

  // Is a full sync due?
  bool browserOnly = false;
  if (!settings.ni() && settings.sra()) {
    KeepList keep(ports_);
    if (!keep.ShouldOpenBrowser()) return abort();
    if (keep.AllPageRequests()) {
      browserOnly = true;
    } else {
      settings.ClearSra();
    }
  }
  if (!settings.ni() && !browserOnly) {
    int hoursBetween = settings.GetUpdateFrequency();
    uint32_t last = hoursBetween > 0 ? settings.GetLastSync() : 0;
    if (hoursBetween > 0 && last != 0) {
      int64_t hours = (clock.Now() - static_cast<int64_t>(last)) / 3600;
      if (hours < hoursBetween) {
        KeepList keep(ports_);
        if (!keep.ShouldOpenBrowser()) return abort();
        if (keep.AllPageRequests()) browserOnly = true;
      }
    }
  }

  // The progress dialog on its own thread.
  auto progress = std::make_unique<ProgressDialog>(ports_, config_.GetBitmap("main.bmp"), name,
                                                   settings.logEnabled(), !properties.Has("nologo"),
                                                   properties.Get("registry"));
  flags.progressThreadDone = false;
  std::thread progressThread(ProgressDialogThread, std::ref(*ports_.dialogs), std::ref(*progress));
  WaitFor(flags.progressDialogReady);
  if (firstRun) {
    if (!waitDialog.IsDone()) waitDialog.SetShown(false);
    wait.End();
  }
  // Every request of the run goes through one link; a proxy it switches off
  // stays off for the rest of the run.
  ServerLink link(*ports_.http, *ports_.prompter, settings.proxyConfig());
  progress->SetStatus("Contacting Server", 1);
  progress->ResetPhase(0);

  auto openKeepPage = [&](const KeepList& keep) {
    progress->SetStatus("Launching Web browser", 1);
    OpenInBrowser(ports_, settings.loginUrl() + "?m=" + keep.Message(), kSwShow);
  };

  if (browserOnly) {
    KeepList keep(ports_);
    keep.Upload(*progress, settings, link);
    if (keep.ShouldOpenBrowser()) openKeepPage(keep);
  } else {
    KeepList keep(ports_);
    CategoryList categories(ports_);
    if (ExchangeProfile(settings, link, *progress, categories)) {
      keep.Upload(*progress, settings, link);
      ResourceUpdater resources(ports_, settings.ResourceUrl());
      bool resourceResult = resources.UpdateResources(*progress, settings, link);

      progress->SetStatus("Updating Handheld Data", 1);
      progress->ResetPhase(6);
      // When "cats" could not be read, what the handheld holds is not known:
      // every category would count as new and be rebuilt, the unchanged ones
      // from items already dropped. The content stays as it is until the
      // next sync.
      const bool reconciled = categories.Reconcile(*progress);
      const bool contentResult = reconciled && categories.LoadContent(*progress, settings, link);
      progress->ResetPhase(7);

      if (keep.ShouldOpenBrowser()) openKeepPage(keep);
      // Cancel may come at any moment, also while the first-run page opens:
      // the running flag is read again for each piece of bookkeeping.
      const bool resultsOk = contentResult && resourceResult;
      if (settings.ni() && progress->IsRunning() && resultsOk) {
        settings.ClearNi();
        settings.OpenFirstRunPage();
      }
      if (progress->IsRunning() && resultsOk) settings.StampLastSync();
    }
  }

  if (firstRun) LaunchDeviceApp(true);
  rapi.CeRapiUninit();
  flags.progressThreadStop = true;
  progress->Wake();
  WaitFor(flags.progressThreadDone);
  progressThread.join();
  return true;
}

}  // namespace hhsync
