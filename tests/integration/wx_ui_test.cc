// The wx front end in this process, on an X server of the test's own: the
// GUI thread and its hand-over, the windows over their models, and what the
// user does to them (keys and clicks sent with xdotool).

#include "platform/wx/wx_ui.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "app/dialogs/dialog_threads.h"
#include "app/dialogs/progress_dialog.h"
#include "app/dialogs/update_frequency_dialog.h"
#include "extras/sync_log.h"
#include "support/bmp.h"
#include "support/test_platform.h"
#include "support/xvfb.h"

// Writes to the environment made on threads other than the test's own
// while watched: the toolkit's start must make none, because the run's
// threads read the environment meanwhile (a getenv, a spawn), and a write
// may move the whole table under them.
namespace {
std::mutex g_writesMu;
bool g_watching = false;
std::thread::id g_watcher;
std::vector<std::string> g_writes;

void NoteWrite(const char* what, const char* name) {
  std::lock_guard<std::mutex> l(g_writesMu);
  if (g_watching && std::this_thread::get_id() != g_watcher) {
    g_writes.push_back(std::string(what) + " " + (name ? name : ""));
  }
}

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int setenv(const char* name, const char* value, int overwrite) {
  NoteWrite("setenv", name);
  return Real<int (*)(const char*, const char*, int)>("setenv")(name, value, overwrite);
}
extern "C" int unsetenv(const char* name) {
  // Removing what is not there changes nothing.
  if (getenv(name) != nullptr) NoteWrite("unsetenv", name);
  return Real<int (*)(const char*)>("unsetenv")(name);
}
extern "C" int putenv(char* item) {
  NoteWrite("putenv", item);
  return Real<int (*)(char*)>("putenv")(item);
}

namespace hhsync {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCaption = "wxtest";

class WxUiTest : public ::testing::Test {
 protected:
  // One X server and one front end for the whole suite: the toolkit starts
  // once a process.
  static void SetUpTestSuite() {
    x_ = new test::XvfbProcess;
    if (!x_->Start(&error_)) return;
    for (const std::string& item : x_->Environment()) {
      const auto eq = item.find('=');
      setenv(item.substr(0, eq).c_str(), item.substr(eq + 1).c_str(), 1);
    }
    // As a launch from a desktop leaves it: what the toolkit would change.
    unsetenv("G_FILENAME_ENCODING");
    setenv("DESKTOP_STARTUP_ID", "wxtest_TIME0", 1);
    ui_ = new WxUi(kCaption);
  }
  static void TearDownTestSuite() {
    delete ui_;  // ends the GUI thread while the X server is still there
    ui_ = nullptr;
    delete x_;
    x_ = nullptr;
  }
  void SetUp() override {
    if (ui_ == nullptr) GTEST_SKIP() << "no X server for the windows: " << error_;
  }

  static test::XvfbProcess* x_;
  static WxUi* ui_;
  static std::string error_;
};

test::XvfbProcess* WxUiTest::x_ = nullptr;
WxUi* WxUiTest::ui_ = nullptr;
std::string WxUiTest::error_;

// First in the suite, so that its window starts the toolkit also when the
// whole suite runs in one process.
TEST_F(WxUiTest, TheToolkitStartsWithoutWritingTheEnvironment) {
  {
    std::lock_guard<std::mutex> l(g_writesMu);
    g_watching = true;
    g_watcher = std::this_thread::get_id();
  }
  auto answer = std::async(std::launch::async, [] {
    return ui_->MessageBox("Started", {MbButtons::kOk, MbIcon::kNone, false});
  });
  const std::string box = x_->WaitForWindow("^wxtest$");
  ASSERT_FALSE(box.empty());
  ASSERT_TRUE(x_->PressKeys(box, {"Return"}));
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  std::lock_guard<std::mutex> l(g_writesMu);
  g_watching = false;
  EXPECT_EQ(g_writes, std::vector<std::string>{});
}

TEST_F(WxUiTest, MessageBoxesFromSeveralThreadsEachWaitForTheirOwnAnswer) {
  auto retry = std::async(std::launch::async, [] {
    return ui_->MessageBox("Unable to open database",
                           {MbButtons::kRetryCancel, MbIcon::kNone, true});
  });
  auto yesNo = std::async(std::launch::async, [] {
    return ui_->MessageBox("DB Problem", {MbButtons::kYesNo, MbIcon::kStop, false});
  });
  // Both boxes are up at once, each blocking its own caller.
  std::vector<std::string> boxes;
  for (int i = 0; i < 200 && boxes.size() < 2; ++i) {
    boxes = x_->Windows("^wxtest$");
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(retry.wait_for(300ms), std::future_status::timeout);
  EXPECT_EQ(yesNo.wait_for(0ms), std::future_status::timeout);

  // They are answered in any order. Return presses a box's first button,
  // Tab moves to the second one.
  ASSERT_TRUE(x_->PressKeys(boxes[1], {"Tab", "Return"}));
  for (int i = 0; i < 200 && x_->Windows("^wxtest$").size() != 1; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(x_->Windows("^wxtest$"), std::vector<std::string>{boxes[0]});
  ASSERT_TRUE(x_->PressKeys(boxes[0], {"Return"}));
  ASSERT_EQ(retry.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(yesNo.wait_for(10s), std::future_status::ready);
  // Which box was found first is up to the X server; one took the first
  // button and the other the second.
  const std::set<std::pair<MbAnswer, MbAnswer>> possible = {{MbAnswer::kRetry, MbAnswer::kNo},
                                                            {MbAnswer::kCancel, MbAnswer::kYes}};
  EXPECT_EQ(possible.count({retry.get(), yesNo.get()}), 1u);
}

TEST_F(WxUiTest, ClosingABoxGivesItsDefaultAnswer) {
  for (const MbButtons buttons : {MbButtons::kOk, MbButtons::kOkCancel, MbButtons::kYesNo}) {
    auto answer = std::async(std::launch::async, [buttons] {
      return ui_->MessageBox("Closing it", {buttons, MbIcon::kNone, false});
    });
    const std::string box = x_->WaitForWindow("^wxtest$");
    ASSERT_FALSE(box.empty());
    ASSERT_TRUE(x_->PressKeys(box, {"Escape"}));
    ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(answer.get(), DefaultAnswer(buttons));
    ASSERT_TRUE(x_->WaitUntilNoWindow("^wxtest$"));
  }
}

TEST_F(WxUiTest, CredentialsPromptGivesWhatWasTyped) {
  std::string user, password;
  auto result =
      std::async(std::launch::async, [&] { return ui_->AskProxyCredentials(&user, &password); });
  std::string prompt = x_->WaitForWindow("^wxtest$");
  ASSERT_FALSE(prompt.empty());
  ASSERT_TRUE(x_->Type(prompt, "alice"));
  ASSERT_TRUE(x_->PressKeys(prompt, {"Tab"}));
  ASSERT_TRUE(x_->Type(prompt, "s3cret"));
  ASSERT_TRUE(x_->PressKeys(prompt, {"Return"}));
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(result.get(), kErrorInternetForceRetry);
  EXPECT_EQ(user, "alice");
  EXPECT_EQ(password, "s3cret");

  ASSERT_TRUE(x_->WaitUntilNoWindow("^wxtest$"));
  auto cancelled =
      std::async(std::launch::async, [&] { return ui_->AskProxyCredentials(&user, &password); });
  prompt = x_->WaitForWindow("^wxtest$");
  ASSERT_FALSE(prompt.empty());
  ASSERT_TRUE(x_->PressKeys(prompt, {"Escape"}));
  ASSERT_EQ(cancelled.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(cancelled.get(), kErrorCancelled);
}

TEST_F(WxUiTest, UpdateFrequencyDialogRunsModallyAndEnterConfirmsButEscapeDoesNot) {
  UpdateFrequencyDialog dialog("Acme", 500);
  auto done = std::async(std::launch::async, [&] { ui_->RunUpdateFrequencyDialog(dialog); });
  const std::string window = x_->WaitForWindow("^Acme Server Link$");
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(done.wait_for(300ms), std::future_status::timeout) << "modal: the caller waits";
  ASSERT_TRUE(x_->PressKeys(window, {"KP_Enter"}));
  ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(dialog.Hours(), 168) << "500 hours shows as Once a week";
  EXPECT_TRUE(dialog.accepted());

  // Escape closes it without OK: the hours stay as they were.
  ASSERT_TRUE(x_->WaitUntilNoWindow("^Acme Server Link$"));
  UpdateFrequencyDialog closed("Acme", 200);
  auto escaped = std::async(std::launch::async, [&] { ui_->RunUpdateFrequencyDialog(closed); });
  const std::string again = x_->WaitForWindow("^Acme Server Link$");
  ASSERT_FALSE(again.empty());
  ASSERT_TRUE(x_->PressKeys(again, {"Escape"}));
  ASSERT_EQ(escaped.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(closed.accepted());
  EXPECT_EQ(closed.Hours(), 200);
}

TEST_F(WxUiTest, ProgressWindowDrawsABurstOfChangesAtMostOnceAFrame) {
  test::TestPlatform p;
  ProgressDialog dialog(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kAsSwitched,
                        ProgressDialog::Logo::kShown, "Software\\Acme\\");
  // The window on its dialog thread, as a run has it.
  ProgressDialogThread thread(*ui_, dialog);
  thread.Start();
  ASSERT_FALSE(x_->WaitForWindow("^Acme Server Link$").empty());
  std::this_thread::sleep_for(100ms);
  const int64_t before = ui_->WindowUpdates();

  // Half a second of changes as fast as the run's thread can make them:
  // the window follows while they come, at most once a frame.
  const auto start = std::chrono::steady_clock::now();
  int changes = 0;
  while (std::chrono::steady_clock::now() - start < 500ms) {
    dialog.SetDetail(changes % 100, 100);
    dialog.StepDetail();
    if (changes % 1000 == 0) dialog.SetStatus("Updating " + std::to_string(changes), 1);
    ++changes;
  }
  std::this_thread::sleep_for(100ms);
  const int64_t drawn = ui_->WindowUpdates() - before;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_GE(changes, 10000) << "the changes waited for something";
  EXPECT_GE(drawn, 2) << "drawn while the changes came, not only after";
  EXPECT_LE(drawn, ms / ChangeSignal::kFrameMs + 3) << changes << " changes in " << ms << " ms";

  // Nothing changes, nothing is drawn.
  const int64_t settled = ui_->WindowUpdates();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(ui_->WindowUpdates(), settled);

  thread.Stop();
  EXPECT_TRUE(thread.done());
  EXPECT_TRUE(x_->WaitUntilNoWindow("^Acme Server Link$"));
}

TEST_F(WxUiTest, RightDoubleClicksToggleTheVersionLineAndLogging) {
  test::TestPlatform p;
  const std::vector<uint8_t> main = test::Solid24(60, 40, 10, 200, 30).Bytes();
  ProgressDialog dialog(p.progressDesktop(), &main, "Acme", ProgressDialog::Log::kAsSwitched,
                        ProgressDialog::Logo::kHidden, "Software\\Acme\\");
  ProgressDialogThread thread(*ui_, dialog);
  thread.Start();
  const std::string id = x_->WaitForWindow("^Acme Server Link$");
  ASSERT_FALSE(id.empty());

  // Below the bitmap (40 + 7 on): the version line.
  ASSERT_TRUE(x_->DoubleClick(id, 20, 100, 3));
  for (int i = 0; i < 100 && !dialog.Snapshot().versionShown; ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(dialog.Snapshot().versionShown);
  // On the bitmap: logging.
  ASSERT_TRUE(x_->DoubleClick(id, 20, 20, 3));
  EXPECT_FALSE(x_->WaitForWindow("^Logging turned on$", 5000).empty());
  EXPECT_TRUE(dialog.HasLog());
  EXPECT_TRUE(dialog.Snapshot().versionShown);

  // Escape is Cancel: the model stops running and the window hides.
  ASSERT_TRUE(x_->PressKeys(id, {"Escape"}));
  EXPECT_TRUE(x_->WaitUntilNoWindow("^Logging turned on$"));
  EXPECT_FALSE(dialog.IsRunning());
}

TEST_F(WxUiTest, WaitWindowShowsOnlyWhileItsModelSaysSoAndCancelMarksItDone) {
  InstallWaitDialog dialog;
  WaitDialogThread thread(*ui_, dialog);
  thread.Start();
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(x_->Windows("^Please Wait$").empty()) << "not shown before the run shows it";
  dialog.SetShown(true);
  const std::string id = x_->WaitForWindow("^Please Wait$", 5000);
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(dialog.Bar().range, 30);
  dialog.SetShown(false);
  EXPECT_TRUE(x_->WaitUntilNoWindow("^Please Wait$"));
  dialog.SetShown(true);
  ASSERT_EQ(x_->WaitForWindow("^Please Wait$", 5000), id);

  // Cancel only marks the dialog done; its thread then closes the window.
  ASSERT_TRUE(x_->PressKeys(id, {"Escape"}));
  for (int i = 0; i < 100 && !dialog.IsDone(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(dialog.IsDone());
  EXPECT_TRUE(x_->WaitUntilNoWindow("^Please Wait$"));
  thread.End();
}

TEST_F(WxUiTest, ABoxAskedForWhileTheWindowHandlesAClickIsShownThere) {
  // Switching logging on opens the log; when another holds it, the box that
  // says so comes from the GUI thread itself, in the middle of the click.
  test::TestPlatform p;
  Ports ports = p.ports();
  ports.prompter = ui_;
  ports.dialogs = ui_;
  SyncLog holder(*ports.paths, *ports.clock, *ports.prompter);
  ASSERT_FALSE(holder.openFailed());
  const std::vector<uint8_t> main = test::Solid24(60, 40, 10, 200, 30).Bytes();
  ProgressDialog dialog({p.registry(), *ports.paths, p.clock(), *ui_}, &main, "Acme",
                        ProgressDialog::Log::kAsSwitched, ProgressDialog::Logo::kShown,
                        "Software\\Acme\\");
  ProgressDialogThread thread(*ui_, dialog);
  thread.Start();
  const std::string id = x_->WaitForWindow("^Acme Server Link$");
  ASSERT_FALSE(id.empty());

  ASSERT_TRUE(x_->DoubleClick(id, 30, 20, 3));
  const std::string box = x_->WaitForWindow("^wxtest$", 5000);
  ASSERT_FALSE(box.empty()) << "Unable to open log file.";
  ASSERT_TRUE(x_->PressKeys(box, {"Return"}));
  EXPECT_FALSE(x_->WaitForWindow("^Logging turned on$", 5000).empty());
  EXPECT_FALSE(dialog.HasLog()) << "a log that could not be opened is not kept";

  // The GUI thread goes on as before.
  dialog.SetStatus("still here", 1);
  auto answer = std::async(std::launch::async, [] { return ui_->MessageBox("next", {}); });
  const std::string next = x_->WaitForWindow("^wxtest$", 5000);
  ASSERT_FALSE(next.empty());
  ASSERT_TRUE(x_->PressKeys(next, {"Return"}));
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(answer.get(), MbAnswer::kOk);
}

}  // namespace
}  // namespace hhsync
