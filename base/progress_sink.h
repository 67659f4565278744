#pragma once
// Where long work reports how far it got and writes its log lines: the
// server, handheld, content and resource code talk to the run's progress
// display only through this interface. The progress dialog implements it;
// tests use a recording sink.
//
// Once the user cancelled, IsRunning is false for good and every operation
// but LogLine does nothing. Thread safety: as the implementation says; the
// progress dialog's may be called from any thread.

#include <string>

namespace hhsync {

class ProgressSink {
 public:
  ProgressSink() = default;
  virtual ~ProgressSink() = default;
  ProgressSink(const ProgressSink&) = delete;
  ProgressSink& operator=(const ProgressSink&) = delete;

  // A non-empty text becomes the status line and moves the phase bar by
  // advance; an empty text steps the detail bar instead.
  virtual void SetStatus(const std::string& text, int advance) = 0;
  // The phase bar's range becomes 0..steps, its position 0.
  virtual void ResetPhase(int steps) = 0;
  // The detail bar's range becomes 0..range at position.
  virtual void SetDetail(int position, int range) = 0;
  virtual void ResetDetail(int range) = 0;
  virtual void StepDetail() = 0;
  // False once the user cancelled.
  virtual bool IsRunning() const = 0;
  // One entry of the sync log (nothing when no log is kept).
  virtual void LogLine(const std::string& text) = 0;
};

}  // namespace hhsync
