#pragma once
// The threads that own the modeless dialogs' windows. Each dialog's window
// lives on a thread of its own that creates it, pumps it, and destroys it;
// the run drives the dialog's model from its own thread.
//
// Order of the hand-over: Start returns once the thread has created its
// window (the ready signal); the progress thread takes stop requests only
// after that, so a stop made at any time after Start is never lost. It
// leaves its loop when the dialog is cancelled or a stop is requested; Stop
// waits for the thread to end.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace hhsync {

class DialogHost;
class InstallWaitDialog;
class ProgressDialog;

// How long a dialog thread waits for something to happen before it looks
// at its flags again.
inline constexpr int kDialogPumpWaitMs = 50;

// A one-time hand-over from one thread to another: Wait returns once Set has
// been called, whichever of the two comes first. Built on a mutex and a
// condition variable rather than std::latch, whose atomic wait some
// standard libraries without a futex implement with a lost-wake-up race.
class ReadySignal {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(mu_);
    set_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return set_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_ = false;
};

// The progress dialog's window on its own thread.
class ProgressDialogThread {
 public:
  ProgressDialogThread(DialogHost& host, ProgressDialog& dialog) : host_(host), dialog_(dialog) {}
  // Stops the thread if it still runs.
  ~ProgressDialogThread() { Stop(); }
  ProgressDialogThread(const ProgressDialogThread&) = delete;
  ProgressDialogThread& operator=(const ProgressDialogThread&) = delete;

  // Starts the thread; returns once the window exists.
  void Start();
  // Asks the thread to close the window and end, and waits until it has.
  void Stop();
  // The thread has left its loop.
  bool done() const { return progressThreadDone_.load(); }

 private:
  void Body();

  DialogHost& host_;
  ProgressDialog& dialog_;
  ReadySignal progressDialogReady_;
  std::atomic<bool> progressThreadStop_{false};
  std::atomic<bool> progressThreadDone_{false};
  std::thread thread_;
};

// The "Please Wait" dialog's window on its own thread.
class WaitDialogThread {
 public:
  WaitDialogThread(DialogHost& host, InstallWaitDialog& dialog) : host_(host), dialog_(dialog) {}
  // Ends the thread if it still runs.
  ~WaitDialogThread() { End(); }
  WaitDialogThread(const WaitDialogThread&) = delete;
  WaitDialogThread& operator=(const WaitDialogThread&) = delete;

  // Starts the thread; returns once the window exists.
  void Start();
  // Marks the dialog done, which makes the thread close the window, and
  // waits for the thread to end. Nothing when it was never started.
  void End();

 private:
  DialogHost& host_;
  InstallWaitDialog& dialog_;
  ReadySignal waitDialogReady_;
  std::thread thread_;
};

}  // namespace hhsync
