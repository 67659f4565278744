#include "extras/sync_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kFriday = 1796368506;  // 2026-12-04 07:15:06 UTC
constexpr char kFirstHeader[] = "\r\nFriday, December 04, 2026 07:15:06 --\r\n";
constexpr char kStarted[] = "****Sync Started***";

class SyncLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("hhsync_log_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
    paths_.emplace(dir_.string());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string LogContents() {
    std::ifstream in(dir_ / "sync.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
  std::optional<EnvPaths> paths_;
  ScriptedUi ui_;
  FakeClock clock_{kFriday};
};

TEST_F(SyncLogTest, FirstOpeningCreatesFileWithStartedEntry) {
  ASSERT_FALSE(fs::exists(dir_ / "sync.txt"));
  SyncLog log(*paths_, clock_, ui_);
  EXPECT_FALSE(log.openFailed());
  EXPECT_TRUE(ui_.Texts().empty());
  EXPECT_EQ(LogContents(), std::string(kFirstHeader) + kStarted);
}

TEST_F(SyncLogTest, EntriesAreHeaderThenMessageWithoutLineEnd) {
  SyncLog log(*paths_, clock_, ui_);
  clock_.Advance(1000);
  EXPECT_TRUE(log.WriteEntry("second message"));
  EXPECT_EQ(LogContents(), std::string(kFirstHeader) + kStarted +
                               "\r\nFriday, December 04, 2026 07:15:07 --\r\nsecond message");
}

TEST_F(SyncLogTest, SecondOpeningAppendsWithoutChangingEarlierBytes) {
  {
    SyncLog log(*paths_, clock_, ui_);
    ASSERT_FALSE(log.openFailed());
    log.WriteEntry("run one");
  }
  std::string afterFirst = LogContents();
  clock_.Set(1798761600);  // 2027-01-01 00:00:00 UTC
  {
    SyncLog log(*paths_, clock_, ui_);
    ASSERT_FALSE(log.openFailed());
    log.WriteEntry("run two");
  }
  std::string all = LogContents();
  ASSERT_EQ(all.substr(0, afterFirst.size()), afterFirst);
  EXPECT_EQ(all.substr(afterFirst.size()),
            "\r\nFriday, January 01, 2027 00:00:00 --\r\n****Sync Started***"
            "\r\nFriday, January 01, 2027 00:00:00 --\r\nrun two");
  EXPECT_EQ(all, std::string(kFirstHeader) + kStarted + std::string(kFirstHeader) + "run one" +
                     "\r\nFriday, January 01, 2027 00:00:00 --\r\n" + kStarted +
                     "\r\nFriday, January 01, 2027 00:00:00 --\r\nrun two");
}

TEST_F(SyncLogTest, EmptyMessageWritesTheHeaderAlone) {
  SyncLog log(*paths_, clock_, ui_);
  log.WriteEntry("");
  log.WriteEntry("next");
  EXPECT_EQ(LogContents(),
            std::string(kFirstHeader) + kStarted + kFirstHeader + kFirstHeader + "next");
}

TEST_F(SyncLogTest, MessageBytesAreWrittenAsGiven) {
  SyncLog log(*paths_, clock_, ui_);
  std::string message = "line one\r\nline two caf\xE9 %d %s";
  log.WriteEntry(message);
  EXPECT_EQ(LogContents(), std::string(kFirstHeader) + kStarted + kFirstHeader + message);
}

TEST_F(SyncLogTest, SecondOpenerWhileOpenFailsWithMessage) {
  auto first = std::make_unique<SyncLog>(*paths_, clock_, ui_);
  ASSERT_FALSE(first->openFailed());
  std::string before = LogContents();

  SyncLog second(*paths_, clock_, ui_);
  EXPECT_TRUE(second.openFailed());
  auto shown = ui_.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to open log file.");
  EXPECT_EQ(shown[0].style.buttons, MbButtons::kOk);
  EXPECT_EQ(LogContents(), before);

  // Once the first log is closed the file can be opened again.
  first.reset();
  SyncLog third(*paths_, clock_, ui_);
  EXPECT_FALSE(third.openFailed());
  EXPECT_EQ(ui_.Texts().size(), 1u);
}

TEST_F(SyncLogTest, UnwritableLocationFailsWithMessage) {
  EnvPaths missing((dir_ / "no" / "such" / "dir").string());
  SyncLog log(missing, clock_, ui_);
  EXPECT_TRUE(log.openFailed());
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Unable to open log file."});
}

TEST(SyncLogHeaderTest, FormatsEnglishNamesAndPaddedFields) {
  FakeClock clock;
  EXPECT_EQ(SyncLog::FormatHeader(clock.LocalTime(1709251199)),  // 2024-02-29 23:59:59
            "\r\nThursday, February 29, 2024 23:59:59 --\r\n");
  EXPECT_EQ(SyncLog::FormatHeader(clock.LocalTime(0)),
            "\r\nThursday, January 01, 1970 00:00:00 --\r\n");
  EXPECT_EQ(SyncLog::FormatHeader(clock.LocalTime(kFriday)), kFirstHeader);
}

// Entries written from two threads at once each stay whole: every header is
// followed directly by one complete message.
TEST_F(SyncLogTest, EntriesFromTwoThreadsDoNotInterleave) {
  constexpr int kPerThread = 3000;
  {
    SyncLog log(*paths_, clock_, ui_);
    ASSERT_FALSE(log.openFailed());
    auto writer = [&log](char c) {
      for (int i = 0; i < kPerThread; ++i) log.WriteEntry(std::string(40, c));
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();
  }
  std::string all = LogContents();
  const std::string header = kFirstHeader;
  ASSERT_EQ(all.rfind(header + kStarted, 0), 0u);
  std::size_t pos = header.size() + std::string(kStarted).size();
  int as = 0;
  int bs = 0;
  while (pos < all.size()) {
    ASSERT_EQ(all.compare(pos, header.size(), header), 0) << "at byte " << pos;
    pos += header.size();
    std::string message = all.substr(pos, 40);
    if (message == std::string(40, 'A')) {
      ++as;
    } else if (message == std::string(40, 'B')) {
      ++bs;
    } else {
      FAIL() << "mixed entry at byte " << pos << ": " << message;
    }
    pos += 40;
  }
  EXPECT_EQ(as, kPerThread);
  EXPECT_EQ(bs, kPerThread);
}

}  // namespace
}  // namespace hhsync
