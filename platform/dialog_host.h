#pragma once
// The dialogs' windows. The program keeps each dialog as a model (its
// state, its flags, what it shows); a front end draws it and feeds the
// user's actions back. The models implement the interfaces below, so a front
// end needs nothing of the program above this header.
//
// Thread safety: a window is created and pumped by the thread that owns it;
// the model interfaces may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/canvas.h"

namespace hhsync {

// A progress control: a 16-bit range from 0, a position and a step size.
struct ProgressBar {
  uint16_t range = 100;
  int position = 0;
  int step = 10;

  void SetRange(int upper);
  void SetPosition(int pos);  // clamped to the range
  void Delta(int advance);    // clamped to the range
  void Step();                // past the end it starts over from 0
};

// A modeless dialog's window, owned by the thread that created it. Destroying
// it closes the window.
class DialogWindow {
 public:
  DialogWindow() = default;
  virtual ~DialogWindow() = default;
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // Handles what the user did and redraws what changed, waiting at most
  // waitMs for something to happen. Called in a loop by the dialog thread.
  virtual void Pump(int waitMs) = 0;
};

// A model whose every change of what it shows bumps a counter.
class ChangingModel {
 public:
  virtual ~ChangingModel() = default;
  // A front end redraws when this differs from the value it drew.
  virtual uint64_t Revision() const = 0;
  // Waits at most timeoutMs for the counter to move past seen.
  virtual void WaitForChange(uint64_t seen, int timeoutMs) const = 0;
};

// The progress dialog: title, status line, two bars, a version line that is
// hidden at first, the bitmaps, and a Cancel button.
class ProgressWindowModel : public ChangingModel {
 public:
  struct View {
    std::string title;  // 8-bit program text, as are status and versionLine
    std::string status;
    std::string versionLine;
    bool versionShown = false;
    ProgressBar upper;
    ProgressBar lower;
    bool running = true;
  };

  // Once the window exists: fills the title, the version line and the bars.
  virtual void OnInitDialog() = 0;
  // The Cancel button or Escape.
  virtual void OnCancel() = 0;
  // A right-button double-click at height y of the client area.
  virtual void OnRightDoubleClick(int y) = 0;
  virtual View Snapshot() const = 0;
  // Paints the bitmaps onto the client area, clientWidth pixels wide.
  virtual void Paint(Canvas& canvas, int clientWidth) const = 0;
  // Height of the main bitmap (0 without one): a double-click below it
  // (from this plus 7 on) toggles the version line.
  virtual int MainBitmapHeight() const = 0;
};

// The "Please Wait" dialog of a first run: a bar and a Cancel button.
class WaitWindowModel : public ChangingModel {
 public:
  virtual void OnInitDialog() = 0;
  virtual void OnCancel() = 0;
  virtual ProgressBar Bar() const = 0;
  // Whether the window is to be shown now.
  virtual bool IsShown() const = 0;
};

// The update frequency dialog: a drop-down list confirmed with OK.
class FrequencyDialogModel {
 public:
  virtual ~FrequencyDialogModel() = default;
  // Initialisation: the title and the selection.
  virtual void OnInit() = 0;
  // OK with the list's selection (-1: none).
  virtual void OnOk(int selection) = 0;
  virtual std::string Title() const = 0;
  virtual int Selection() const = 0;
  virtual std::vector<std::string> Choices() const = 0;
};

// A window that draws nothing: it initialises its dialog and then only
// waits for the dialog to change. For front ends without windows, and tests.
template <typename Model>
class UndrawnWindow final : public DialogWindow {
 public:
  explicit UndrawnWindow(Model& dialog) : dialog_(dialog) { dialog_.OnInitDialog(); }
  void Pump(int waitMs) override { dialog_.WaitForChange(dialog_.Revision(), waitMs); }

 private:
  Model& dialog_;
};

class DialogHost {
 public:
  DialogHost() = default;
  virtual ~DialogHost() = default;
  DialogHost(const DialogHost&) = delete;
  DialogHost& operator=(const DialogHost&) = delete;

  // Shows the update frequency dialog modally and returns when it is closed;
  // the front end calls the model's OnOk when the user confirms.
  virtual void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) = 0;

  // Creates the window of a modeless dialog on the calling thread; runs the
  // dialog's initialisation (OnInitDialog) whatever the front end draws.
  virtual std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) = 0;
  virtual std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) = 0;
};

}  // namespace hhsync
