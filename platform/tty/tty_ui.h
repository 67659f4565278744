#pragma once
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/ui.h"

namespace hhsync {

// The terminal front end: message boxes and dialogs are drawn as text on the
// controlling terminal and answered from its keyboard.
class TtyUi : public Ui {
 public:
  // Uses the given terminal streams (normally /dev/tty).
  TtyUi(std::FILE* in, std::FILE* out);

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(UpdateFrequencyDialog& dialog) override;

 private:
  std::string ReadLine(bool echo);

  std::mutex mu_;
  std::FILE* in_;
  std::FILE* out_;
};

}  // namespace hhsync
