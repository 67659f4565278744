#include "extras/sync_log.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::ReadFile;

constexpr int64_t kFriday = 1796368506;  // 2026-12-04 07:15:06 UTC
constexpr char kFirstHeader[] = "\r\nFriday, December 04, 2026 07:15:06 --\r\n";
constexpr char kStarted[] = "****Sync Started***";

class SyncLogTest : public ::testing::Test {
 protected:
  std::string LogContents() const { return ReadFile(dir_.File("sync.txt")); }

  test::TempDir dir_;
  EnvPaths paths_{dir_.path()};
  ScriptedUi ui_;
  FakeClock clock_{kFriday};
};

TEST_F(SyncLogTest, EntriesAreAppendedByteForByteOverTwoOpenings) {
  {
    SyncLog log(paths_, clock_, ui_);
    ASSERT_FALSE(log.openFailed());
    EXPECT_EQ(LogContents(), std::string(kFirstHeader) + kStarted);
    clock_.Advance(1000);
    EXPECT_TRUE(log.WriteEntry("line one\r\nline two caf\xE9 %d %s"));
    log.WriteEntry("");  // the header alone
  }
  clock_.Set(1798761600);  // 2027-01-01 00:00:00 UTC
  {
    SyncLog log(paths_, clock_, ui_);
    ASSERT_FALSE(log.openFailed());
    log.WriteEntry("run two");
  }
  const std::string second = "\r\nFriday, December 04, 2026 07:15:07 --\r\n";
  const std::string newYear = "\r\nFriday, January 01, 2027 00:00:00 --\r\n";
  EXPECT_EQ(LogContents(), std::string(kFirstHeader) + kStarted + second +
                               "line one\r\nline two caf\xE9 %d %s" + second + newYear + kStarted +
                               newYear + "run two");
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(SyncLogTest, OpeningFailsWithAMessageWhileAnotherLogHoldsTheFile) {
  auto first = std::make_unique<SyncLog>(paths_, clock_, ui_);
  ASSERT_FALSE(first->openFailed());
  const std::string before = LogContents();

  SyncLog second(paths_, clock_, ui_);
  EXPECT_TRUE(second.openFailed());
  auto shown = ui_.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to open log file.");
  EXPECT_EQ(shown[0].style.buttons, MbButtons::kOk);
  EXPECT_EQ(LogContents(), before);

  first.reset();
  SyncLog third(paths_, clock_, ui_);
  EXPECT_FALSE(third.openFailed());

  EnvPaths missing(dir_.File("no/such/dir"));
  SyncLog nowhere(missing, clock_, ui_);
  EXPECT_TRUE(nowhere.openFailed());
  EXPECT_EQ(ui_.Texts().size(), 2u);
}

// Entries written from two threads at once each stay whole: every header is
// followed by one complete message.
TEST_F(SyncLogTest, EntriesFromTwoThreadsDoNotInterleave) {
  constexpr int kPerThread = 2000;
  {
    SyncLog log(paths_, clock_, ui_);
    ASSERT_FALSE(log.openFailed());
    auto writer = [&log](char c) {
      for (int i = 0; i < kPerThread; ++i) log.WriteEntry(std::string(40, c));
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();
  }
  std::map<std::string, int> counts;
  for (const std::string& message : test::LogMessages(LogContents())) ++counts[message];
  EXPECT_EQ(counts, (std::map<std::string, int>{{kStarted, 1},
                                                {std::string(40, 'A'), kPerThread},
                                                {std::string(40, 'B'), kPerThread}}));
}

}  // namespace
}  // namespace hhsync
