#pragma once
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "platform/dialog_host.h"
#include "platform/prompter.h"

namespace hhsync {

// The window-less front end: every message box becomes one line on standard
// error, "<caption>: message: <text> [<buttons>] -> <answer>" (the caption is
// the program's name, "hhsync"), answered from a
// script (HHSYNC_ANSWERS: ok, cancel, retry, yes, no, comma-separated) and,
// once that is used up, with ok, cancel (Retry/Cancel, OK/Cancel) or no.
// Dialogs are never shown. A digit N among the answers confirms the update
// frequency dialog with its Nth entry (said on one line, "<caption>: <title>:
// <entry> -> OK"); without one it closes without OK. The proxy credentials
// prompt gives up.
class NoneUi final : public Prompter, public DialogHost {
 public:
  explicit NoneUi(const std::string& answers, std::FILE* out = stderr,
                  std::string caption = "hhsync");

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) override;

 private:
  std::mutex mu_;
  std::deque<MbAnswer> answers_;
  int choice_ = -1;  // the frequency entry the answers chose, from 0
  std::FILE* out_;
  const std::string caption_;
};

}  // namespace hhsync
