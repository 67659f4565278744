#include "app/dialogs/dialog_threads.h"

#include "app/dialogs/progress_dialog.h"
#include "platform/dialog_host.h"

namespace hhsync {

void ProgressDialogThread::Start() {
  thread_ = std::thread(&ProgressDialogThread::Body, this);
  progressDialogReady_.Wait();
}

void ProgressDialogThread::Body() {
  auto window = host_.CreateProgressWindow(dialog_);
  progressDialogReady_.Set();
  while (dialog_.IsRunning() && !progressThreadStop_.load()) window->Pump(kDialogPumpWaitMs);
  window.reset();
  progressThreadDone_ = true;
}

void ProgressDialogThread::Stop() {
  if (!thread_.joinable()) return;
  progressThreadStop_ = true;
  dialog_.Wake();  // a front end waiting for a change looks at the flag at once
  thread_.join();
}

void WaitDialogThread::Start() {
  thread_ = std::thread([this] {
    auto window = host_.CreateWaitWindow(dialog_);
    waitDialogReady_.Set();
    while (!dialog_.IsDone()) window->Pump(kDialogPumpWaitMs);
  });
  waitDialogReady_.Wait();
}

void WaitDialogThread::End() {
  if (!thread_.joinable()) return;
  dialog_.MarkDone();
  thread_.join();
}

}  // namespace hhsync
