#pragma once
// Time and sleeping. Everything that waits goes through here so that tests
// run on a fake clock whose sleeps return at once and advance time.
//
// Thread safety: safe to call from any thread.

#include <cstdint>
#include <ctime>

namespace hhsync {

class Clock {
 public:
  Clock() = default;
  virtual ~Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  // Seconds since 1970-01-01 00:00 UTC.
  virtual int64_t Now() = 0;
  // A steady millisecond counter for measuring waits.
  virtual int64_t MonotonicMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // The broken-down local time of t.
  virtual std::tm LocalTime(int64_t t) = 0;
};

}  // namespace hhsync
