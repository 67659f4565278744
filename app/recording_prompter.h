#pragma once
// RecordingPrompter: the front end's prompter, with every message box (its
// text, buttons and answer) reported to the run's recorder. The run wraps
// the prompter it is given in one, so that no box goes unreported; what the
// user sees and answers does not change.
//
// Thread safety: as the wrapped prompter; the recorder is called from the
// thread that showed the box.

#include <string>
#include <string_view>

#include "base/run_report.h"
#include "platform/prompter.h"

namespace hhsync {

class RecordingPrompter final : public Prompter {
 public:
  RecordingPrompter(Prompter& prompter, RunRecorder& recorder)
      : prompter_(prompter), recorder_(recorder) {}

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override {
    const MbAnswer answer = prompter_.MessageBox(text, style);
    recorder_.Message({std::string(text), ButtonsText(style.buttons), AnswerText(answer)});
    return answer;
  }
  // Credentials are never reported.
  int AskProxyCredentials(std::string* user, std::string* password) override {
    return prompter_.AskProxyCredentials(user, password);
  }

 private:
  Prompter& prompter_;
  RunRecorder& recorder_;
};

}  // namespace hhsync
