#pragma once
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dialog_host.h"
#include "platform/prompter.h"

namespace hhsync {

// The terminal front end: message boxes and dialogs are drawn as text on the
// controlling terminal and answered from its keyboard.
class TtyUi final : public Prompter, public DialogHost {
 public:
  // Uses the given terminal streams (normally /dev/tty); message boxes carry
  // caption, the program's name.
  TtyUi(std::FILE* in, std::FILE* out, std::string caption = "hhsync");

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) override;

  // Key presses of the dialog windows: single keys, without echo. Counted,
  // so that nested windows share it; message boxes suspend it.
  void EnterKeyMode();
  void LeaveKeyMode();
  std::mutex& mutex() { return mu_; }
  std::FILE* in() { return in_; }
  std::FILE* out() { return out_; }

 private:
  std::string ReadLine(bool echo);
  // Line mode for the duration of a prompt while a dialog window is open.
  void SuspendKeyMode();
  void ResumeKeyMode();

  std::mutex mu_;
  int keyMode_ = 0;
  // The terminal's settings from before key mode, kept as bytes so that no
  // terminal type leaves the adapter's source.
  bool haveSaved_ = false;
  std::unique_ptr<unsigned char[]> saved_;
  std::FILE* in_;
  std::FILE* out_;
  const std::string caption_;
};

}  // namespace hhsync
