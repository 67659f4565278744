#include "app/dialogs/progress_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/dialogs/dialog_threads.h"
#include "platform/fake/memory_canvas.h"
#include "settings/registry_key.h"
#include "support/bmp.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

constexpr const char* kPath = "Software\\Acme\\";

TEST(ProgressDialogTest, OperationsMoveTheBarsUntilCancelButTheLogGoesOn) {
  test::TestPlatform p;
  ProgressDialog d(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kOpen,
                   ProgressDialog::Logo::kShown, kPath);
  d.OnInitDialog();
  d.SetStatus("Contacting Server", 1);
  d.SetStatus("", 1);  // moves the lower bar, keeps the text
  d.ResetDetail(3);
  d.StepDetail();
  d.StepDetail();
  auto v = d.Snapshot();
  EXPECT_EQ(v.status, "Contacting Server");
  EXPECT_EQ(v.upper.position, 1);
  EXPECT_EQ(v.lower.position, 2);
  d.SetStatus("x", 100);
  EXPECT_EQ(d.Snapshot().upper.position, 7) << "the upper bar stops at its end";

  d.OnCancel();
  EXPECT_FALSE(d.IsRunning());
  auto before = d.Snapshot();
  d.SetStatus("after", 1);
  d.ResetPhase(2);
  d.SetDetail(1, 2);
  d.ResetDetail(9);
  d.StepDetail();
  auto after = d.Snapshot();
  EXPECT_EQ(after.status, before.status);
  EXPECT_EQ(after.upper.range, before.upper.range);
  EXPECT_EQ(after.lower.range, before.lower.range);
  EXPECT_EQ(after.lower.position, before.lower.position);
  d.LogLine("still written");
  EXPECT_EQ(
      test::LogMessages(test::ReadFile(p.dir().File("sync.txt"))),
      (std::vector<std::string>{"****Sync Started***", "Version 2.86 build 67", "still written"}));
}

TEST(ProgressDialogTest, DoubleClicksToggleVersionLineAndLogging) {
  test::TestPlatform p;
  RegistryKey logSwitch(p.registry(), kPath);
  ProgressDialog d(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kAsSwitched,
                   ProgressDialog::Logo::kShown, kPath);
  d.OnInitDialog();
  EXPECT_FALSE(d.HasLog()) << "logging is off by default";
  EXPECT_FALSE(test::FileExists(p.dir().File("sync.txt")));

  // Without a main bitmap its height counts as 0: 7 and below is the version
  // line's area.
  d.OnRightDoubleClick(7);
  EXPECT_TRUE(d.Snapshot().versionShown);
  d.OnRightDoubleClick(50);
  EXPECT_FALSE(d.Snapshot().versionShown);

  d.OnRightDoubleClick(3);
  EXPECT_EQ(d.Snapshot().title, "Logging turned on");
  EXPECT_EQ(logSwitch.Get("log", ""), "YES");
  EXPECT_TRUE(d.HasLog());
  d.LogLine("one");
  d.OnRightDoubleClick(3);
  EXPECT_EQ(d.Snapshot().title, "Logging turned off");
  EXPECT_EQ(logSwitch.Get("log", ""), "NO");
  d.LogLine("two");  // the open log stays open for this run
  EXPECT_EQ(test::LogMessages(test::ReadFile(p.dir().File("sync.txt"))),
            (std::vector<std::string>{"****Sync Started***", "one", "two"}));
}

TEST(ProgressDialogTest, PaintsTheBitmapCentred) {
  test::TestPlatform p;
  MemoryCanvas canvas(300, 200);
  {
    ProgressDialog none(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kAsSwitched,
                        ProgressDialog::Logo::kShown, kPath);
    none.Paint(canvas, 300);
    EXPECT_EQ(canvas.BlitCount(), 0) << "nothing is painted without a main bitmap";
  }
  std::vector<uint8_t> bmp = test::Solid24(31, 20, 255, 0, 0).Bytes();
  ProgressDialog d(p.progressDesktop(), &bmp, "Acme", ProgressDialog::Log::kAsSwitched,
                   ProgressDialog::Logo::kShown, kPath);
  ASSERT_EQ(d.logo().Width(), 89);
  d.Paint(canvas, 300);
  // 300/2 - 31/2 = 135; the bitmap is red.
  EXPECT_EQ(canvas.Pixel(135, 7), (Rgb{255, 0, 0}));
  EXPECT_EQ(canvas.Pixel(165, 26), (Rgb{255, 0, 0}));
  EXPECT_NE(canvas.Pixel(134, 7), (Rgb{255, 0, 0}));
  EXPECT_NE(canvas.Pixel(135, 27), (Rgb{255, 0, 0}));
  EXPECT_EQ(canvas.BlitCount(), 2);  // and the logo
}

TEST(ProgressDialogTest, ThreadHandOverNeverLosesAStop) {
  test::TestPlatform p;
  for (int round = 0; round < 50; ++round) {
    // A stop asked for at once after the window appeared ends the thread;
    // a lost one would leave Stop waiting for ever.
    ProgressDialog d(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kAsSwitched,
                     ProgressDialog::Logo::kShown, kPath);
    ProgressDialogThread thread(p.ui(), d);
    thread.Start();
    EXPECT_TRUE(d.IsRunning());
    EXPECT_EQ(p.ui().ProgressWindowsCreated(), round + 1) << "the window exists once Start returns";
    thread.Stop();
    EXPECT_TRUE(thread.done());
  }
  // A cancelled dialog ends its thread by itself.
  ProgressDialog d(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kAsSwitched,
                   ProgressDialog::Logo::kShown, kPath);
  ProgressDialogThread thread(p.ui(), d);
  thread.Start();
  d.OnCancel();
  for (int i = 0; i < 1000 && !thread.done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(thread.done());
}

TEST(ChangeSignalTest, WakesAWaiterAtMostOncePerFrameAndNeverMissesAChange) {
  using namespace std::chrono;
  ChangeSignal signal;
  // A change made while the waiter waits wakes it long before its timeout.
  const uint64_t seen = signal.Revision();
  std::thread bump([&] {
    std::this_thread::sleep_for(milliseconds(20));
    signal.Notify();
  });
  const auto start = steady_clock::now();
  signal.WaitPast(seen, 60000);
  bump.join();
  EXPECT_NE(signal.Revision(), seen);
  EXPECT_LT(steady_clock::now() - start, seconds(30)) << "the change was lost";

  // Changes without pause: the waiter returns on them no more often than
  // the frame rate allows.
  std::atomic<bool> done{false};
  int wakes = 0;
  std::thread waiter([&] {
    while (!done.load()) {
      const uint64_t r = signal.Revision();
      signal.WaitPast(r, 1000);
      if (signal.Revision() != r) ++wakes;
    }
  });
  const auto burst = steady_clock::now();
  while (steady_clock::now() - burst < milliseconds(200)) {
    signal.Notify();
    std::this_thread::yield();
  }
  done = true;
  signal.Notify();
  waiter.join();
  const auto frames =
      duration_cast<milliseconds>(steady_clock::now() - burst).count() / ChangeSignal::kFrameMs;
  EXPECT_GE(wakes, 1);
  EXPECT_LE(wakes, frames + 2);
}

}  // namespace
}  // namespace hhsync
