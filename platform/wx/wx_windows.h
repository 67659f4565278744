#pragma once
// The wx front end's windows: the progress dialog, the "Please Wait"
// dialog, the update frequency dialog, the message box and the proxy
// credentials prompt. Each is laid out in dialog units (converted with the
// window's own font) and draws what its model says.
//
// Thread safety: every one of them lives on the GUI thread; only that
// thread creates, touches and destroys them.

#include <wx/bitmap.h>
#include <wx/dialog.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/dialog_host.h"
#include "platform/prompter.h"
#include "platform/wx/wx_progress_bar.h"

class wxChoice;
class wxStaticText;
class wxTextCtrl;

namespace hhsync {

// A modeless window over a model that changes from other threads. The
// dialog thread that holds it waits on the model's change signal and asks
// for BringUpToDate on the GUI thread when the model moved, at most once a
// frame; the window draws the model's latest state, so a burst of changes
// costs one redraw.
class ModelessWindow : public wxDialog {
 public:
  // updates counts every bring-up-to-date of any window (for tests and the
  // benchmark); it must outlive the window.
  ModelessWindow(const wxString& title, long style, std::atomic<int64_t>& updates);
  // Stops drawing and forgets the model; the window may then be destroyed
  // at the toolkit's leisure without touching the model again.
  void Detach() { attached_ = false; }
  // Brings the controls up to date when the model's revision differs from
  // the one last drawn, or always when force is set. Nothing once detached.
  virtual void BringUpToDate(bool force) = 0;

 protected:
  // Converts dialog units of this window's font to pixels.
  wxPoint Dlu(int x, int y) const { return ConvertDialogToPixels(wxPoint(x, y)); }
  wxSize DluSize(int w, int h) const { return ConvertDialogToPixels(wxSize(w, h)); }
  bool attached() const { return attached_; }
  // Counts one bring-up-to-date.
  void CountUpdate() { ++updates_; }

 private:
  bool attached_ = true;
  std::atomic<int64_t>& updates_;
};

// Dialog 102: the bitmaps, a version line (hidden at first), the status
// line, two smooth bars and Cancel; Escape is Cancel. A right-button
// double-click goes to the model with its client y.
class ProgressWindow final : public ModelessWindow {
 public:
  // The model was initialised (OnInitDialog) by whoever asked for the
  // window.
  ProgressWindow(ProgressWindowModel& model, std::atomic<int64_t>& updates);

  void BringUpToDate(bool force) override;

 private:
  void OnPaint(wxPaintEvent& event);
  void OnRightDoubleClick(wxMouseEvent& event);
  void Cancel();

  ProgressWindowModel& model_;
  uint64_t drawn_ = 0;
  wxBitmap painted_;  // the model's painting at the client size it has
  wxTextCtrl* version_;
  wxStaticText* status_;
  ProgressBarControl* upper_;
  ProgressBarControl* lower_;
};

// Dialog 152: "Please Wait", its text, a bar and Cancel; shown only while
// the model says so, on top of other windows and centred.
class WaitWindow final : public ModelessWindow {
 public:
  // The model was initialised (OnInitDialog) by whoever asked for the
  // window.
  WaitWindow(WaitWindowModel& model, std::atomic<int64_t>& updates);
  void BringUpToDate(bool force) override;

 private:
  WaitWindowModel& model_;
  uint64_t drawn_ = 0;
  ProgressBarControl* bar_;
};

// A window that asks something and is closed with an answer (EndModal's
// code). Shown modally it ends its modal loop; shown modelessly it hides and
// tells whoever waits for it (WhenClosed), so that windows asking from
// several threads at once do not nest in one another's loops.
class AskingWindow : public wxDialog {
 public:
  using wxDialog::wxDialog;
  // Called once with the code when the window is closed while not modal.
  void WhenClosed(std::function<void(int)> closed) { closed_ = std::move(closed); }
  void EndModal(int code) override;

 private:
  std::function<void(int)> closed_;
};

// Dialog 153: a drop-down list confirmed with OK (or Return); closing it any
// other way leaves the model as it was.
class FrequencyDialog final : public AskingWindow {
 public:
  explicit FrequencyDialog(FrequencyDialogModel& model);

 private:
  void Confirm();

  FrequencyDialogModel& model_;
  wxChoice* choice_;
};

// A message box: caption, text, an icon for MbIcon::kStop and the buttons of
// the style, the first one the default. Closing it gives the box's default
// answer.
class MessageWindow final : public AskingWindow {
 public:
  MessageWindow(const std::string& caption, std::string_view text, const MessageBoxStyle& style);
  MbAnswer answer() const { return answer_; }

 private:
  void Answer(MbAnswer answer);

  MbAnswer answer_;
};

// The proxy credentials prompt: user name, password, OK and Cancel.
class CredentialsWindow final : public AskingWindow {
 public:
  explicit CredentialsWindow(const std::string& caption);
  // UTF-8 text of the fields.
  std::string user() const;
  std::string password() const;

 private:
  wxTextCtrl* user_;
  wxTextCtrl* password_;
};

}  // namespace hhsync
