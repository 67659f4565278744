// The real hhsync binary with its windows (HHSYNC_UI=wx) on an X server of
// the test's own (Xvfb): the progress window with both bitmaps and Escape
// as Cancel, a message box that waits for its answer, and notifications.
// The reference server, an emulated handheld and a registry store live in a
// temporary program directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/dialogs/bitmaps.h"
#include "formats/dib.h"
#include "platform/sqlite/sqlite_registry.h"
#include "settings/registry_key.h"
#include "support/bmp.h"
#include "support/edm_body.h"
#include "support/processes.h"
#include "support/report_check.h"
#include "support/xvfb.h"

namespace hhsync {
namespace {

using test::RunResult;

constexpr const char* kReg = "Software\\Acme\\News\\";
constexpr const char* kProps =
    "name=Acme News\nregistry=Software\\Acme\\News\\\nexname=news.exe\npartner=acme\n"
    "product=news\n";
constexpr const char* kTitle = "^Acme News Server Link$";

// A main bitmap no theme would draw by chance: every pixel differs from its
// neighbours.
test::Bmp MainBitmap() {
  test::Bmp bmp = test::Solid24(120, 48, 0, 0, 0);
  const int stride = (120 * 3 + 3) / 4 * 4;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 120; ++x) {
      uint8_t* p = &bmp.pixels[static_cast<size_t>(y * stride + x * 3)];
      p[0] = static_cast<uint8_t>(x * 2);        // blue
      p[1] = static_cast<uint8_t>(y * 5);        // green
      p[2] = static_cast<uint8_t>(255 - x - y);  // red
    }
  }
  return bmp;
}

// Whether done() comes true within ms milliseconds.
bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  for (int waited = 0; !done(); waited += 25) {
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return true;
}

// How often word occurs in text.
int Count(const std::string& text, const std::string& word) {
  int n = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

class WxHhsyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    if (!x_.Start(&error)) GTEST_SKIP() << "no X server for the windows: " << error;
    ASSERT_TRUE(server_.Start());
    std::string err;
    ASSERT_TRUE(p_.handheld().CreateVolume("news.vol", &err));
    SetDevice("baseurl", server_.BaseUrl());
    SetDevice("dbp", "news.vol");
    SetDevice("loginurl", "http://login.test/page");
    SetDevice("ni", "NO");
    const std::vector<uint8_t> main = MainBitmap().Bytes();
    test::WriteSdat(File("S.DAT"), kProps, main);
    RegistryKey(desktop_, kReg).Set("log", "NO");
    server_.WriteFile("profile.txt", "OK\n1\nnews|3|0\n1\nHeadline A|101|a3|a4|1|news|a7\n");
    server_.WriteFile("data/101/1.edm", test::EdmBody(1, {test::Bytes(10, 'a')}));
    // A sync is recorded only when it brought some resource up to date.
    server_.WriteFile("resources.txt", "OK\nlist\n1|DAT|r1|notes\n");
    server_.WriteFile("resources/1", "notes");
  }

  std::string File(const std::string& name) const { return p_.dir().File(name); }
  void SetDevice(const std::string& name, const std::string& value) {
    p_.SetDevice(kReg + name, value);
  }
  // The environment of a run with its windows on the test's X server.
  std::vector<std::string> Env(bool setUi = true) const {
    std::vector<std::string> env = x_.Environment();
    env.push_back("HHSYNC_HOME=" + p_.dir().path());
    env.push_back("HHSYNC_OPEN=/bin/true");
    if (setUi) env.push_back("HHSYNC_UI=wx");
    return env;
  }
  void Start(test::ChildProcess& run, const std::string& binary, const std::string& mode,
             bool setUi = true) {
    std::vector<std::string> argv = {binary};
    if (!mode.empty()) argv.push_back(mode);
    std::string error;
    ASSERT_TRUE(run.Start(argv, Env(setUi), &error)) << error;
  }
  uint32_t LastSync() {
    auto lst = desktop_.Query(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst");
    return lst ? lst->AsDword() : 0;
  }
  bool Requested(const std::string& path) {
    for (const auto& r : server_.RequestLog()) {
      if (r["path"] == path) return true;
    }
    return false;
  }

  test::XvfbProcess x_;
  test::TestPlatform p_;  // its handheld is the image the program uses
  SqliteRegistry desktop_{File("registry.db")};
  test::ReferenceServerProcess server_;
};

TEST_F(WxHhsyncTest, ProgressWindowShowsBothBitmapsAndEscapeCancelsTheRun) {
  // The server holds the profile back, so the window stays while the test
  // looks at it.
  server_.WriteFile("profile.txt.delay", "10000");
  test::ChildProcess run;
  Start(run, HHSYNC_BIN, "");
  const std::string window = x_.WaitForWindow(kTitle);
  ASSERT_FALSE(window.empty()) << "no progress window";

  // The main bitmap 7 pixels from the top, centred; the logo 10 pixels from
  // the right edge and 10 below the main bitmap's height. Without a window
  // manager the window is its client area.
  DibImage main;
  ASSERT_TRUE(main.LoadFromMemory(MainBitmap().Bytes()));
  DibImage logo;
  ASSERT_TRUE(LoadResourceBitmap(&logo, kLogoResourceId));
  test::Screenshot shot;
  std::string where;
  // The first paint may come a moment after the window is shown.
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(x_.Capture(window, &shot));
    if (shot.Holds(shot.width / 2 - 60, 7, 120, 48, main.DecodePixels(), &where)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(shot.Holds(shot.width / 2 - 60, 7, 120, 48, main.DecodePixels(), &where)) << where;
  EXPECT_TRUE(shot.Holds(shot.width - 10 - 89, 48 + 10, 89, 79, logo.DecodePixels(), &where))
      << where;

  ASSERT_TRUE(x_.PressKeys(window, {"Escape"}));
  EXPECT_TRUE(x_.WaitUntilNoWindow(kTitle, 5000)) << "Escape hides the window at once";
  EXPECT_TRUE(run.Running()) << "the run was still waiting for the server";

  RunResult result;
  ASSERT_TRUE(run.Wait(60000, &result));
  EXPECT_EQ(result.exitCode, 4) << "cancelled";
  const std::string summary = test::TakeSummaryLine(&result.err, "hhsync");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(summary.rfind("hhsync: cancelled: ", 0), 0u) << summary;
  EXPECT_TRUE(Requested("/zavrik/update/profile"));
  EXPECT_EQ(LastSync(), 0u) << "a cancelled sync is not recorded";
}

TEST_F(WxHhsyncTest, ASyncWithItsWindowRunsToItsEnd) {
  // The same run left alone: it ends by itself and records the sync.
  RegistryKey(desktop_, kReg).Set("log", "YES");
  server_.WriteFile("profile.txt.delay", "1500");
  test::ChildProcess run;
  Start(run, HHSYNC_BIN, "");
  EXPECT_FALSE(x_.WaitForWindow(kTitle).empty()) << "no progress window";
  RunResult result;
  ASSERT_TRUE(run.Wait(60000, &result));
  EXPECT_EQ(result.exitCode, 0) << "complete";
  const std::string summary = test::TakeSummaryLine(&result.err, "hhsync");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(summary.rfind("hhsync: complete: 1 category updated, 1 item", 0), 0u) << summary;
  EXPECT_NE(LastSync(), 0u) << test::ReadFile(File("sync.txt"));
  EXPECT_TRUE(x_.Windows(kTitle).empty()) << "the window went with the run";
}

TEST_F(WxHhsyncTest, MessageBoxCarriesTheProgramNameAndWaitsForItsAnswer) {
  // Without the companion library the test mode says "Dll File Not found
  // on handheld". The copy's name is the caption; with a display and no
  // HHSYNC_UI the windows are the default.
  const std::string renamed = File("newssync.bin");
  std::filesystem::copy_file(HHSYNC_BIN, renamed);
  test::ChildProcess run;
  Start(run, renamed, "-test", /*setUi=*/false);
  const std::string window = x_.WaitForWindow("^newssync$");
  ASSERT_FALSE(window.empty()) << "no message box";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(run.Running()) << "the box waits for its answer";
  ASSERT_TRUE(x_.PressKeys(window, {"Return"}));
  RunResult result;
  ASSERT_TRUE(run.Wait(20000, &result));
  EXPECT_EQ(result.exitCode, 1) << "failed";
  const std::string summary = test::TakeSummaryLine(&result.err, "newssync");
  EXPECT_EQ(result.err, "") << "the box was a window, not a line";
  EXPECT_EQ(summary.rfind("newssync: failed: ", 0), 0u) << summary;
  EXPECT_TRUE(x_.Windows("^newssync$").empty());
}

// The X window ids of the root window's property (a list of windows), as
// xprop prints them: "NAME(WINDOW): window id # 0x..., 0x...".
std::vector<unsigned long> RootWindows(const test::XvfbProcess& x, const std::string& property) {
  std::vector<unsigned long> ids;
  const std::string out = x.Tool({"/usr/bin/xprop", "-root", property}).out;
  for (std::size_t at = out.find("0x"); at != std::string::npos; at = out.find("0x", at + 2)) {
    ids.push_back(std::stoul(out.substr(at), nullptr, 16));
  }
  return ids;
}

TEST_F(WxHhsyncTest, ABoxComesInFrontOfTheWaitWindowAndTakesTheKeyboard) {
  // With a window manager, which keeps "stay on top" windows above the rest.
  test::ChildProcess wm;
  std::string error;
  ASSERT_TRUE(wm.Start({"/usr/bin/openbox", "--sm-disable"}, x_.Environment(), &error))
      << "openbox (scripts/test installs it): " << error;
  ASSERT_TRUE(
      WaitUntil([&] { return !RootWindows(x_, "_NET_SUPPORTING_WM_CHECK").empty(); }, 10000))
      << "openbox did not start";

  // A first run without a handheld: the wait window, then "Unable to
  // connect".
  ASSERT_TRUE(p_.handheld().SetConnected(false, &error)) << error;
  std::vector<std::string> env = Env();
  env.push_back("HHSYNC_CONNECT_WAIT_MS=1500");
  test::ChildProcess run;
  ASSERT_TRUE(run.Start({HHSYNC_BIN, "-first"}, env, &error)) << error;
  const std::string wait = x_.WaitForWindow("^Please Wait$");
  ASSERT_FALSE(wait.empty()) << "no wait window";
  const std::string box = x_.WaitForWindow("^hhsync$");
  ASSERT_FALSE(box.empty()) << "no message box";
  // The window manager settles the stacking and the focus in its own time:
  // wait for the order wanted, then say what is wrong if it never came.
  std::vector<unsigned long> stacking;
  const auto position = [&](const std::string& id) {
    return std::find(stacking.begin(), stacking.end(), std::stoul(id)) - stacking.begin();
  };
  WaitUntil(
      [&] {
        stacking = RootWindows(x_, "_NET_CLIENT_LIST_STACKING");
        return position(box) < static_cast<long>(stacking.size()) &&
               position(wait) < position(box) &&
               RootWindows(x_, "_NET_ACTIVE_WINDOW") == std::vector<unsigned long>{std::stoul(box)};
      },
      10000);
  ASSERT_LT(position(wait), static_cast<long>(stacking.size())) << "the wait window is managed";
  ASSERT_LT(position(box), static_cast<long>(stacking.size())) << "the box is managed";
  EXPECT_GT(position(box), position(wait)) << "the box is above the wait window";
  EXPECT_EQ(RootWindows(x_, "_NET_ACTIVE_WINDOW"), std::vector<unsigned long>{std::stoul(box)})
      << "the box has the keyboard";

  // Return, typed where the keyboard is, answers the box.
  ASSERT_TRUE(x_.Tool({"/usr/bin/xdotool", "key", "Return"}).exitCode == 0);
  RunResult result;
  ASSERT_TRUE(run.Wait(20000, &result));
  EXPECT_EQ(result.exitCode, 5) << "no-handheld: " << result.err;
}

TEST_F(WxHhsyncTest, ARunThatShowedNothingSaysItsOutcomeAsANotification) {
  // A session bus of the test's own, watched for notifications.
  test::TempDir bus;
  const std::string address = "unix:path=" + bus.File("bus");
  test::ChildProcess daemon, monitor, notifier;
  std::string error;
  ASSERT_TRUE(daemon.Start(
      {"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address}, {}, &error))
      << "dbus-daemon (scripts/test installs it): " << error;
  ASSERT_TRUE(WaitUntil([&] { return test::FileExists(bus.File("bus")); }))
      << "dbus-daemon did not start";
  const std::string seen = bus.File("monitor.txt");
  ASSERT_TRUE(
      monitor.Start({"/bin/sh", "-c",
                     "exec dbus-monitor --address '" + address +
                         "' \"interface='org.freedesktop.Notifications'\" > '" + seen + "'"},
                    {}, &error))
      << error;
  const auto notifications = [&] { return Count(test::ReadFile(seen), "member=Notify"); };

  // No handheld: an ordinary sync ends before any window. With nothing on
  // the bus to show notifications, the toolkit's own small window says it.
  ASSERT_TRUE(p_.handheld().SetConnected(false, &error)) << error;
  std::vector<std::string> env = Env();
  env.insert(env.end(), {"DBUS_SESSION_BUS_ADDRESS=" + address, "HHSYNC_CONNECT_WAIT_MS=300"});
  test::ChildProcess run;
  ASSERT_TRUE(run.Start({HHSYNC_BIN}, env, &error)) << error;
  EXPECT_FALSE(x_.WaitForWindow("^Notice$").empty()) << "no notification window";
  RunResult result;
  ASSERT_TRUE(run.Wait(30000, &result));
  EXPECT_EQ(result.exitCode, 5) << "no-handheld: " << result.err;

  // With a notification service on the bus, the timer's hourly run that is
  // not due tells nobody; the same run started by the user says it there.
  std::vector<std::string> serviceEnv = x_.Environment();
  serviceEnv.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
  ASSERT_TRUE(notifier.Start({"/usr/bin/dunst"}, serviceEnv, &error))
      << "dunst (scripts/test installs it): " << error;
  ASSERT_TRUE(WaitUntil([&] {
    return test::RunProcess({"/usr/bin/dbus-send", "--bus=" + address, "--print-reply",
                             "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.NameHasOwner",
                             "string:org.freedesktop.Notifications"})
               .out.find("boolean true") != std::string::npos;
  })) << "dunst did not take the notification service's name";
  const int before = notifications();
  ASSERT_TRUE(p_.handheld().SetConnected(true, &error)) << error;
  RegistryKey(desktop_, kReg).Set("tu", "24");
  desktop_.SetValue(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst",
                    RegValue::Dword(static_cast<uint32_t>(time(nullptr))));
  env.push_back("HHSYNC_STARTED_BY=timer");
  RunResult notDue = test::RunProcess({HHSYNC_BIN}, env);
  EXPECT_EQ(notDue.exitCode, 0);
  EXPECT_NE(notDue.err.find("hhsync: not-due: "), std::string::npos) << notDue.err;
  env.pop_back();
  RunResult byUser = test::RunProcess({HHSYNC_BIN}, env);
  EXPECT_NE(byUser.err.find("hhsync: not-due: "), std::string::npos) << byUser.err;
  WaitUntil([&] { return notifications() > before; });
  EXPECT_EQ(notifications(), before + 1) << "one for the user's run, none for the timer's";
  EXPECT_NE(test::ReadFile(seen).find("string \"not-due: "), std::string::npos)
      << test::ReadFile(seen);
}

}  // namespace
}  // namespace hhsync
