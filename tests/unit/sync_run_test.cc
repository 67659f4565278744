// The sync run's waits, retries and ways out, on the fake clock: nothing
// really sleeps. The server is unreachable here, so a run that gets that far
// ends after a failed profile exchange.

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "app/dialogs/dialog_threads.h"
#include "app/dialogs/progress_dialog.h"
#include "app/report_collector.h"
#include "app/sync_runner.h"
#include "device/records.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/forwarding_rapi.h"
#include "platform/registry.h"
#include "settings/registry_key.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

constexpr const char* kProps = "name=Acme\nregistry=R\\\nexname=a.exe\n";

class SyncRunTest : public ::testing::Test {
 protected:
  void SetUp() override { test::WriteSdat(p_.dir().File("S.DAT"), kProps); }
  void Set(const std::string& name, const std::string& value) { p_.SetDevice("R\\" + name, value); }
  // The handheld as the installation leaves it: the companion library, and
  // the volume that "dbp" names.
  void Installed() {
    std::string err;
    ASSERT_TRUE(p_.handheld().InstallLibrary("zvdll", &err)) << err;
    ASSERT_TRUE(p_.handheld().CreateVolume("v.vol", &err)) << err;
    Set("dbp", "v.vol");
  }
  std::vector<std::string> Functions() {
    std::vector<std::string> out;
    for (const auto& c : p_.Dump().calls) out.push_back(c.function);
    return out;
  }
  test::TestPlatform p_;
};

TEST_F(SyncRunTest, FirstRunWithNothingAnsweringRetriesThenAsksAndCancels) {
  p_.ui().QueueAnswer(MbAnswer::kRetry);
  EXPECT_FALSE(SyncRunner(p_.ports()).RunSync(SyncKind::kFirst));

  std::vector<uint32_t> expected(20, 1000);  // the handshake, then the sd6 retries
  expected.insert(expected.end(), {2000, 2000, 2000, 1000, 3000, 3000});
  EXPECT_EQ(p_.clock().Sleeps(), expected);
  auto shown = p_.ui().Messages();
  ASSERT_EQ(shown.size(), 2u);
  for (const auto& m : shown) {
    EXPECT_EQ(m.text, "Unable to open database perhaps it is still copying on device.");
    EXPECT_EQ(m.style.buttons, MbButtons::kRetryCancel);
    EXPECT_TRUE(m.style.systemModal);
  }
  EXPECT_EQ(p_.ui().WaitWindowsClosedShown(), 1) << "shown while the first run waited";
}

TEST_F(SyncRunTest, FirstRunLaunchesUntilSd6AppearsAndLaunchesAfterAtTheEnd) {
  Installed();
  Set("dbpok", "OK");
  Set("dllok", "OK");
  EXPECT_TRUE(SyncRunner(p_.ports()).RunSync(SyncKind::kFirst));
  EXPECT_TRUE(p_.clock().Sleeps().empty()) << "everything was ready at once";
  EXPECT_EQ(Functions(), (std::vector<std::string>{"RAPIlaunchapp", "RAPIlaunchafter"}));
  EXPECT_TRUE(p_.ui().Messages().empty());
  EXPECT_EQ(p_.ui().WaitWindowsCreated(), 1);
  EXPECT_EQ(p_.ui().WaitWindowsClosedShown(), 0) << "hidden once the progress dialog is up";
}

// A clock whose first pause runs a step of the handheld's own.
class StepAfterFirstPause final : public Clock {
 public:
  StepAfterFirstPause(FakeClock& clock, std::function<void()> step)
      : clock_(clock), step_(std::move(step)) {}
  int64_t Now() override { return clock_.Now(); }
  int64_t MonotonicMs() override { return clock_.MonotonicMs(); }
  void SleepMs(uint32_t ms) override {
    clock_.SleepMs(ms);
    if (step_) std::exchange(step_, nullptr)();
  }
  std::tm LocalTime(int64_t t) override { return clock_.LocalTime(t); }

 private:
  FakeClock& clock_;
  std::function<void()> step_;
};

TEST_F(SyncRunTest, TheHandshakeEndsOnceBothMarkersWereSeenWhicheverCameFirst) {
  Installed();
  Set("dllok", "OK");
  StepAfterFirstPause clock(p_.clock(), [this] { Set("dbpok", "OK"); });
  Ports ports = p_.ports();
  ports.clock = &clock;
  EXPECT_TRUE(SyncRunner(ports).RunSync(SyncKind::kFirst));
  EXPECT_EQ(p_.clock().Sleeps(), (std::vector<uint32_t>{1000}));
}

TEST_F(SyncRunTest, TheWaitDialogsCancelEndsTheHandshakeAndAbortsTheProbe) {
  Set("dbp", "missing.vol");
  p_.ui().CancelWaitDialogAtOnce();
  EXPECT_FALSE(SyncRunner(p_.ports()).RunSync(SyncKind::kFirst));
  EXPECT_TRUE(p_.ui().Messages().empty()) << "no Retry/Cancel box after the wait dialog's Cancel";
  // The handshake waits end at once; only the dbpok polling (which does not
  // look at the dialog) still sleeps.
  EXPECT_EQ(p_.clock().Sleeps(), (std::vector<uint32_t>{2000, 2000, 2000}));
  EXPECT_EQ(Functions(), (std::vector<std::string>{}));
}

// Counts the connections begun and ended.
class CountingRapi : public ForwardingRapi {
 public:
  using ForwardingRapi::ForwardingRapi;
  int32_t CeRapiInitEx(RapiInit* init) override {
    ++begun;
    return ForwardingRapi::CeRapiInitEx(init);
  }
  int32_t CeRapiUninit() override {
    ++ended;
    return ForwardingRapi::CeRapiUninit();
  }
  int begun = 0, ended = 0;
};

// The mode comes from the command line: only a first run says that nothing
// answered. Either way the connection begun is ended.
TEST_F(SyncRunTest, OrdinaryRunWithoutHandheldEndsQuietly) {
  std::string err;
  ASSERT_TRUE(p_.handheld().SetConnected(false, &err));
  Ports ports = p_.ports();
  CountingRapi rapi(*ports.rapi);
  ports.rapi = &rapi;
  InitInstance(ports, "hhsync", {});
  EXPECT_EQ(p_.clock().Sleeps(), (std::vector<uint32_t>{5000}));
  EXPECT_TRUE(p_.ui().Messages().empty());
  EXPECT_EQ(rapi.begun, 1);
  EXPECT_EQ(rapi.ended, 1);

  InitInstance(ports, "hhsync -first", {});
  EXPECT_EQ(p_.ui().Texts(), (std::vector<std::string>{kNoConnectionMessage}));
  EXPECT_EQ(p_.ui().WaitWindowsCreated(), 1);
  EXPECT_EQ(rapi.ended, rapi.begun);
}

// Only page requests waiting, asked for by the handheld (sra) or in a sync
// that is not due: they are posted, the page opens and the run ends
// page-only.
TEST_F(SyncRunTest, PageRequestsAloneArePostedAndEndPageOnly) {
  std::string err;
  ASSERT_TRUE(p_.handheld().CreateVolume("v.vol", &err));
  Set("dbp", "v.vol");
  Set("ni", "NO");
  Set("sra", "YES");
  MemoryHttp http;
  http.Serve("/zavrik/update/keep", "OK\n");
  p_.SetHttp(&http);
  // One entry waiting; one more request, to the keep list only, and one
  // more page opened.
  const auto postsOnlyThePage = [&] {
    p_.AddRecord("v.vol", "keep",
                 {CePropVal::Ui4(UintProp(100), 1), CePropVal::Text(TextProp(101), u"m:news")});
    const std::size_t requests = http.requests().size();
    const std::size_t opened = p_.shell().Opened().size();
    Ports ports = p_.ports();
    ReportCollector report(p_.clock(), RunMode::kSync);
    ports.recorder = &report;
    EXPECT_TRUE(SyncRunner(ports).RunSync(SyncKind::kOrdinary));
    EXPECT_EQ(report.Finish().outcome, RunOutcome::kPageOnly);
    EXPECT_EQ(p_.shell().Opened().size(), opened + 1);
    ASSERT_EQ(http.requests().size(), requests + 1) << "no profile is asked for";
    EXPECT_EQ(http.requests().back().object.substr(0, 19), "/zavrik/update/keep");
  };
  postsOnlyThePage();

  // Not asked for, but the last sync was an hour ago and one is due every
  // 24 hours: the same, and the last sync stays as it was.
  Set("sra", "NO");
  RegistryKey(p_.registry(), "R\\").Set("tu", "24");
  const auto lastSync = static_cast<uint32_t>(p_.clock().Now() - 3600);
  p_.registry().SetValue(RegRoot::kLocalMachine, "R\\", "lst", RegValue::Dword(lastSync));
  postsOnlyThePage();
  EXPECT_EQ(p_.registry().Query(RegRoot::kLocalMachine, "R", "lst")->AsDword(), lastSync)
      << "not recorded as a sync";
}

TEST_F(SyncRunTest, ACancelWhileTheFirstRunPageOpensLeavesTheSyncUnrecorded) {
  std::string err;
  ASSERT_TRUE(p_.handheld().CreateVolume("v.vol", &err));
  Set("dbp", "v.vol");
  Set("ni", "YES");
  Set("furl", "http://first/run");
  // A complete sync: no categories, and a resource list that always counts
  // as a change.
  MemoryHttp http;
  http.Serve("/zavrik/update/profile", "OK\n0\n0\n");
  http.Serve("/zavrik/update/resource", "OK\nlist\n1|PRC|r1|p\n");
  p_.SetHttp(&http);
  // The user presses Cancel just as the page opens.
  p_.shell().SetOnOpen([this] { p_.ui().LastProgressDialog()->OnCancel(); });

  EXPECT_TRUE(SyncRunner(p_.ports()).RunSync(SyncKind::kOrdinary));
  EXPECT_EQ(p_.shell().Opened(), (std::vector<std::string>{"http://first/run"}));
  EXPECT_EQ(p_.Device("R\\ni"), "NO");
  EXPECT_FALSE(p_.registry().Query(RegRoot::kLocalMachine, "R", "lst").has_value())
      << "a cancelled sync is not recorded as complete";
}

}  // namespace
}  // namespace hhsync
