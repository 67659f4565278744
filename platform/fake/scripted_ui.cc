#include "platform/fake/scripted_ui.h"

namespace hhsync {

MbAnswer ScriptedUi::MessageBox(std::string_view text, const MessageBoxStyle& style) {
  std::lock_guard<std::mutex> l(mu_);
  MbAnswer a = DefaultAnswer(style.buttons);
  if (!answers_.empty()) {
    a = answers_.front();
    answers_.pop_front();
  }
  shown_.push_back({std::string(text), style, a});
  return a;
}

void ScriptedUi::QueueCredentials(std::string user, std::string password) {
  std::lock_guard<std::mutex> l(mu_);
  credentials_.emplace_back(std::move(user), std::move(password));
}

int ScriptedUi::AskProxyCredentials(std::string* user, std::string* password) {
  std::lock_guard<std::mutex> l(mu_);
  ++prompts_;
  if (credentials_.empty()) return kErrorCancelled;
  *user = credentials_.front().first;
  *password = credentials_.front().second;
  credentials_.pop_front();
  return kErrorInternetForceRetry;
}

void ScriptedUi::RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) {
  ++frequencyDialogs_;
  dialog.OnInit();
  if (pressOk_) dialog.OnOk(selection_ >= 0 ? selection_ : dialog.Selection());
}

std::unique_ptr<DialogWindow> ScriptedUi::CreateProgressWindow(ProgressWindowModel& dialog) {
  lastProgress_ = &dialog;
  ++progressWindows_;
  return std::make_unique<UndrawnWindow<ProgressWindowModel>>(dialog);
}

namespace {

// An undrawn wait window that counts, when it goes, whether its dialog was
// still to be shown.
class WatchedWaitWindow final : public DialogWindow {
 public:
  WatchedWaitWindow(WaitWindowModel& dialog, std::atomic<int>& closedShown)
      : dialog_(dialog), inner_(dialog), closedShown_(closedShown) {}
  ~WatchedWaitWindow() override {
    if (dialog_.IsShown()) ++closedShown_;
  }
  void Pump(int waitMs) override { inner_.Pump(waitMs); }

 private:
  WaitWindowModel& dialog_;
  UndrawnWindow<WaitWindowModel> inner_;
  std::atomic<int>& closedShown_;
};

}  // namespace

std::unique_ptr<DialogWindow> ScriptedUi::CreateWaitWindow(WaitWindowModel& dialog) {
  ++waitWindows_;
  auto window = std::make_unique<WatchedWaitWindow>(dialog, waitClosedShown_);
  if (cancelWait_) dialog.OnCancel();
  return window;
}

std::vector<std::string> ScriptedUi::Texts() {
  std::lock_guard<std::mutex> l(mu_);
  std::vector<std::string> out;
  for (const auto& s : shown_) out.push_back(s.text);
  return out;
}

}  // namespace hhsync
