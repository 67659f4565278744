#include "platform/win32/win32_clock.h"

#include <windows.h>

#include <ctime>

namespace hhsync {

int64_t Win32Clock::Now() { return static_cast<int64_t>(std::time(nullptr)); }

int64_t Win32Clock::MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

void Win32Clock::SleepMs(uint32_t ms) { Sleep(ms); }

std::tm Win32Clock::LocalTime(int64_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm out{};
  localtime_s(&out, &tt);
  return out;
}

}  // namespace hhsync
