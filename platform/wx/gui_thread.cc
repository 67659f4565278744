#include "platform/wx/gui_thread.h"

#include <langinfo.h>
#include <strings.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/log.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace hhsync {

namespace {

// The application object of the GUI thread: no windows of its own, and it
// keeps running when the last window closes.
class GuiApp final : public wxApp {
 public:
  bool OnInit() override { return true; }
};

// A failed check inside the toolkit is one line on standard error, never a
// window of its own.
void ReportAssert(const wxString& file, int line, const wxString&, const wxString& condition,
                  const wxString& message) {
  std::fprintf(stderr, "hhsync: wx check failed at %s:%d: %s %s\n", file.utf8_str().data(), line,
               condition.utf8_str().data(), message.utf8_str().data());
}

// The character set the toolkit should assume for file names: the user's
// locale's, unless that is plain ASCII (the C locale), then UTF-8.
std::string LocaleFileNameEncoding() {
  const std::string current = std::setlocale(LC_CTYPE, nullptr);
  std::string codeset;
  if (std::setlocale(LC_CTYPE, "") != nullptr) codeset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, current.c_str());
  for (const char* ascii : {"", "ANSI_X3.4-1968", "US-ASCII", "ASCII", "ISO646-US"}) {
    if (strcasecmp(codeset.c_str(), ascii) == 0) return "UTF-8";
  }
  return codeset;
}

// What the toolkit would change in the environment at its start, changed
// now (see GuiThread::GuiThread).
void SettleEnvironment() {
  // The toolkit keeps a value that names a character set; only an unset
  // one, or one that defers to the locale, makes it look for itself.
  const char* set = std::getenv("G_FILENAME_ENCODING");
  const std::string first = set ? std::string(set, std::strcspn(set, ",")) : "";
  if (first.empty() || strcasecmp(first.c_str(), "@locale") == 0) {
    setenv("G_FILENAME_ENCODING", LocaleFileNameEncoding().c_str(), 1);
  }
  // The windows take no part in startup notification; GDK would drop the
  // id anyway, so that children do not inherit it.
  unsetenv("DESKTOP_STARTUP_ID");
}

}  // namespace

struct GuiThread::Impl {
  enum class State { kIdle, kStarting, kRunning, kFailed, kStopped };

  // The thread's whole life: the toolkit, the loop, and the shutdown.
  void Body();
  // On the GUI thread: runs the queued tasks one by one. A task may run an
  // event loop of its own (a modal window), in which later tasks are run.
  void Drain();

  mutable std::mutex mu;
  std::condition_variable started;
  State state = State::kIdle;
  std::deque<std::function<void()>> tasks;
  wxApp* app = nullptr;  // set while the loop takes tasks
  std::thread::id id;
  std::thread thread;
};

void GuiThread::Impl::Body() {
  static char programName[] = "hhsync";
  static char* argv[] = {programName, nullptr};
  int argc = 1;
  wxSetAssertHandler(ReportAssert);
  wxApp::SetInstance(new GuiApp);
  if (!wxEntryStart(argc, argv)) {  // no display; the app object is gone again
    std::deque<std::function<void()>> dropped;
    {
      std::lock_guard<std::mutex> l(mu);
      state = State::kFailed;
      dropped.swap(tasks);
      started.notify_all();
    }
    return;  // the dropped tasks go here, outside the lock
  }
  wxTheApp->CallOnInit();
  wxTheApp->SetExitOnFrameDelete(false);
  // Whatever the toolkit has to say goes to standard error, never into a
  // window of its own.
  delete wxLog::SetActiveTarget(new wxLogStderr);
  {
    std::lock_guard<std::mutex> l(mu);
    app = wxTheApp;
    state = State::kRunning;
    // Tasks queued while the toolkit started.
    if (!tasks.empty()) app->CallAfter([this] { Drain(); });
    started.notify_all();
  }
  wxTheApp->OnRun();
  {
    std::lock_guard<std::mutex> l(mu);
    state = State::kStopped;
    app = nullptr;
  }
  // Tasks that came in after the last drain still run, so that nobody
  // waits for them forever.
  Drain();
  wxTheApp->OnExit();
  wxEntryCleanup();
}

void GuiThread::Impl::Drain() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> l(mu);
      if (tasks.empty()) return;
      task = std::move(tasks.front());
      tasks.pop_front();
    }
    task();
  }
}

GuiThread::GuiThread() : impl_(std::make_unique<Impl>()) { SettleEnvironment(); }

GuiThread::~GuiThread() {
  {
    std::unique_lock<std::mutex> l(impl_->mu);
    impl_->started.wait(l, [&] { return impl_->state != Impl::State::kStarting; });
    if (impl_->state == Impl::State::kRunning) {
      impl_->app->CallAfter([] { wxTheApp->ExitMainLoop(); });
    }
  }
  if (impl_->thread.joinable()) impl_->thread.join();
}

bool GuiThread::StartInBackground() {
  std::lock_guard<std::mutex> l(impl_->mu);
  if (impl_->state == Impl::State::kIdle) {
    impl_->state = Impl::State::kStarting;
    impl_->thread = std::thread([this] { impl_->Body(); });
    impl_->id = impl_->thread.get_id();
  }
  return impl_->state == Impl::State::kStarting || impl_->state == Impl::State::kRunning;
}

bool GuiThread::Start() {
  StartInBackground();
  std::unique_lock<std::mutex> l(impl_->mu);
  impl_->started.wait(l, [&] { return impl_->state != Impl::State::kStarting; });
  return impl_->state == Impl::State::kRunning;
}

bool GuiThread::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> l(impl_->mu);
  if (impl_->state != Impl::State::kRunning && impl_->state != Impl::State::kStarting) {
    return false;
  }
  impl_->tasks.push_back(std::move(task));
  // While the toolkit starts, the loop picks the queue up when it begins.
  if (impl_->app != nullptr && impl_->tasks.size() == 1) {
    impl_->app->CallAfter([impl = impl_.get()] { impl->Drain(); });
  }
  return true;
}

bool GuiThread::Call(const std::function<void()>& task) {
  if (IsCurrent()) {
    task();
    return true;
  }
  if (!Start()) return false;
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  if (!Post([&] {
        task();
        done.set_value();
      })) {
    return false;
  }
  finished.wait();
  return true;
}

bool GuiThread::IsCurrent() const {
  std::lock_guard<std::mutex> l(impl_->mu);
  return impl_->state != Impl::State::kIdle && std::this_thread::get_id() == impl_->id;
}

}  // namespace hhsync
