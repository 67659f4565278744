// The latch the dialog threads hand over with: a count_down racing with the
// wait is never lost.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <latch>
#include <thread>

namespace {

TEST(LatchTest, ACountDownRacingWithTheWaitIsNeverLost) {
  // Detached, so that a waiter that never wakes fails the test instead of
  // hanging it.
  std::promise<void> finished;
  std::future<void> handovers = finished.get_future();
  std::thread([&finished] {
    for (int i = 0; i < 2000; ++i) {
      std::latch ready(1);
      std::thread other([&] { ready.count_down(); });
      ready.wait();
      other.join();
    }
    finished.set_value();
  }).detach();
  ASSERT_EQ(handovers.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "a waiter missed its count_down";
  std::latch done(2);
  EXPECT_FALSE(done.try_wait());
  done.count_down();
  done.arrive_and_wait();
  EXPECT_TRUE(done.try_wait());
}

}  // namespace
