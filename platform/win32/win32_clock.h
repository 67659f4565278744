#pragma once
#include "platform/clock.h"

namespace hhsync {

// The system's clock: time(), GetTickCount64, Sleep and the C library's
// local time (the time zone Windows is set to).
class Win32Clock final : public Clock {
 public:
  int64_t Now() override;
  int64_t MonotonicMs() override;
  void SleepMs(uint32_t ms) override;
  std::tm LocalTime(int64_t t) override;
};

}  // namespace hhsync
