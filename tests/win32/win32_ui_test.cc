#include "platform/win32/win32_ui.h"

#include <windows.h>
//
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "loopback_server.h"
#include "platform/win32/wininet_http.h"
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
  void Paint(Canvas& canvas, int clientWidth) const override {
    paintedWidth = clientWidth;
    const std::vector<Rgb> red(4, Rgb{255, 0, 0});
    canvas.Blit(0, 0, 2, 2, red);
  }
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

class TestFrequencyModel final : public FrequencyDialogModel {
 public:
  void OnInit() override { ++inits; }
  void OnOk(int selection) override { chosen = selection; }
  std::string Title() const override { return "Zavrik Server Link"; }
  int Selection() const override { return 1; }
  std::vector<std::string> Choices() const override {
    return {"Every Sync", "Once a day", "Once a week", "Once a month"};
  }
  int inits = 0;
  int chosen = -2;
};

// The top-level dialog window of this process with the given title, waited
// for up to five seconds.
HWND WaitForDialog(const char* title) {
  for (int i = 0; i < 100; ++i) {
    if (HWND window = FindWindowA("#32770", title)) return window;
    Sleep(50);
  }
  return nullptr;
}

std::string Text(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// A control's rectangle in dialog units of its dialog, as the template
// gives it.
RECT InDialogUnits(HWND dialog, int id) {
  RECT control;
  GetWindowRect(GetDlgItem(dialog, id), &control);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&control), 2);
  RECT unit{0, 0, 4, 8};
  MapDialogRect(dialog, &unit);
  return RECT{MulDiv(control.left, 4, unit.right), MulDiv(control.top, 8, unit.bottom),
              MulDiv(control.right - control.left, 4, unit.right),
              MulDiv(control.bottom - control.top, 8, unit.bottom)};
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
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_CANCEL)), "Cancel");

  // The layout of the template.
  const RECT status = InDialogUnits(dialog, IDC_STATUS);
  EXPECT_NEAR(status.left, 7, 1);
  EXPECT_NEAR(status.top, 162, 1);
  EXPECT_NEAR(status.right, 186, 1);
  const RECT cancel = InDialogUnits(dialog, IDC_CANCEL);
  EXPECT_NEAR(cancel.left, 73, 1);
  EXPECT_NEAR(cancel.top, 202, 1);

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

TEST(Win32UiTest, UpdateFrequencyDialogReportsTheChosenEntry) {
  Win32Ui ui("hhsync");
  TestFrequencyModel model;
  std::atomic<int> shownSelection{-5};
  std::atomic<int> entries{0};
  std::thread user([&] {
    HWND dialog = WaitForDialog("Zavrik Server Link");
    if (!dialog) return;
    entries = static_cast<int>(SendDlgItemMessageA(dialog, IDC_FREQUENCY, CB_GETCOUNT, 0, 0));
    shownSelection =
        static_cast<int>(SendDlgItemMessageA(dialog, IDC_FREQUENCY, CB_GETCURSEL, 0, 0));
    SendDlgItemMessageA(dialog, IDC_FREQUENCY, CB_SETCURSEL, 3, 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  ui.RunUpdateFrequencyDialog(model);
  user.join();
  EXPECT_EQ(model.inits, 1);
  EXPECT_EQ(entries.load(), 4);
  EXPECT_EQ(shownSelection.load(), 1);
  EXPECT_EQ(model.chosen, 3);
}

TEST(Win32UiTest, MessageBoxCarriesTheCaptionAndReturnsTheButton) {
  Win32Ui ui("hhsync");
  std::thread user([] {
    HWND box = WaitForDialog("hhsync");
    if (box) PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDRETRY, BN_CLICKED), 0);
  });
  const MbAnswer answer =
      ui.MessageBox("Could not connect, please sync again.",
                    MessageBoxStyle{MbButtons::kRetryCancel, MbIcon::kStop, false});
  user.join();
  EXPECT_EQ(answer, MbAnswer::kRetry);
}

TEST(Win32UiTest, ProxyCredentialsAreAskedForInADialog) {
  Win32Ui ui("hhsync");
  std::thread user([] {
    HWND dialog = WaitForDialog("Proxy Authentication");
    if (!dialog) return;
    SetDlgItemTextA(dialog, IDC_PROXY_USER, "alice");
    SetDlgItemTextA(dialog, IDC_PROXY_PASSWORD, "s3cret");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  std::string user_name, password;
  EXPECT_EQ(ui.AskProxyCredentials(&user_name, &password), kErrorInternetForceRetry);
  user.join();
  EXPECT_EQ(user_name, "alice");
  EXPECT_EQ(password, "s3cret");

  std::thread cancel([] {
    HWND dialog = WaitForDialog("Proxy Authentication");
    if (dialog) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  EXPECT_EQ(ui.AskProxyCredentials(&user_name, &password), kErrorCancelled);
  cancel.join();
}

// The first edit control of a window, and the one after it.
struct Edits {
  HWND first = nullptr;
  HWND second = nullptr;
};

BOOL CALLBACK CollectEdit(HWND child, LPARAM out) {
  char name[32] = {};
  GetClassNameA(child, name, sizeof name);
  auto* edits = reinterpret_cast<Edits*>(out);
  if (lstrcmpiA(name, "Edit") == 0) {
    if (!edits->first) {
      edits->first = child;
    } else if (!edits->second) {
      edits->second = child;
    }
  }
  return TRUE;
}

struct FoundDialog {
  DWORD process;
  HWND dialog = nullptr;
};

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM out) {
  auto* found = reinterpret_cast<FoundDialog*>(out);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[32] = {};
  GetClassNameA(window, name, sizeof name);
  if (process == found->process && IsWindowVisible(window) && lstrcmpA(name, "#32770") == 0) {
    found->dialog = window;
    return FALSE;
  }
  return TRUE;
}

TEST(Win32UiTest, AProxysRefusalIsAnsweredWithTheInternetClientsDialog) {
  win32_test::LoopbackServer proxy(
      "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"acme\"\r\n"
      "Content-Length: 0\r\n\r\n");
  WinInetHttp http;
  ASSERT_TRUE(http.Initialise());
  HttpSessionOptions options;
  options.viaProxy = true;
  options.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  auto session = http.OpenSession(options);
  ASSERT_TRUE(session);
  auto request =
      session->OpenRequest("GET", "content.invalid", 80, "/z/update/profile", "HTTP/1.0");
  ASSERT_TRUE(request);
  HttpError error;
  ASSERT_TRUE(request->Send("", &error)) << error.message;
  ASSERT_EQ(request->StatusCode(), 407);
  EXPECT_NE(ProxyRefusedRequest(), nullptr);

  std::thread user([] {
    for (int i = 0; i < 100; ++i) {
      FoundDialog found{GetCurrentProcessId()};
      EnumWindows(&FindOwnDialog, reinterpret_cast<LPARAM>(&found));
      if (found.dialog) {
        Edits edits;
        EnumChildWindows(found.dialog, &CollectEdit, reinterpret_cast<LPARAM>(&edits));
        if (edits.first) SetWindowTextA(edits.first, "alice");
        if (edits.second) SetWindowTextA(edits.second, "s3cret");
        PostMessageA(found.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
      }
      Sleep(50);
    }
  });
  Win32Ui ui("hhsync");
  std::string name, password;
  EXPECT_EQ(ui.AskProxyCredentials(&name, &password), kErrorInternetForceRetry);
  user.join();
  EXPECT_EQ(name, "alice");
  EXPECT_EQ(password, "s3cret");
  request.reset();
  EXPECT_EQ(ProxyRefusedRequest(), nullptr);
}

}  // namespace
}  // namespace hhsync
