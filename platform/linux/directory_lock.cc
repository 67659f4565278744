#include "platform/linux/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace hhsync {

namespace {
constexpr auto kRetryInterval = std::chrono::milliseconds(50);
}

DirectoryLock::DirectoryLock(const std::string& dir, uint32_t waitMs) {
  fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A directory that cannot be opened is no reason to refuse the run: the
  // run then reports its own trouble with the directory's files.
  if (fd_ < 0) {
    locked_ = true;
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      locked_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      locked_ = true;  // locks not supported here: nothing to coordinate with
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(kRetryInterval);
  }
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace hhsync
