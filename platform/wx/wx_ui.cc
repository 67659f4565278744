#include "platform/wx/wx_ui.h"

#include <X11/Xlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wx/log.h>
#include <wx/notifmsg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
// After the native one, whose base class it shares.
#include <wx/generic/notifmsg.h>

#include "base/text.h"
#include "platform/none/none_ui.h"
#include "platform/wx/gui_thread.h"
#include "platform/wx/wx_windows.h"

namespace hhsync {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool WaylandAccepts(const std::string& display) {
  std::string path = display;
  if (path.front() != '/') {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + display;
  }
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// The window a dialog thread holds. The real window is made on the GUI
// thread by a task queued behind the toolkit's start, so neither the dialog
// thread nor the run waits for the toolkit. The pump waits on the model's
// change signal (which wakes a waiter at most once a frame) and, when the
// model moved, queues one redraw of the real window, at most one every
// kRedrawIntervalMs; while a redraw is queued, later changes ride on it. The real window is closed
// when this one goes.
using Steady = std::chrono::steady_clock;

// How often at most a modeless window is brought up to date: about 30 times
// a second is smooth for a bar, and leaves the processor to the sync.
constexpr int kRedrawIntervalMs = 33;

template <typename Model>
class HandedOverWindow final : public DialogWindow {
 public:
  // make builds the real window on the GUI thread; tellNoGui says, once,
  // that the toolkit could not start after all.
  HandedOverWindow(GuiThread& gui, Model& model, std::function<ModelessWindow*()> make,
                   std::function<void()> tellNoGui)
      : gui_(gui), model_(model), tellNoGui_(std::move(tellNoGui)) {
    gui_.Post([this, make = std::move(make)] { window_ = make(); });
  }
  ~HandedOverWindow() override {
    // The GUI thread runs its tasks in order, so the window was made and
    // every redraw queued before this has run when it returns; from then on
    // the window never touches the model again. When the GUI thread is gone
    // its windows went with it.
    const bool ran = gui_.Call([this] {
      if (window_ == nullptr) return;
      window_->Detach();
      window_->Destroy();
    });
    if (!ran) tellNoGui_();
  }
  void Pump(int waitMs) override {
    const auto start = Steady::now();
    model_.WaitForChange(seen_, waitMs);
    if (model_.Revision() == seen_) return;
    // Changes that come faster than the windows are redrawn gather until
    // the interval since the last redraw has passed (within waitMs).
    const auto due = std::min(lastRedraw_ + std::chrono::milliseconds(kRedrawIntervalMs),
                              start + std::chrono::milliseconds(waitMs));
    if (Steady::now() < due) std::this_thread::sleep_until(due);
    seen_ = model_.Revision();
    // A queued redraw that has not started yet reads the model after this.
    if (redrawQueued_.exchange(true)) return;
    lastRedraw_ = Steady::now();
    gui_.Post([this] {
      redrawQueued_ = false;
      if (window_ != nullptr) window_->BringUpToDate(false);
    });
  }

 private:
  GuiThread& gui_;
  Model& model_;
  std::function<void()> tellNoGui_;
  ModelessWindow* window_ = nullptr;  // touched on the GUI thread only
  // 0, so that the first pump looks whether the model moved while the
  // window was being made.
  uint64_t seen_ = 0;
  Steady::time_point lastRedraw_{};
  std::atomic<bool> redrawQueued_{false};
};

// Shows the window that make builds and waits until it is closed; done
// reads the answer from it (with the closing code) before it goes. From
// another thread the window is shown without a modal loop of its own, so
// boxes asked for by several threads stand side by side and are answered in
// any order. On the GUI thread itself (a window that asks while it handles
// the user) it runs modally there. False when the GUI thread cannot run it.
// A window that asks while one of ours stays on top (the wait window) must
// come in front of it, so it stays on top too.
void KeepAboveOurOwn(wxTopLevelWindow& window) {
  for (wxWindow* other : wxTopLevelWindows) {
    if (other != &window && other->IsShown() && other->HasFlag(wxSTAY_ON_TOP)) {
      window.SetWindowStyleFlag(window.GetWindowStyleFlag() | wxSTAY_ON_TOP);
      return;
    }
  }
}

template <typename Window>
bool Ask(GuiThread& gui, const std::function<Window*()>& make,
         const std::function<void(Window&, int)>& done) {
  if (gui.IsCurrent()) {
    std::unique_ptr<Window> window(make());
    KeepAboveOurOwn(*window);
    const int code = window->ShowModal();
    done(*window, code);
    return true;
  }
  std::promise<void> closed;
  std::future<void> answered = closed.get_future();
  const bool shown = gui.Call([&] {
    Window* window = make();
    KeepAboveOurOwn(*window);
    window->WhenClosed([&, window](int code) {
      done(*window, code);
      closed.set_value();
      window->Destroy();
    });
    window->Show();
    window->Raise();
  });
  if (shown) answered.wait();
  return shown;
}

}  // namespace

struct WxUi::Impl {
  explicit Impl(std::string name) : caption(std::move(name)), fallback("", stderr, caption) {}

  // Starts the GUI thread when needed and waits for the toolkit; false,
  // having said so once, when it cannot start.
  bool Gui() {
    if (gui.Start()) return true;
    TellNoGui();
    return false;
  }
  // Starts the GUI thread when needed without waiting for the toolkit.
  bool GuiInBackground() {
    if (gui.StartInBackground()) return true;
    TellNoGui();
    return false;
  }
  void TellNoGui() {
    std::call_once(toldNoGui, [] {
      std::fputs(
          "hhsync: the windows cannot be shown (HHSYNC_UI=wx, no display); answering "
          "as HHSYNC_UI=none does\n",
          stderr);
    });
  }

  const std::string caption;
  NoneUi fallback;
  std::once_flag toldNoGui;
  std::atomic<int64_t> updates{0};
  std::atomic<bool> shown{false};
  // Last, so that it ends (closing the windows) before the rest goes.
  GuiThread gui;
};

WxUi::WxUi(std::string caption) : impl_(std::make_unique<Impl>(std::move(caption))) {}

WxUi::~WxUi() = default;

bool WxUi::DisplayUsable(std::string* why) {
  const std::string wayland = Env("WAYLAND_DISPLAY");
  if (!wayland.empty() && WaylandAccepts(wayland)) return true;
  const std::string x = Env("DISPLAY");
  if (!x.empty()) {
    if (Display* display = XOpenDisplay(x.c_str())) {
      XCloseDisplay(display);
      return true;
    }
    *why = "the display " + x + " cannot be opened";
    return false;
  }
  *why = wayland.empty() ? "neither DISPLAY nor WAYLAND_DISPLAY is set"
                         : "the Wayland display " + wayland + " does not answer";
  return false;
}

MbAnswer WxUi::MessageBox(std::string_view text, const MessageBoxStyle& style) {
  MbAnswer answer = DefaultAnswer(style.buttons);
  if (!impl_->Gui() || !Ask<MessageWindow>(
                           impl_->gui,
                           [&] {
                             impl_->shown = true;
                             return new MessageWindow(impl_->caption, text, style);
                           },
                           [&](MessageWindow& box, int) { answer = box.answer(); })) {
    return impl_->fallback.MessageBox(text, style);
  }
  return answer;
}

int WxUi::AskProxyCredentials(std::string* user, std::string* password) {
  int result = kErrorCancelled;
  if (!impl_->Gui() || !Ask<CredentialsWindow>(
                           impl_->gui,
                           [&] {
                             impl_->shown = true;
                             return new CredentialsWindow(impl_->caption);
                           },
                           [&](CredentialsWindow& prompt, int code) {
                             if (code != wxID_OK) return;
                             *user = Utf8ToAnsi(prompt.user());
                             *password = Utf8ToAnsi(prompt.password());
                             result = kErrorInternetForceRetry;
                           })) {
    return impl_->fallback.AskProxyCredentials(user, password);
  }
  return result;
}

void WxUi::RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) {
  if (!impl_->Gui() || !Ask<FrequencyDialog>(
                           impl_->gui,
                           [&] {
                             impl_->shown = true;
                             return new FrequencyDialog(dialog);
                           },
                           [](FrequencyDialog&, int) {})) {
    impl_->fallback.RunUpdateFrequencyDialog(dialog);
  }
}

std::unique_ptr<DialogWindow> WxUi::CreateProgressWindow(ProgressWindowModel& dialog) {
  if (!impl_->GuiInBackground()) return impl_->fallback.CreateProgressWindow(dialog);
  // The initialisation belongs to the dialog thread's creation of the
  // window; the run goes on from there while the window is being made.
  dialog.OnInitDialog();
  return std::make_unique<HandedOverWindow<ProgressWindowModel>>(
      impl_->gui, dialog,
      [&dialog, impl = impl_.get()]() -> ModelessWindow* {
        auto* window = new ProgressWindow(dialog, impl->updates);
        impl->shown = true;
        window->Show();
        window->Raise();
        return window;
      },
      [impl = impl_.get()] { impl->TellNoGui(); });
}

std::unique_ptr<DialogWindow> WxUi::CreateWaitWindow(WaitWindowModel& dialog) {
  if (!impl_->GuiInBackground()) return impl_->fallback.CreateWaitWindow(dialog);
  dialog.OnInitDialog();
  return std::make_unique<HandedOverWindow<WaitWindowModel>>(
      impl_->gui, dialog,
      [&dialog, impl = impl_.get()]() -> ModelessWindow* {
        impl->shown = true;
        return new WaitWindow(dialog, impl->updates);
      },
      [impl = impl_.get()] { impl->TellNoGui(); });
}

int64_t WxUi::WindowUpdates() const { return impl_->updates.load(); }

bool WxUi::ShownAnything() const { return impl_->shown.load(); }

void WxUi::Notify(const std::string& text) {
  if (!impl_->Gui()) return;
  const wxString title = wxString::FromUTF8(AnsiToUtf8(impl_->caption));
  const wxString body = wxString::FromUTF8(text);
  bool sent = false;
  impl_->gui.Call([&] {
    // A missing notification service is not an error to show in a box.
    wxLogNull quiet;
    wxNotificationMessage note(title, body);
    sent = note.Show(kNotificationSeconds);
  });
  if (sent) return;
  std::unique_ptr<wxGenericNotificationMessage> fallback;
  impl_->gui.Call([&] {
    fallback = std::make_unique<wxGenericNotificationMessage>(title, body);
    fallback->Show(kNotificationSeconds);
  });
  std::this_thread::sleep_for(std::chrono::seconds(kNotificationSeconds));
  impl_->gui.Call([&] { fallback.reset(); });
}

}  // namespace hhsync
