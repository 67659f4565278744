#include "platform/win32/win32_run_lock.h"

#include <windows.h>

#include <cstdio>

#include "base/text.h"

namespace hhsync {

std::string RunLockName(const std::string& dir) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
  // Case does not tell paths apart; a mutex name may hold no backslash.
  const std::string path = AsciiLower(n > 0 && n < sizeof full ? std::string(full, n) : dir);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : path) hash = (hash ^ (c == '/' ? '\\' : c)) * 1099511628211ull;
  char text[32];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("Local\\hhsync-run-") + text;
}

RunLock::RunLock(const std::string& dir, uint32_t waitMs) {
  mutex_ = CreateMutexA(nullptr, FALSE, RunLockName(dir).c_str());
  if (!mutex_) {
    locked_ = true;
    return;
  }
  const DWORD wait = WaitForSingleObject(mutex_, waitMs);
  owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  locked_ = owned_;
}

RunLock::~RunLock() {
  if (owned_) ReleaseMutex(mutex_);
  if (mutex_) CloseHandle(mutex_);
}

}  // namespace hhsync
