#pragma once
#include <cstdint>
#include <string>

namespace hhsync {

// The name of a program directory's run lock: "Local\hhsync-run-" and a
// hash of the directory's full path in lower case, short whatever the
// path's length.
std::string RunLockName(const std::string& dir);

// One run at a time per program directory: a run holds a named mutex for
// as long as it runs; a second one waits up to waitMs and then gives up. A
// mutex that cannot be made stops nothing: the run goes on.
//
// Thread safety: used by the thread that made it.
class RunLock {
 public:
  explicit RunLock(const std::string& dir, uint32_t waitMs = 2000);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  // Whether the run may go on.
  bool locked() const { return locked_; }

 private:
  void* mutex_ = nullptr;  // HANDLE
  bool owned_ = false;     // the mutex is this run's
  bool locked_ = false;
};

}  // namespace hhsync
