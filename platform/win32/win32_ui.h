#pragma once
#include <string>

#include "platform/dialog_host.h"
#include "platform/prompter.h"

namespace hhsync {

// The native Windows front end: message boxes with MessageBoxA, and the
// dialogs built from the program's resource script (res/hhsync.rc): the
// progress dialog (102) and the first-run wait dialog (152) as modeless
// windows of the thread that creates them, the update frequency dialog (153)
// modal. Proxy credentials are asked for with InternetErrorDlg on the
// WinINet request the proxy refused (a dialog of the resource script when
// there is none). The resources must be linked into the executable.
class Win32Ui final : public Prompter, public DialogHost {
 public:
  // caption: the title of every message box, the program's name.
  explicit Win32Ui(std::string caption);

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) override;

 private:
  const std::string caption_;
};

}  // namespace hhsync
