// The hhsync binary in its test and configuration modes, against an emulated
// handheld and a registry store in a temporary program directory.

#include <gtest/gtest.h>

#include <set>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "platform/sqlite/sqlite_registry.h"
#include "support/process.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::RunProcess;
using test::RunResult;

constexpr const char* kProps = "name=Acme News\nregistry=Software\\Acme\\News\\\nexname=news.exe\n";

class HhsyncModesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(EmulatedHandheld::Init(dir_.File("handheld.db"), &err)) << err;
  }
  RunResult Hhsync(const std::string& mode, const std::string& answers = "") {
    std::vector<std::string> argv = {HHSYNC_BIN};
    if (!mode.empty()) argv.push_back(mode);
    return RunProcess(argv, {"HHSYNC_HOME=" + dir_.path(), "HHSYNC_UI=none",
                             "HHSYNC_ANSWERS=" + answers});
  }
  HandheldDump Dump() {
    FakeClock clock;
    EmulatedHandheld h(dir_.File("handheld.db"), clock);
    HandheldDump d;
    std::string err;
    EXPECT_TRUE(h.Dump(&d, &err)) << err;
    return d;
  }

  test::TempDir dir_;
  FakeClock clock_;
};

TEST_F(HhsyncModesTest, TestModeReportsAndLeavesTheDefaultKeys) {
  test::WriteSdat(dir_.File("S.DAT"), kProps);
  RunResult missing = Hhsync("-test");
  EXPECT_EQ(missing.err,
            "hhsync: message: Dll File Not found on handheld [ok] -> ok\n");

  std::string err;
  {
    EmulatedHandheld admin(dir_.File("handheld.db"), clock_);
    ASSERT_TRUE(admin.InstallLibrary("zvdll", &err));
  }
  RunResult ok = Hhsync("-test");
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_EQ(ok.err, "hhsync: message: All OK: result= 0,0 [ok] -> ok\n");

  auto dump = Dump();
  std::set<std::string> keys;
  for (const auto& e : dump.registry) {
    if (!e.hasValue) continue;
    keys.insert(e.path);
    EXPECT_FALSE(e.value.empty()) << e.path;
  }
  const std::string base = "Software\\Acme\\News\\";
  std::set<std::string> expected;
  for (const char* k : {"baseurl", "pv", "nu", "useproxy", "log", "sra", "ni", "sd6"})
    expected.insert(base + k);
  EXPECT_EQ(keys, expected);
  ASSERT_EQ(dump.calls.size(), 1u);
  EXPECT_EQ(dump.calls[0].input, base + "|news.exe|");
}

TEST_F(HhsyncModesTest, TestModeWithoutHandheldWaitsFiveSeconds) {
  std::string err;
  {
    EmulatedHandheld admin(dir_.File("handheld.db"), clock_);
    ASSERT_TRUE(admin.SetConnected(false, &err));
  }
  test::WriteSdat(dir_.File("S.DAT"), kProps);
  auto start = std::chrono::steady_clock::now();
  RunResult r = Hhsync("-test");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(5000));
  EXPECT_EQ(r.err,
            "hhsync: message: Unable to connect to Handheld device\\nIf this was a new Install, "
            "you will need to re-run\\nthis install with the device connected. [ok] -> ok\n");
}

TEST_F(HhsyncModesTest, ConfigurationStoresFrequencyOrTouchesNothingWithoutSdat) {
  RunResult none = Hhsync("-config");
  EXPECT_EQ(none.err, "hhsync: message: Unable to open configuration file. [ok] -> ok\n");
  EXPECT_FALSE(test::FileExists(dir_.File("registry.db")));

  test::WriteSdat(dir_.File("S.DAT"), kProps);
  int64_t before = time(nullptr);
  RunResult r = Hhsync("-config");
  EXPECT_EQ(r.err, "");
  SqliteRegistry reg(dir_.File("registry.db"));
  auto tu = reg.Query(RegRoot::kLocalMachine, "Software\\Acme\\News\\tu", "");
  ASSERT_TRUE(tu.has_value());
  EXPECT_EQ(tu->data, "0");
  auto lst = reg.Query(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst");
  ASSERT_TRUE(lst.has_value());
  EXPECT_GE(static_cast<int64_t>(lst->AsDword()), before);
  EXPECT_TRUE(Dump().registry.empty()) << "the configuration mode never connects";
}

}  // namespace
}  // namespace hhsync
