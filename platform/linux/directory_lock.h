#pragma once
// One run at a time per program directory: a run holds an exclusive advisory
// lock on the directory itself (no lock file is made) from its start to its
// end, so two runs can never write the same handheld, store or log at once.

#include <cstdint>
#include <string>

namespace hhsync {

// How long a second run waits for the first to end before it gives up.
inline constexpr uint32_t kDirectoryLockWaitMs = 2000;

class DirectoryLock {
 public:
  // Tries to lock dir, retrying for up to waitMs. locked() tells the outcome.
  DirectoryLock(const std::string& dir, uint32_t waitMs);
  ~DirectoryLock();  // releases the lock
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  bool locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

}  // namespace hhsync
