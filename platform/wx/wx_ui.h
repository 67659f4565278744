#pragma once
// The wx front end: the dialogs and message boxes as real windows
// (wxWidgets on GTK). Every window lives on one GUI thread (GuiThread),
// started when the first window is needed and ended with this object.
//
// The dialog threads still create their windows (CreateProgressWindow,
// CreateWaitWindow) and pump them: the window they get back waits on the
// model's change signal and, when the model moved, queues one redraw of the
// real window, which is made and drawn on the GUI thread. So a model's
// operations never wait for drawing, and a burst of changes is drawn at
// most once a frame.
// Message boxes, the credentials prompt and the update frequency dialog
// block their caller until answered.
//
// When the toolkit cannot start (the display went away) every box and
// dialog is handled as the window-less front end handles it, and one line
// on standard error says so.
//
// Thread safety: every member but the constructor may be called from any
// thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dialog_host.h"
#include "platform/prompter.h"

namespace hhsync {

class WxUi final : public Prompter, public DialogHost {
 public:
  // Message boxes carry caption, the program's name. Construct it before
  // the program starts threads of its own (see GuiThread).
  explicit WxUi(std::string caption = "hhsync");
  // Closes what is still open and ends the GUI thread.
  ~WxUi() override;

  // Whether a display is there to show windows on: a Wayland socket that
  // accepts, or an X display that opens. When not, *why says what is
  // missing.
  static bool DisplayUsable(std::string* why);

  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) override;

  // How many times a modeless window brought its controls up to date with
  // its model, over all windows so far.
  int64_t WindowUpdates() const;

  // Whether a window, a box or a dialog was put on the screen so far.
  bool ShownAnything() const;

  // Shows text (UTF-8) as a desktop notification captioned with the
  // program's name, through the desktop's notification service; where none
  // answers, as the toolkit's own small window for kNotificationSeconds,
  // and returns when it has gone.
  void Notify(const std::string& text);
  static constexpr int kNotificationSeconds = 6;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hhsync
