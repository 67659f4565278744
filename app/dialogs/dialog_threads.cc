#include "app/dialogs/dialog_threads.h"

#include "app/dialogs/progress_dialog.h"
#include "platform/dialog_host.h"

namespace hhsync {

namespace {
constexpr int kPumpWaitMs = 50;
}

DialogFlags& Flags() {
  static DialogFlags flags;
  return flags;
}

void WaitFor(const std::atomic<bool>& flag) {
  while (!flag.load()) std::this_thread::yield();
}

void ProgressDialogThread(DialogHost& ui, ProgressDialog& dialog) {
  DialogFlags& f = Flags();
  auto window = ui.CreateProgressWindow(dialog);
  f.progressThreadStop = false;
  f.progressDialogReady = true;
  while (dialog.IsRunning() && !f.progressThreadStop.load()) window->Pump(kPumpWaitMs);
  f.progressThreadStop = false;
  window.reset();
  f.progressThreadDone = true;
}

void WaitDialogThread(DialogHost& ui, InstallWaitDialog& dialog) {
  auto window = ui.CreateWaitWindow(dialog);
  Flags().waitDialogReady = true;
  while (!dialog.IsDone()) window->Pump(kPumpWaitMs);
  window.reset();
}

}  // namespace hhsync
