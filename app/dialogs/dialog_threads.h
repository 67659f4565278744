#pragma once
// The threads that own the modeless dialogs' windows, and the process-wide
// flags through which the run and those threads hand over.
//
// Order of the hand-over: a dialog thread creates its window, then raises its
// ready flag; the progress thread clears a stop request left from before it
// started *before* it raises ready, so a stop made after the run saw ready is
// never lost. It leaves its loop when the dialog is cancelled or a stop is
// requested, then raises done.

#include <atomic>
#include <thread>

namespace hhsync {

class InstallWaitDialog;
class ProgressDialog;
class DialogHost;

struct DialogFlags {
  std::atomic<bool> waitDialogReady{false};
  std::atomic<bool> progressDialogReady{false};
  std::atomic<bool> progressThreadStop{false};
  std::atomic<bool> progressThreadDone{false};
};

// The one set of flags of the process.
DialogFlags& Flags();

// Body of the progress dialog thread.
void ProgressDialogThread(DialogHost& ui, ProgressDialog& dialog);
// Body of the wait dialog thread.
void WaitDialogThread(DialogHost& ui, InstallWaitDialog& dialog);

// Waits until the flag is raised. The threads raise it within the time it
// takes to create a window, so the wait yields instead of sleeping on a
// clock.
void WaitFor(const std::atomic<bool>& flag);

}  // namespace hhsync
