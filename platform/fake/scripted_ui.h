#pragma once
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/prompter.h"

namespace hhsync {

// A front end for tests: records every message box and answers from a
// script; when the script is used up, a box gives its default answer. Its
// windows are never drawn.
class ScriptedUi final : public Prompter, public DialogHost {
 public:
  struct Shown {
    std::string text;
    MessageBoxStyle style;
    MbAnswer answer;
  };

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) override;

  // The progress dialog of the last window created, for tests that press
  // its Cancel button.
  ProgressWindowModel* LastProgressDialog() { return lastProgress_.load(); }
  int ProgressWindowsCreated() const { return progressWindows_.load(); }
  // Presses Cancel of the wait dialog as soon as its window exists.
  void CancelWaitDialogAtOnce() { cancelWait_ = true; }
  int WaitWindowsCreated() const { return waitWindows_.load(); }
  // The wait windows that went while their dialog still asked to be shown.
  int WaitWindowsClosedShown() const { return waitClosedShown_.load(); }

  void QueueAnswer(MbAnswer a) {
    std::lock_guard<std::mutex> l(mu_);
    answers_.push_back(a);
  }
  // Credentials to give on the next prompts; an empty queue gives up.
  void QueueCredentials(std::string user, std::string password);
  // Whether the update frequency dialog is confirmed with OK, and with which
  // selection (-1: keep the one the dialog chose).
  void SetFrequencyChoice(bool pressOk, int selection) {
    pressOk_ = pressOk, selection_ = selection;
  }

  std::vector<Shown> Messages() {
    std::lock_guard<std::mutex> l(mu_);
    return shown_;
  }
  std::vector<std::string> Texts();
  int CredentialPrompts() const { return prompts_; }
  int FrequencyDialogsShown() const { return frequencyDialogs_; }

 private:
  std::mutex mu_;
  std::deque<MbAnswer> answers_;
  std::vector<Shown> shown_;
  std::deque<std::pair<std::string, std::string>> credentials_;
  int prompts_ = 0;
  bool pressOk_ = false;
  int selection_ = -1;
  int frequencyDialogs_ = 0;
  std::atomic<ProgressWindowModel*> lastProgress_{nullptr};
  std::atomic<int> progressWindows_{0};
  std::atomic<int> waitWindows_{0};
  std::atomic<int> waitClosedShown_{0};
  std::atomic<bool> cancelWait_{false};
};

}  // namespace hhsync
