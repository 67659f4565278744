#pragma once
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace hhsync {

// A clock for tests: time stands still until a sleep, which returns at once
// and advances it. Records every sleep.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(int64_t startSeconds = 1'796'000'000) : ms_(startSeconds * 1000) {}

  int64_t Now() override { return ms_.load() / 1000; }
  int64_t MonotonicMs() override { return ms_.load(); }
  void SleepMs(uint32_t ms) override {
    std::lock_guard<std::mutex> lock(mu_);
    sleeps_.push_back(ms);
    ms_ += ms;
  }
  std::tm LocalTime(int64_t t) override;  // UTC, so tests do not depend on the zone

  void Advance(int64_t ms) { ms_ += ms; }
  void Set(int64_t seconds) { ms_ = seconds * 1000; }
  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(mu_);
    return sleeps_;
  }

 private:
  std::atomic<int64_t> ms_;
  std::mutex mu_;
  std::vector<uint32_t> sleeps_;
};

}  // namespace hhsync
