#pragma once
// The one thread that owns every window of the wx front end. GTK lets one
// thread own the windows, so the toolkit is started on a thread of its own
// the first time a window is needed, runs one event loop there, and is shut
// down when this object is destroyed. Other threads hand it work: Post
// queues a task, Call queues one and waits for it to finish.
//
// Thread safety: every member but the constructor may be called from any
// thread.

#include <functional>
#include <memory>

namespace hhsync {

class GuiThread {
 public:
  // Construct it before the program starts threads of its own: it makes the
  // environment what the toolkit's start would make it, so that the start
  // itself writes nothing there (wx fills in the file-name encoding when it
  // is not set, GDK removes the startup-notification id). The toolkit starts
  // on the GUI thread while the run goes on, and nothing makes setenv safe
  // against a getenv or a spawn on another thread.
  GuiThread();
  // Ends the event loop (windows left open are destroyed) and joins the
  // thread, if it was started.
  ~GuiThread();
  GuiThread(const GuiThread&) = delete;
  GuiThread& operator=(const GuiThread&) = delete;

  // Starts the thread and the toolkit unless that was done already, and
  // waits until the toolkit runs. False when the toolkit cannot start (no
  // display), now or at an earlier try.
  bool Start();
  // The same without waiting: tasks posted meanwhile run once the toolkit
  // is up, and are dropped if it cannot start. False only when it is known
  // already that the toolkit cannot start, or the thread has ended.
  bool StartInBackground();

  // Runs task on the GUI thread and returns once it has run; called on the
  // GUI thread itself it runs task at once (a task may open a modal window
  // that asks something, and that window may ask again). Starts the thread
  // when needed; false, and task not run, when it cannot run.
  bool Call(const std::function<void()>& task);

  // Queues task for the GUI thread and returns at once; tasks run in the
  // order they were queued. False, and task dropped, when the thread is
  // neither starting nor running.
  bool Post(std::function<void()> task);

  // Whether the calling thread is the GUI thread.
  bool IsCurrent() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hhsync
