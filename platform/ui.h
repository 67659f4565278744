#pragma once
// What the user sees: message boxes, the proxy credentials prompt and the
// front ends that draw the dialog models of app/dialogs/.
//
// Thread safety: MessageBox may be called from any thread; a dialog front end
// is driven by the thread that owns its dialog.

#include <memory>
#include <string>
#include <string_view>

namespace hhsync {

class InstallWaitDialog;
class ProgressDialog;
class UpdateFrequencyDialog;

// A modeless dialog's window, owned by the thread that created it. Destroying
// it closes the window.
class DialogWindow {
 public:
  DialogWindow() = default;
  virtual ~DialogWindow() = default;
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // Handles what the user did and redraws what changed, waiting at most
  // waitMs for something to happen. Called in a loop by the dialog thread.
  virtual void Pump(int waitMs) = 0;
};

enum class MbButtons { kOk, kOkCancel, kYesNo, kRetryCancel };
enum class MbIcon { kNone, kStop };
enum class MbAnswer { kOk, kCancel, kRetry, kYes, kNo };

struct MessageBoxStyle {
  MbButtons buttons = MbButtons::kOk;
  MbIcon icon = MbIcon::kNone;
  bool systemModal = false;
};

// Answers of the proxy credentials prompt (the internet client's codes).
inline constexpr int kErrorInternetForceRetry = 12032;
inline constexpr int kErrorCancelled = 1223;

class Ui {
 public:
  Ui() = default;
  virtual ~Ui() = default;
  Ui(const Ui&) = delete;
  Ui& operator=(const Ui&) = delete;

  // Shows a message box with the program's name as caption and returns the
  // button chosen. text is 8-bit program text.
  virtual MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) = 0;

  // Asks for proxy credentials after a proxy refused them. Returns
  // kErrorInternetForceRetry with user and password filled when the request
  // is to be sent again, anything else to give up.
  virtual int AskProxyCredentials(std::string* user, std::string* password) = 0;

  // Shows the update frequency dialog modally and returns when it is closed;
  // the front end calls the model's OnOk when the user confirms.
  virtual void RunUpdateFrequencyDialog(UpdateFrequencyDialog& dialog) = 0;

  // Creates the window of a modeless dialog on the calling thread; runs the
  // dialog's initialisation (OnInitDialog) whatever the front end draws.
  virtual std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressDialog& dialog) = 0;
  virtual std::unique_ptr<DialogWindow> CreateWaitWindow(InstallWaitDialog& dialog) = 0;
};

}  // namespace hhsync
