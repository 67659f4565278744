#include "platform/wx/wx_ui.h"

#include <X11/Xlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>

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

// The window a dialog thread holds. Its pump waits on the model's change
// signal (which wakes a waiter at most once a frame) and, when the model
// moved, queues one redraw for the real window on the GUI thread; while a
// redraw is queued, later changes ride on it. The real window is closed
// when this one goes.
template <typename Model>
class HandedOverWindow final : public DialogWindow {
 public:
  HandedOverWindow(GuiThread& gui, Model& model, ModelessWindow* window)
      : gui_(gui), model_(model), window_(window) {}
  ~HandedOverWindow() override {
    // The GUI thread runs its tasks in order, so every redraw queued before
    // this has run when it returns; from then on the window never touches
    // the model again. When the GUI thread is gone its windows went with it.
    gui_.Call([window = window_] {
      window->Detach();
      window->Destroy();
    });
  }
  void Pump(int waitMs) override {
    model_.WaitForChange(seen_, waitMs);
    const uint64_t now = model_.Revision();
    if (now == seen_) return;
    seen_ = now;
    // A queued redraw that has not started yet reads the model after this.
    if (redrawQueued_.exchange(true)) return;
    gui_.Post([this] {
      redrawQueued_ = false;
      window_->BringUpToDate(false);
    });
  }

 private:
  GuiThread& gui_;
  Model& model_;
  ModelessWindow* window_;
  // 0, so that the first pump looks whether the model moved while the
  // window was being made.
  uint64_t seen_ = 0;
  std::atomic<bool> redrawQueued_{false};
};

// Shows the window that make builds and waits until it is closed; done
// reads the answer from it (with the closing code) before it goes. From
// another thread the window is shown without a modal loop of its own, so
// boxes asked for by several threads stand side by side and are answered in
// any order. On the GUI thread itself (a window that asks while it handles
// the user) it runs modally there. False when the GUI thread cannot run it.
template <typename Window>
bool Ask(GuiThread& gui, const std::function<Window*()>& make,
         const std::function<void(Window&, int)>& done) {
  if (gui.IsCurrent()) {
    std::unique_ptr<Window> window(make());
    const int code = window->ShowModal();
    done(*window, code);
    return true;
  }
  std::promise<void> closed;
  std::future<void> answered = closed.get_future();
  const bool shown = gui.Call([&] {
    Window* window = make();
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

  // Starts the GUI thread when needed; false, having said so once, when it
  // cannot start.
  bool Gui() {
    if (gui.Start()) return true;
    std::call_once(toldNoGui, [] {
      std::fputs(
          "hhsync: the windows cannot be shown (HHSYNC_UI=wx, no display); answering "
          "as HHSYNC_UI=none does\n",
          stderr);
    });
    return false;
  }

  const std::string caption;
  NoneUi fallback;
  std::once_flag toldNoGui;
  std::atomic<int64_t> updates{0};
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
  if (!impl_->Gui() ||
      !Ask<MessageWindow>(
          impl_->gui, [&] { return new MessageWindow(impl_->caption, text, style); },
          [&](MessageWindow& box, int) { answer = box.answer(); })) {
    return impl_->fallback.MessageBox(text, style);
  }
  return answer;
}

int WxUi::AskProxyCredentials(std::string* user, std::string* password) {
  int result = kErrorCancelled;
  if (!impl_->Gui() || !Ask<CredentialsWindow>(
                           impl_->gui, [&] { return new CredentialsWindow(impl_->caption); },
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
  if (!impl_->Gui() ||
      !Ask<FrequencyDialog>(
          impl_->gui, [&] { return new FrequencyDialog(dialog); }, [](FrequencyDialog&, int) {})) {
    impl_->fallback.RunUpdateFrequencyDialog(dialog);
  }
}

std::unique_ptr<DialogWindow> WxUi::CreateProgressWindow(ProgressWindowModel& dialog) {
  ProgressWindow* window = nullptr;
  if (!impl_->Gui() || !impl_->gui.Call([&] {
        window = new ProgressWindow(dialog, impl_->updates);
        window->Show();
        window->Raise();
      })) {
    return impl_->fallback.CreateProgressWindow(dialog);
  }
  return std::make_unique<HandedOverWindow<ProgressWindowModel>>(impl_->gui, dialog, window);
}

std::unique_ptr<DialogWindow> WxUi::CreateWaitWindow(WaitWindowModel& dialog) {
  WaitWindow* window = nullptr;
  if (!impl_->Gui() || !impl_->gui.Call([&] { window = new WaitWindow(dialog, impl_->updates); })) {
    return impl_->fallback.CreateWaitWindow(dialog);
  }
  return std::make_unique<HandedOverWindow<WaitWindowModel>>(impl_->gui, dialog, window);
}

int64_t WxUi::WindowUpdates() const { return impl_->updates.load(); }

}  // namespace hhsync
