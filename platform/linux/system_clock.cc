#include "platform/linux/system_clock.h"

#include <chrono>
#include <thread>

namespace hhsync {

int64_t SystemClock::Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t SystemClock::MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SystemClock::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::tm SystemClock::LocalTime(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm out{};
  localtime_r(&tt, &out);
  return out;
}

}  // namespace hhsync
