#pragma once
// The model of the progress dialog shown during every sync: a status line,
// two progress bars (the upper one for the phases of the run, the lower one
// within a transfer or list), a hidden version line, a Cancel button and the
// run's sync log. The run drives it from the main thread through the
// operations below; a front end (Ui) draws it on the dialog's own thread and
// feeds the user's actions back (OnCancel, OnRightDoubleClick).
//
// Once the user cancelled, every operation but LogLine does nothing and
// IsRunning stays false.
//
// Thread safety: every public member may be called from any thread; the
// state is guarded by a mutex and the running flag is atomic.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/progress_sink.h"
#include "base/version.h"
#include "formats/dib.h"
#include "platform/dialog_host.h"
#include "settings/registry_key.h"

namespace hhsync {

class SyncLog;

// A change counter a front end waits on: every change of what a dialog
// shows bumps it. Waiters are woken at most once per frame interval however
// often it changes: a waiter that returned on a change less than a frame ago
// first lets the frame pass, and a bump costs only an atomic increment while
// no one waits.
class ChangeSignal {
 public:
  static constexpr int kFrameMs = 16;

  void Notify();
  uint64_t Revision() const { return revision_.load(); }
  // Waits at most timeoutMs for the counter to move past seen.
  void WaitPast(uint64_t seen, int timeoutMs) const;

 private:
  using Steady = std::chrono::steady_clock;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::atomic<uint64_t> revision_{0};
  mutable std::atomic<int> waiters_{0};
  mutable Steady::time_point lastChange_{};  // when a waiter last returned on a change
};

class Clock;
class Paths;
class Prompter;
class Registry;

class ProgressDialog final : public ProgressSink, public ProgressWindowModel {
 public:
  // What the dialog works with on the desktop: the registry holding the log
  // switch, and what the sync log opens with (the program directory, the
  // clock of its entries, the prompter that tells of a log that cannot be
  // opened).
  struct Desktop {
    Registry& registry;
    Paths& paths;
    Clock& clock;
    Prompter& prompter;
  };
  enum class Log {
    kAsSwitched,  // opened when the desktop setting "log" is "YES"
    kOpen,        // opened in any case
  };
  enum class Logo { kShown, kHidden };

  // The main bitmap is loaded from the BMP file image of S.DAT (may be
  // null); the logo is the program's own bitmap 131. The desktop setting
  // "log" is read under registryPath.
  ProgressDialog(Desktop desktop, const std::vector<uint8_t>* mainBitmap, std::string name, Log log,
                 Logo logo, std::string registryPath);
  ~ProgressDialog() override;

  // The run's operations.
  void SetStatus(const std::string& text, int advance) override;
  void ResetPhase(int steps) override;
  void SetDetail(int position, int range) override;
  void ResetDetail(int range) override;
  void StepDetail() override;
  bool IsRunning() const override { return running_.load(); }
  void LogLine(const std::string& text) override;

  // The window's side, called by the front end on the dialog thread.
  // Initialisation: the version text into the log and the version line, the
  // title, the bars' ranges and steps.
  void OnInitDialog() override;
  // Cancel button or Escape: the run is no longer running.
  void OnCancel() override;
  // A right-button double-click at height y of the client area: below the
  // main bitmap it toggles the version line, on it the logging switch.
  void OnRightDoubleClick(int y) override;

  // What a front end draws.
  using View = ProgressWindowModel::View;
  View Snapshot() const override;
  // A counter that goes up with every change of what is shown; a front end
  // redraws when it differs from the one it drew.
  uint64_t Revision() const override { return signal_.Revision(); }
  // Waits at most timeoutMs for a change (or Wake).
  void WaitForChange(uint64_t seen, int timeoutMs) const override {
    signal_.WaitPast(seen, timeoutMs);
  }
  // Wakes a front end waiting in WaitForChange (after a stop request).
  void Wake() { signal_.Notify(); }

  // Paints the main bitmap (top 7 pixels down, centred) and, when shown, the
  // logo (right edge 10 pixels from the client area's right edge, top 10
  // pixels below the main bitmap's height). Nothing without a main bitmap.
  void Paint(Canvas& canvas, int clientWidth) const override;
  const DibImage& mainBitmap() const { return mainBitmap_; }
  const DibImage& logo() const { return logo_; }
  bool showLogo() const { return showLogo_; }
  // Height of the main bitmap in pixels (0 without one), used to tell where a
  // double-click landed.
  int MainBitmapHeight() const override;
  bool HasLog() const;

 private:
  void OpenLog();

  Desktop desktop_;
  DibImage mainBitmap_;
  DibImage logo_;
  std::string name_;
  bool showLogo_;
  RegistryKey logSwitch_;
  std::unique_ptr<SyncLog> log_;
  std::atomic<bool> running_{true};
  int phaseSteps_ = 7;

  void Changed() { signal_.Notify(); }

  mutable std::mutex mu_;
  View view_;
  ChangeSignal signal_;
};

// The model of the "Please Wait" dialog of a first run: a bar from 0 to 30
// and a Cancel button that only marks the dialog done.
class InstallWaitDialog final : public WaitWindowModel {
 public:
  InstallWaitDialog() = default;

  void OnInitDialog() override;
  void OnCancel() override { MarkDone(); }
  void Step();
  bool IsDone() const { return done_.load(); }
  void MarkDone();
  // Whether the window is shown (the run shows it after creation and hides
  // it when the progress dialog appears).
  void SetShown(bool shown);
  bool IsShown() const override { return shown_.load(); }

  ProgressBar Bar() const override;
  uint64_t Revision() const override { return signal_.Revision(); }
  void WaitForChange(uint64_t seen, int timeoutMs) const override {
    signal_.WaitPast(seen, timeoutMs);
  }
  void Wake() { signal_.Notify(); }

 private:
  mutable std::mutex mu_;
  ChangeSignal signal_;
  ProgressBar bar_;
  std::atomic<bool> done_{false};
  std::atomic<bool> shown_{false};
};

}  // namespace hhsync
