#include "app/sync_runner.h"

#include <gtest/gtest.h>

#include "app/dialogs/update_frequency_dialog.h"
#include "platform/registry.h"
#include "settings/registry_key.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

constexpr const char* kProps = "name=Acme News\nregistry=Software\\Acme\\News\\\nexname=news.exe\n";

TEST(RunModeTest, SwitchesAreSubstringsTestedInOrder) {
  EXPECT_EQ(SelectRunMode("-first -test"), RunMode::kTest);
  EXPECT_EQ(SelectRunMode("x-testing"), RunMode::kTest);
  EXPECT_EQ(SelectRunMode("-config -first"), RunMode::kFirstSync);
  EXPECT_EQ(SelectRunMode("--configure"), RunMode::kConfiguration);
  EXPECT_EQ(SelectRunMode("-TEST -FIRST -CONFIG"), RunMode::kSync);
  EXPECT_EQ(SelectRunMode(""), RunMode::kSync);
}

class SyncRunnerTest : public ::testing::Test {
 protected:
  void WriteProps(const std::string& text = kProps) {
    test::WriteSdat(p_.dir().File("S.DAT"), text);
  }
  std::string LastMessage() {
    auto texts = p_.ui().Texts();
    return texts.empty() ? "" : texts.back();
  }

  test::TestPlatform p_;
};

TEST_F(SyncRunnerTest, TestModeBuildsTheSettingsAndReportsTheLaunchResult) {
  WriteProps();
  std::string err;
  ASSERT_TRUE(p_.handheld().InstallLibrary("zvdll", &err));
  SyncRunner(p_.ports()).RunTest();
  EXPECT_EQ(LastMessage(), "All OK: result= 0,0");

  struct Case {
    uint32_t error;
    std::string prefix;
  } cases[] = {{2, "Dll File Not found on handheld"},
               {120, "Dll function RAPIlaunchapp not found"},
               {1064, "Exception in service result= -"},
               {5, "unknown error: result= 5,-"}};
  for (const auto& c : cases) {
    p_.ClearFaults();
    p_.AddFault("CeRapiInvoke", 1, false, c.error);
    SyncRunner(p_.ports()).RunTest();
    EXPECT_EQ(LastMessage().rfind(c.prefix, 0), 0u) << LastMessage();
  }
}

TEST_F(SyncRunnerTest, TestModeWithoutHandheldWaitsThenSaysSo) {
  std::string err;
  ASSERT_TRUE(p_.handheld().SetConnected(false, &err));
  int64_t before = p_.clock().MonotonicMs();
  InitInstance(p_.ports(), "hhsync -test");  // S.DAT missing: the test mode goes on regardless
  EXPECT_EQ(p_.clock().MonotonicMs() - before, 5000);
  EXPECT_EQ(p_.ui().Texts(),
            (std::vector<std::string>{"Unable to open configuration file.", kNoConnectionMessage}));
}

TEST_F(SyncRunnerTest, ConfigurationStoresHoursAndStampsLastSync) {
  WriteProps();
  RegistryKey key(p_.registry(), "Software\\Acme\\News\\");
  key.Set("tu", "100");
  auto lastSync = [&] {
    return p_.registry().Query(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst")->AsDword();
  };
  p_.clock().Set(1'800'000'000);
  p_.ui().SetFrequencyChoice(true, -1);  // OK on what the dialog selected
  SyncRunner(p_.ports()).RunConfiguration();
  EXPECT_EQ(key.Get("tu", ""), "24");
  EXPECT_EQ(lastSync(), 1'800'000'000u);

  p_.ui().SetFrequencyChoice(false, 3);  // closed without OK
  p_.clock().Set(1'800'000'100);
  SyncRunner(p_.ports()).RunConfiguration();
  EXPECT_EQ(key.Get("tu", ""), "24");
  EXPECT_EQ(lastSync(), 1'800'000'100u);
  EXPECT_EQ(p_.ui().FrequencyDialogsShown(), 2);
}

TEST_F(SyncRunnerTest, WithoutSdatASyncTouchesNothing) {
  EXPECT_FALSE(SyncRunner(p_.ports()).RunSync(SyncKind::kOrdinary));
  EXPECT_FALSE(SyncRunner(p_.ports()).RunSync(SyncKind::kFirst));
  EXPECT_TRUE(p_.registry().List(RegRoot::kLocalMachine, "").empty());
  auto dump = p_.Dump();
  EXPECT_TRUE(dump.registry.empty());
  EXPECT_TRUE(dump.calls.empty());
  EXPECT_TRUE(p_.clock().Sleeps().empty()) << "no connection was attempted";
}

TEST(UpdateFrequencyDialogTest, SelectionFromHoursAndHoursFromSelection) {
  struct Case {
    int hours;
    int selection;
  } cases[] = {{-5, 0},  {0, 0},   {23, 0},  {24, 1},  {100, 1},
               {167, 1}, {168, 2}, {719, 2}, {720, 3}, {5000, 3}};
  for (const auto& c : cases) {
    UpdateFrequencyDialog d("Acme", c.hours);
    d.OnInit();
    EXPECT_EQ(d.Selection(), c.selection) << c.hours;
  }
  UpdateFrequencyDialog d("Acme", 100);
  d.OnInit();
  d.OnOk(-1);
  EXPECT_EQ(d.Hours(), 100) << "no selection keeps the hours";
  d.OnOk(d.Selection());
  EXPECT_EQ(d.Hours(), 24);
  d.OnOk(3);
  EXPECT_EQ(d.Hours(), 720);
}

}  // namespace
}  // namespace hhsync
