#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace hhsync {

// A Shell for tests: records every page, command line and beep, and answers
// with configurable results.
class RecordingShell final : public Shell {
 public:
  bool OpenUrl(const std::string& url, int showCommand) override {
    std::function<void()> onOpen;
    {
      std::lock_guard<std::mutex> l(mu_);
      opened_.push_back(url);
      lastShow_ = showCommand;
      onOpen = onOpen_;
    }
    if (onOpen) onOpen();
    return openSucceeds_;
  }
  bool RunCommandLine(const std::string& commandLine, int showCommand) override {
    std::lock_guard<std::mutex> l(mu_);
    commands_.push_back(commandLine);
    lastShow_ = showCommand;
    return true;
  }
  bool RunAndWait(const std::string& commandLine) override {
    std::lock_guard<std::mutex> l(mu_);
    waited_.push_back(commandLine);
    return waitResult_;
  }
  void MessageBeep(unsigned type) override {
    std::lock_guard<std::mutex> l(mu_);
    beeps_.push_back(type);
  }
  std::string ShortPath(const std::string& path) override { return path; }

  void SetOpenSucceeds(bool succeeds) { openSucceeds_ = succeeds; }
  // Runs f whenever a page is opened, as a user acting at that moment would.
  void SetOnOpen(std::function<void()> f) {
    std::lock_guard<std::mutex> l(mu_);
    onOpen_ = std::move(f);
  }
  void SetWaitResult(bool r) { waitResult_ = r; }

  std::vector<std::string> Opened() {
    std::lock_guard<std::mutex> l(mu_);
    return opened_;
  }
  std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> l(mu_);
    return commands_;
  }
  std::vector<std::string> Waited() {
    std::lock_guard<std::mutex> l(mu_);
    return waited_;
  }
  std::vector<unsigned> Beeps() {
    std::lock_guard<std::mutex> l(mu_);
    return beeps_;
  }
  int LastShow() const { return lastShow_; }

 private:
  std::mutex mu_;
  std::vector<std::string> opened_, commands_, waited_;
  std::vector<unsigned> beeps_;
  std::function<void()> onOpen_;
  bool openSucceeds_ = true;
  bool waitResult_ = true;
  int lastShow_ = -1;
};

}  // namespace hhsync
