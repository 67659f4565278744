#include "platform/none/none_ui.h"

#include "base/text.h"

namespace hhsync {

namespace {

bool ParseAnswer(const std::string& word, MbAnswer* out) {
  static const std::pair<const char*, MbAnswer> kWords[] = {{"ok", MbAnswer::kOk},
                                                            {"cancel", MbAnswer::kCancel},
                                                            {"retry", MbAnswer::kRetry},
                                                            {"yes", MbAnswer::kYes},
                                                            {"no", MbAnswer::kNo}};
  for (const auto& [w, a] : kWords) {
    if (word == w) {
      *out = a;
      return true;
    }
  }
  return false;
}

bool Allowed(MbButtons buttons, MbAnswer a) {
  switch (buttons) {
    case MbButtons::kOk:
      return a == MbAnswer::kOk;
    case MbButtons::kOkCancel:
      return a == MbAnswer::kOk || a == MbAnswer::kCancel;
    case MbButtons::kYesNo:
      return a == MbAnswer::kYes || a == MbAnswer::kNo;
    case MbButtons::kRetryCancel:
      return a == MbAnswer::kRetry || a == MbAnswer::kCancel;
  }
  return false;
}

}  // namespace

NoneUi::NoneUi(const std::string& answers, std::FILE* out, std::string caption)
    : out_(out), caption_(std::move(caption)) {
  std::size_t pos = 0;
  while (pos <= answers.size() && !answers.empty()) {
    std::size_t comma = answers.find(',', pos);
    std::string word =
        answers.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    while (!word.empty() && word.front() == ' ') word.erase(word.begin());
    while (!word.empty() && word.back() == ' ') word.pop_back();
    MbAnswer a;
    if (ParseAnswer(word, &a)) {
      answers_.push_back(a);
    } else if (word.size() == 1 && word[0] >= '1' && word[0] <= '9' && choice_ < 0) {
      choice_ = word[0] - '1';
    }
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
}

MbAnswer NoneUi::MessageBox(std::string_view text, const MessageBoxStyle& style) {
  std::lock_guard<std::mutex> l(mu_);
  MbAnswer answer = DefaultAnswer(style.buttons);
  // A scripted answer that the box cannot give is used up all the same, so a
  // script stays aligned with the boxes it was written for.
  if (!answers_.empty()) {
    if (Allowed(style.buttons, answers_.front())) answer = answers_.front();
    answers_.pop_front();
  }
  std::string shown;
  for (char c : AnsiToUtf8(text)) {
    if (c == '\n') {
      shown += "\\n";
    } else if (c != '\r') {
      shown += c;
    }
  }
  std::fprintf(out_, "%s: message: %s [%s] -> %s\n", AnsiToUtf8(caption_).c_str(), shown.c_str(),
               ButtonsText(style.buttons), AnswerText(answer));
  std::fflush(out_);
  return answer;
}

int NoneUi::AskProxyCredentials(std::string*, std::string*) { return kErrorCancelled; }

void NoneUi::RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) {
  dialog.OnInit();
  const std::vector<std::string> choices = dialog.Choices();
  std::lock_guard<std::mutex> l(mu_);
  if (choice_ >= 0 && static_cast<std::size_t>(choice_) < choices.size()) {
    std::fprintf(out_, "%s: %s: %s -> OK\n", AnsiToUtf8(caption_).c_str(),
                 AnsiToUtf8(dialog.Title()).c_str(), AnsiToUtf8(choices[choice_]).c_str());
    std::fflush(out_);
    dialog.OnOk(choice_);
  }
}

std::unique_ptr<DialogWindow> NoneUi::CreateProgressWindow(ProgressWindowModel& dialog) {
  return std::make_unique<UndrawnWindow<ProgressWindowModel>>(dialog);
}

std::unique_ptr<DialogWindow> NoneUi::CreateWaitWindow(WaitWindowModel& dialog) {
  return std::make_unique<UndrawnWindow<WaitWindowModel>>(dialog);
}

}  // namespace hhsync
