#pragma once
// The threads that own the modeless dialogs' windows. Each dialog's window
// lives on a thread of its own that creates it, pumps it, and destroys it;
// the run drives the dialog's model from its own thread.
//
// Order of the hand-over: Start returns once the thread has created its
// window (the ready latch); the progress thread takes stop requests only
// after that, so a stop made at any time after Start is never lost. It
// leaves its loop when the dialog is cancelled or a stop is requested; Stop
// waits for the thread to end.

#include <atomic>
#include <latch>
#include <thread>

namespace hhsync {

class DialogHost;
class InstallWaitDialog;
class ProgressDialog;

// How long a dialog thread waits for something to happen before it looks
// at its flags again.
inline constexpr int kDialogPumpWaitMs = 50;

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
  std::latch progressDialogReady_{1};
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
  std::latch waitDialogReady_{1};
  std::thread thread_;
};

}  // namespace hhsync
