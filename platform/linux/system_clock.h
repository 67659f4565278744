#pragma once
#include "platform/clock.h"

namespace hhsync {

// The system clock: real time, real sleeping, the C library's local time.
class SystemClock final : public Clock {
 public:
  int64_t Now() override;
  int64_t MonotonicMs() override;
  void SleepMs(uint32_t ms) override;
  std::tm LocalTime(int64_t t) override;
};

}  // namespace hhsync
