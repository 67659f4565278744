// The hand-over the dialog threads start with: a Set racing with the Wait is
// never lost, on a standard library whose own latch loses such wake-ups.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "app/dialogs/dialog_threads.h"

namespace hhsync {
namespace {

TEST(ReadySignalTest, ASetRacingWithTheWaitIsNeverLost) {
  // Detached, so that a waiter that never wakes fails the test instead of
  // hanging it.
  std::promise<void> finished;
  std::future<void> handovers = finished.get_future();
  std::thread([&finished] {
    for (int i = 0; i < 2000; ++i) {
      ReadySignal ready;
      std::thread other([&] { ready.Set(); });
      ready.Wait();
      other.join();
    }
    finished.set_value();
  }).detach();
  ASSERT_EQ(handovers.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "a waiter missed its Set";
  ReadySignal early;
  early.Set();
  early.Wait();  // a Set before the Wait counts
}

}  // namespace
}  // namespace hhsync
