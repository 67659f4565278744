#include "platform/win32/win32_ui.h"

#include <windows.h>
//
#include <commctrl.h>
#include <wininet.h>

#include <cstring>
#include <vector>

#include "platform/win32/wininet_http.h"
#include "res/hhsync_ids.h"

// windows.h names the 8-bit call MessageBox too; the port's method keeps
// the name.
#undef MessageBox

namespace hhsync {
namespace {

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

// The progress controls need the common controls registered once.
void RegisterCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)done;
}

void ShowBar(HWND dialog, int id, const ProgressBar& bar) {
  HWND control = GetDlgItem(dialog, id);
  SendMessageA(control, PBM_SETRANGE32, 0, bar.range);
  SendMessageA(control, PBM_SETSTEP, static_cast<WPARAM>(bar.step), 0);
  SendMessageA(control, PBM_SETPOS, static_cast<WPARAM>(bar.position), 0);
}

void SetTextIfChanged(HWND window, const std::string& text) {
  char current[1024] = {};
  GetWindowTextA(window, current, sizeof current);
  if (text != current) SetWindowTextA(window, text.c_str());
}

// Takes every message waiting for this thread's windows, hands it to the
// dialog's keyboard handling first, and dispatches the rest.
void PumpWaiting(HWND dialog) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (dialog && IsDialogMessageA(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Waits at most waitMs for a message to this thread, then pumps.
void WaitAndPump(HWND dialog, int waitMs) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(waitMs), QS_ALLINPUT);
  PumpWaiting(dialog);
}

void CenterOnScreen(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The object a dialog procedure serves: handed over with WM_INITDIALOG and
// kept in the window's user data; null for messages that come before it.
template <typename T>
T* DialogObject(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrA(window, DWLP_USER));
}

// Whether a WM_COMMAND is the Cancel button or Escape.
bool IsCancel(WPARAM wParam) { return LOWORD(wParam) == IDC_CANCEL || LOWORD(wParam) == IDCANCEL; }

// A window's device context as a canvas: bitmaps are drawn with
// SetDIBitsToDevice, palettes selected and realised on the context. The
// palette the context had at first is put back when the canvas goes.
class GdiCanvas final : public Canvas {
 public:
  GdiCanvas(HDC dc, int width, int height) : dc_(dc), width_(width), height_(height) {}
  ~GdiCanvas() override {
    if (original_) ::SelectPalette(dc_, original_, FALSE);
    for (HPALETTE p : made_) DeleteObject(p);
  }

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool IsPaletteBased() const override {
    return (GetDeviceCaps(dc_, RASTERCAPS) & RC_PALETTE) != 0;
  }

  std::vector<Rgb> SelectPalette(const std::vector<Rgb>& palette) override {
    std::vector<Rgb> before = current_;
    HPALETTE handle = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    if (!palette.empty()) {
      std::vector<BYTE> storage(sizeof(LOGPALETTE) + palette.size() * sizeof(PALETTEENTRY));
      auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
      log->palVersion = 0x300;
      log->palNumEntries = static_cast<WORD>(palette.size());
      for (std::size_t i = 0; i < palette.size(); ++i) {
        log->palPalEntry[i] = PALETTEENTRY{palette[i].red, palette[i].green, palette[i].blue, 0};
      }
      handle = CreatePalette(log);
      if (!handle) return before;
      made_.push_back(handle);
    }
    HPALETTE previous = ::SelectPalette(dc_, handle, FALSE);
    if (!original_) original_ = previous;
    RealizePalette(dc_);
    current_ = palette;
    return before;
  }

  bool Blit(int x, int y, int width, int height, std::span<const Rgb> pixels) override {
    if (width < 0 || height < 0 ||
        pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
      return false;
    }
    if (width == 0 || height == 0) return true;
    std::vector<RGBQUAD> bits(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < bits.size(); ++i) {
      bits[i] = RGBQUAD{pixels[i].blue, pixels[i].green, pixels[i].red, 0};
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc_, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
    return true;
  }

 private:
  HDC dc_;
  int width_;
  int height_;
  HPALETTE original_ = nullptr;
  std::vector<HPALETTE> made_;
  std::vector<Rgb> current_;
};

// The progress dialog's window (resource 102), redrawn from the model
// whenever its revision moves.
class ProgressWindow final : public DialogWindow {
 public:
  explicit ProgressWindow(ProgressWindowModel& model) : model_(model) {
    RegisterCommonControls();
    window_ = CreateDialogParamA(Module(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, &Proc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_) model_.OnInitDialog();  // the model initialises whatever is drawn
  }
  ~ProgressWindow() override {
    if (window_) DestroyWindow(window_);
  }

  void Pump(int waitMs) override {
    WaitAndPump(window_, waitMs);
    Refresh();
  }

  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogObject<ProgressWindow>(window, message, lParam);
    if (!self) return FALSE;
    switch (message) {
      case WM_INITDIALOG:
        self->window_ = window;
        self->model_.OnInitDialog();
        self->Refresh();
        CenterOnScreen(window);
        return TRUE;
      case WM_COMMAND:
        if (IsCancel(wParam)) {
          self->model_.OnCancel();
          ShowWindow(window, SW_HIDE);
          return TRUE;
        }
        return FALSE;
      case WM_RBUTTONDBLCLK:
        self->model_.OnRightDoubleClick(static_cast<short>(HIWORD(lParam)));
        self->Refresh();
        return FALSE;  // the default handling follows
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        GdiCanvas canvas(dc, client.right, client.bottom);
        self->model_.Paint(canvas, client.right);
        EndPaint(window, &paint);
        return TRUE;
      }
      default:
        return FALSE;
    }
  }

  void Refresh() {
    if (!window_) return;
    const uint64_t revision = model_.Revision();
    if (drawn_ && revision == revision_) return;
    const ProgressWindowModel::View view = model_.Snapshot();
    SetTextIfChanged(window_, view.title);
    SetTextIfChanged(GetDlgItem(window_, IDC_STATUS), view.status);
    HWND version = GetDlgItem(window_, IDC_VERSION);
    SetTextIfChanged(version, view.versionLine);
    ShowWindow(version, view.versionShown ? SW_SHOW : SW_HIDE);
    ShowBar(window_, IDC_PHASE_BAR, view.upper);
    ShowBar(window_, IDC_DETAIL_BAR, view.lower);
    if (!drawn_) InvalidateRect(window_, nullptr, TRUE);
    drawn_ = true;
    revision_ = revision;
  }

  ProgressWindowModel& model_;
  HWND window_ = nullptr;
  bool drawn_ = false;
  uint64_t revision_ = 0;
};

// The first-run wait dialog's window (resource 152).
class WaitWindow final : public DialogWindow {
 public:
  explicit WaitWindow(WaitWindowModel& model) : model_(model) {
    RegisterCommonControls();
    window_ = CreateDialogParamA(Module(), MAKEINTRESOURCEA(IDD_INSTALL_WAIT), nullptr, &Proc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_) model_.OnInitDialog();
  }
  ~WaitWindow() override {
    if (window_) DestroyWindow(window_);
  }

  void Pump(int waitMs) override {
    WaitAndPump(window_, waitMs);
    Refresh();
  }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogObject<WaitWindow>(window, message, lParam);
    if (!self) return FALSE;
    if (message == WM_INITDIALOG) {
      self->window_ = window;
      self->model_.OnInitDialog();
      self->Refresh();
      return TRUE;
    }
    if (message == WM_COMMAND && IsCancel(wParam)) {
      self->model_.OnCancel();
      return TRUE;
    }
    return FALSE;
  }

  void Refresh() {
    if (!window_) return;
    const uint64_t revision = model_.Revision();
    if (drawn_ && revision == revision_) return;
    ShowBar(window_, IDC_DETAIL_BAR, model_.Bar());
    ShowWindow(window_, model_.IsShown() ? SW_SHOW : SW_HIDE);
    drawn_ = true;
    revision_ = revision;
  }

  WaitWindowModel& model_;
  HWND window_ = nullptr;
  bool drawn_ = false;
  uint64_t revision_ = 0;
};

INT_PTR CALLBACK FrequencyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* model = DialogObject<FrequencyDialogModel>(window, message, lParam);
  if (message == WM_INITDIALOG) {
    model->OnInit();
    SetWindowTextA(window, model->Title().c_str());
    HWND list = GetDlgItem(window, IDC_FREQUENCY);
    for (const std::string& choice : model->Choices()) {
      SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
    }
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(model->Selection()), 0);
    CenterOnScreen(window);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    const LRESULT selection = SendDlgItemMessageA(window, IDC_FREQUENCY, CB_GETCURSEL, 0, 0);
    model->OnOk(selection == CB_ERR ? -1 : static_cast<int>(selection));
    EndDialog(window, IDOK);
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(window, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

struct Credentials {
  std::string user;
  std::string password;
};

std::string ItemText(HWND window, int id) {
  char text[512] = {};
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

INT_PTR CALLBACK CredentialsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* out = DialogObject<Credentials>(window, message, lParam);
  if (message == WM_INITDIALOG) return TRUE;
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    out->user = ItemText(window, IDC_PROXY_USER);
    out->password = ItemText(window, IDC_PROXY_PASSWORD);
    EndDialog(window, IDOK);
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(window, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

// A text option of a WinINet handle; empty when it has none.
std::string RequestOption(HINTERNET handle, DWORD option) {
  char text[512] = {};
  DWORD size = sizeof text;
  if (!InternetQueryOptionA(handle, option, text, &size)) return "";
  return std::string(text, strnlen(text, sizeof text));
}

UINT BoxFlags(const MessageBoxStyle& style) {
  UINT flags = MB_SETFOREGROUND;
  switch (style.buttons) {
    case MbButtons::kOk:
      flags |= MB_OK;
      break;
    case MbButtons::kOkCancel:
      flags |= MB_OKCANCEL;
      break;
    case MbButtons::kYesNo:
      flags |= MB_YESNO;
      break;
    case MbButtons::kRetryCancel:
      flags |= MB_RETRYCANCEL;
      break;
  }
  if (style.icon == MbIcon::kStop) flags |= MB_ICONSTOP;
  flags |= style.systemModal ? MB_SYSTEMMODAL : MB_TASKMODAL;
  return flags;
}

}  // namespace

Win32Ui::Win32Ui(std::string caption) : caption_(std::move(caption)) {}

MbAnswer Win32Ui::MessageBox(std::string_view text, const MessageBoxStyle& style) {
  const std::string body(text);
  switch (MessageBoxA(nullptr, body.c_str(), caption_.c_str(), BoxFlags(style))) {
    case IDOK:
      return MbAnswer::kOk;
    case IDRETRY:
      return MbAnswer::kRetry;
    case IDYES:
      return MbAnswer::kYes;
    case IDNO:
      return MbAnswer::kNo;
    case IDCANCEL:
      return MbAnswer::kCancel;
    default:
      // The box could not be shown: the answer nobody gave.
      return DefaultAnswer(style.buttons);
  }
}

int Win32Ui::AskProxyCredentials(std::string* user, std::string* password) {
  // The internet client's own dialog for the request the proxy refused; it
  // stores what the user typed on that request, from where it is read back
  // for the next one.
  if (HINTERNET request = static_cast<HINTERNET>(ProxyRefusedRequest())) {
    const DWORD answer =
        InternetErrorDlg(GetDesktopWindow(), request, ERROR_INTERNET_INCORRECT_PASSWORD,
                         FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                             FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                         nullptr);
    if (answer != ERROR_INTERNET_FORCE_RETRY) return static_cast<int>(answer);
    *user = RequestOption(request, INTERNET_OPTION_PROXY_USERNAME);
    *password = RequestOption(request, INTERNET_OPTION_PROXY_PASSWORD);
    return kErrorInternetForceRetry;
  }
  Credentials given;
  const INT_PTR answer = DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_PROXY_CREDENTIALS), nullptr,
                                         &CredentialsProc, reinterpret_cast<LPARAM>(&given));
  if (answer != IDOK) return kErrorCancelled;
  *user = given.user;
  *password = given.password;
  return kErrorInternetForceRetry;
}

void Win32Ui::RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) {
  RegisterCommonControls();
  DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_UPDATE_FREQUENCY), nullptr, &FrequencyProc,
                  reinterpret_cast<LPARAM>(&dialog));
}

std::unique_ptr<DialogWindow> Win32Ui::CreateProgressWindow(ProgressWindowModel& dialog) {
  return std::make_unique<ProgressWindow>(dialog);
}

std::unique_ptr<DialogWindow> Win32Ui::CreateWaitWindow(WaitWindowModel& dialog) {
  return std::make_unique<WaitWindow>(dialog);
}

}  // namespace hhsync
