#include "app/dialogs/progress_dialog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/dialogs/bitmaps.h"
#include "extras/sync_log.h"
#include "platform/registry.h"

namespace hhsync {

ProgressDialog::ProgressDialog(Desktop desktop, const std::vector<uint8_t>* mainBitmap,
                               std::string name, Log log, Logo logo, std::string registryPath)
    : desktop_(desktop),
      name_(std::move(name)),
      showLogo_(logo == Logo::kShown),
      logSwitch_(desktop.registry, std::move(registryPath)) {
  if (mainBitmap) mainBitmap_.LoadFromMemory(mainBitmap->data(), mainBitmap->size());
  if (log == Log::kOpen || logSwitch_.GetFlag("log")) OpenLog();
  phaseSteps_ = 7;
  LoadResourceBitmap(&logo_, kLogoResourceId);
  running_ = true;
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::OpenLog() {
  auto log = std::make_unique<SyncLog>(desktop_.paths, desktop_.clock, desktop_.prompter);
  std::lock_guard<std::mutex> l(mu_);
  if (!log->openFailed()) log_ = std::move(log);
}

bool ProgressDialog::HasLog() const {
  std::lock_guard<std::mutex> l(mu_);
  return log_ != nullptr;
}

void ProgressDialog::SetStatus(const std::string& text, int advance) {
  if (!IsRunning()) return;
  std::lock_guard<std::mutex> l(mu_);
  if (text.empty()) {
    view_.lower.Step();
  } else {
    view_.status = text;
    view_.upper.Delta(advance);
  }
  Changed();
}

void ProgressDialog::ResetPhase(int steps) {
  if (!IsRunning()) return;
  std::lock_guard<std::mutex> l(mu_);
  view_.upper.SetRange(steps);
  view_.upper.SetPosition(0);
  Changed();
}

void ProgressDialog::SetDetail(int position, int range) {
  if (!IsRunning()) return;
  std::lock_guard<std::mutex> l(mu_);
  view_.lower.SetRange(range);
  view_.lower.SetPosition(position);
  Changed();
}

void ProgressDialog::ResetDetail(int range) { SetDetail(0, range); }

void ProgressDialog::StepDetail() {
  if (!IsRunning()) return;
  std::lock_guard<std::mutex> l(mu_);
  view_.lower.Step();
  Changed();
}

void ProgressDialog::LogLine(const std::string& text) {
  SyncLog* log;
  {
    std::lock_guard<std::mutex> l(mu_);
    log = log_.get();
  }
  // The log lives as long as the dialog; it serialises its own entries.
  if (log) log->WriteEntry(text);
}

void ProgressDialog::OnInitDialog() {
  std::string version = VersionText();
  LogLine(version);
  std::lock_guard<std::mutex> l(mu_);
  view_.versionLine = version;
  view_.title = name_ + " Server Link";
  view_.upper.SetRange(phaseSteps_);
  view_.upper.step = 1;
  view_.lower.step = 1;
  Changed();
}

void ProgressDialog::OnCancel() {
  running_ = false;
  std::lock_guard<std::mutex> l(mu_);
  view_.running = false;
  Changed();
}

int ProgressDialog::MainBitmapHeight() const {
  if (!mainBitmap_.HasImage()) return 0;
  return std::abs(mainBitmap_.Height());
}

void ProgressDialog::Paint(Canvas& canvas, int clientWidth) const {
  if (!mainBitmap_.HasImage()) return;
  DrawBitmap(mainBitmap_, canvas, clientWidth / 2 - mainBitmap_.Width() / 2, 7);
  if (showLogo_)
    DrawBitmap(logo_, canvas, clientWidth - 10 - logo_.Width(), MainBitmapHeight() + 10);
}

void ProgressDialog::OnRightDoubleClick(int y) {
  if (y >= MainBitmapHeight() + 7) {
    std::lock_guard<std::mutex> l(mu_);
    view_.versionShown = !view_.versionShown;
    Changed();
    return;
  }
  if (logSwitch_.GetFlag("log")) {
    logSwitch_.SetNo("log");
    std::lock_guard<std::mutex> l(mu_);
    view_.title = "Logging turned off";
    Changed();
    return;
  }
  if (!HasLog()) OpenLog();
  {
    std::lock_guard<std::mutex> l(mu_);
    view_.title = "Logging turned on";
    Changed();
  }
  logSwitch_.SetYes("log");
}

void ChangeSignal::Notify() {
  // A waiter counts itself before it looks at the counter, so either it sees
  // this bump or this sees it waiting.
  revision_.fetch_add(1);
  if (waiters_.load() == 0) return;
  std::lock_guard<std::mutex> l(mu_);
  changed_.notify_all();
}

void ChangeSignal::WaitPast(uint64_t seen, int timeoutMs) const {
  const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> l(mu_);
  const Steady::time_point frameEnd = lastChange_ + std::chrono::milliseconds(kFrameMs);
  // Uncounted, so no bump wakes it: the rest of the frame passes first.
  while (Steady::now() < std::min(frameEnd, deadline)) {
    changed_.wait_until(l, std::min(frameEnd, deadline));
  }
  waiters_.fetch_add(1);
  const bool changed = changed_.wait_until(l, deadline, [&] { return revision_.load() != seen; });
  waiters_.fetch_sub(1);
  if (changed) lastChange_ = Steady::now();
}

ProgressDialog::View ProgressDialog::Snapshot() const {
  std::lock_guard<std::mutex> l(mu_);
  View v = view_;
  v.running = IsRunning();
  return v;
}

void InstallWaitDialog::OnInitDialog() {
  std::lock_guard<std::mutex> l(mu_);
  bar_.SetRange(30);
  bar_.SetPosition(0);
  bar_.step = 1;
  signal_.Notify();
}

void InstallWaitDialog::Step() {
  if (IsDone()) return;
  std::lock_guard<std::mutex> l(mu_);
  bar_.Step();
  signal_.Notify();
}

void InstallWaitDialog::MarkDone() {
  done_ = true;
  Wake();
}

void InstallWaitDialog::SetShown(bool shown) {
  shown_ = shown;
  Wake();
}

ProgressBar InstallWaitDialog::Bar() const {
  std::lock_guard<std::mutex> l(mu_);
  return bar_;
}

}  // namespace hhsync
