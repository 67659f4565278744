#include "platform/win32/win32_ui.h"

#include <windows.h>
//
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "res/hhsync_ids.h"

#undef MessageBox  // the port's method, not the windows.h macro

namespace hhsync {
namespace {

// The dialog models as small working objects that record what the window
// did to them.
class TestProgressModel final : public ProgressWindowModel {
 public:
  void OnInitDialog() override {
    ++inits;
    view.title = "Zavrik Server Link";
    Bump();
  }
  void OnCancel() override {
    view.running = false;
    Bump();
  }
  void OnRightDoubleClick(int y) override {
    clickedAt = y;
    view.versionShown = !view.versionShown;
    Bump();
  }
  View Snapshot() const override { return view; }
  void Paint(Canvas&, int clientWidth) const override { paintedWidth = clientWidth; }
  int MainBitmapHeight() const override { return 0; }
  uint64_t Revision() const override { return revision; }
  void WaitForChange(uint64_t, int) const override {}

  void Bump() { ++revision; }

  View view;
  std::atomic<uint64_t> revision{1};
  int inits = 0;
  int clickedAt = -1;
  mutable int paintedWidth = -1;
};

// The top-level dialog window with the given title once it shows (its
// controls are set up by then), waited for up to five seconds.
HWND WaitForDialog(const char* title) {
  for (int i = 0; i < 100; ++i, Sleep(50)) {
    HWND window = FindWindowA("#32770", title);
    if (window && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

std::string Text(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

TEST(Win32UiTest, ProgressWindowShowsTheModelAndFeedsBackTheUser) {
  Win32Ui ui("hhsync");
  TestProgressModel model;
  model.view.status = "Connecting";
  model.view.versionLine = "Version 2.86 build 67";
  model.view.upper.SetRange(7);
  model.view.upper.SetPosition(2);
  model.view.lower.step = 1;
  auto window = ui.CreateProgressWindow(model);
  EXPECT_EQ(model.inits, 1);
  window->Pump(0);
  HWND dialog = FindWindowA("#32770", "Zavrik Server Link");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_STATUS)), "Connecting");
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_VERSION)));
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PHASE_BAR, PBM_GETRANGE, FALSE, 0), 7);
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PHASE_BAR, PBM_GETPOS, 0, 0), 2);

  model.view.status = "Getting profile";
  model.view.lower.SetRange(40);
  model.view.lower.SetPosition(13);
  model.Bump();
  window->Pump(0);
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_STATUS)), "Getting profile");
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_DETAIL_BAR, PBM_GETPOS, 0, 0), 13);

  // A right double-click reaches the model with its height; the version
  // line follows the model.
  PostMessageA(dialog, WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(20, 140));
  window->Pump(0);
  EXPECT_EQ(model.clickedAt, 140);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_VERSION)));
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_VERSION)), "Version 2.86 build 67");

  UpdateWindow(dialog);
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_GT(model.paintedWidth, 0);

  // Cancel ends the model's run and hides the window.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
  window->Pump(0);
  EXPECT_FALSE(model.view.running);
  EXPECT_FALSE(IsWindowVisible(dialog));
  window.reset();
  EXPECT_FALSE(IsWindow(dialog));
}

TEST(Win32UiTest, MessageBoxesCarryTheCaptionAndReturnTheButtonPressed) {
  Win32Ui ui("hhsync");
  const struct {
    MbButtons buttons;
    int pressed;
    MbAnswer answer;
  } boxes[] = {{MbButtons::kRetryCancel, IDRETRY, MbAnswer::kRetry},
               {MbButtons::kRetryCancel, IDCANCEL, MbAnswer::kCancel},
               {MbButtons::kYesNo, IDYES, MbAnswer::kYes},
               {MbButtons::kYesNo, IDNO, MbAnswer::kNo},
               {MbButtons::kOkCancel, IDOK, MbAnswer::kOk}};
  for (const auto& box : boxes) {
    std::thread user([&] {
      if (HWND window = WaitForDialog("hhsync")) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(box.pressed, BN_CLICKED), 0);
      }
    });
    EXPECT_EQ(ui.MessageBox("Sync again?", MessageBoxStyle{box.buttons, MbIcon::kStop, false}),
              box.answer)
        << box.pressed;
    user.join();
  }
}

TEST(Win32UiTest, ProxyCredentialsAreAskedForInTheProgramsDialog) {
  Win32Ui ui("hhsync");
  for (int pressed : {IDOK, IDCANCEL}) {
    std::thread user([pressed] {
      if (HWND dialog = WaitForDialog("Proxy Authentication")) {
        SetDlgItemTextA(dialog, IDC_PROXY_USER, "alice");
        SetDlgItemTextA(dialog, IDC_PROXY_PASSWORD, "s3cret");
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(pressed, BN_CLICKED), 0);
      }
    });
    std::string name, password;
    EXPECT_EQ(ui.AskProxyCredentials(&name, &password),
              pressed == IDOK ? kErrorInternetForceRetry : kErrorCancelled);
    user.join();
    EXPECT_EQ(name + ":" + password, pressed == IDOK ? "alice:s3cret" : ":");
  }
}

}  // namespace
}  // namespace hhsync
