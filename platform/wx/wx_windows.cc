#include "platform/wx/wx_windows.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/region.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/wx/wx_canvas.h"

namespace hhsync {

namespace {

// The program's 8-bit text as the toolkit takes it.
wxString Text(std::string_view ansi) {
  std::string utf8 = AnsiToUtf8(ansi);
  utf8.erase(std::remove(utf8.begin(), utf8.end(), '\r'), utf8.end());
  return wxString::FromUTF8(utf8.data(), utf8.size());
}

// A red stop sign, for a theme without an error icon.
wxBitmap DrawnStopIcon(int size) {
  wxBitmap bitmap(size, size);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.Clear();
  dc.SetPen(wxPen(wxColour(128, 0, 0)));
  dc.SetBrush(wxBrush(wxColour(220, 0, 0)));
  dc.DrawCircle(size / 2, size / 2, size / 2 - 1);
  dc.SetPen(wxPen(*wxWHITE, std::max(2, size / 8)));
  const int a = size / 3, b = size - size / 3;
  dc.DrawLine(a, a, b, b);
  dc.DrawLine(a, b, b, a);
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

struct ButtonChoice {
  wxWindowID id;
  const char* label;
  MbAnswer answer;
};

std::vector<ButtonChoice> ButtonsOf(MbButtons buttons) {
  switch (buttons) {
    case MbButtons::kOk:
      return {{wxID_OK, "OK", MbAnswer::kOk}};
    case MbButtons::kOkCancel:
      return {{wxID_OK, "OK", MbAnswer::kOk}, {wxID_CANCEL, "Cancel", MbAnswer::kCancel}};
    case MbButtons::kYesNo:
      return {{wxID_YES, "Yes", MbAnswer::kYes}, {wxID_NO, "No", MbAnswer::kNo}};
    case MbButtons::kRetryCancel:
      return {{wxID_RETRY, "Retry", MbAnswer::kRetry}, {wxID_CANCEL, "Cancel", MbAnswer::kCancel}};
  }
  return {{wxID_OK, "OK", MbAnswer::kOk}};
}

// The Cancel button, Escape and a window manager's close all cancel; the
// window itself never closes on its own account.
void BindCancel(wxWindow& window, std::function<void()> cancel) {
  window.Bind(
      wxEVT_BUTTON, [cancel](wxCommandEvent&) { cancel(); }, wxID_CANCEL);
  window.Bind(wxEVT_CHAR_HOOK, [cancel](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
      cancel();
    } else {
      event.Skip();
    }
  });
  window.Bind(wxEVT_CLOSE_WINDOW, [cancel](wxCloseEvent& event) {
    if (event.CanVeto()) event.Veto();
    cancel();
  });
}

}  // namespace

ModelessWindow::ModelessWindow(const wxString& title, long style, std::atomic<int64_t>& updates)
    : wxDialog(nullptr, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, style),
      updates_(updates) {}

ProgressWindow::ProgressWindow(ProgressWindowModel& model, std::atomic<int64_t>& updates)
    : ModelessWindow(wxString(), wxCAPTION, updates), model_(model) {
  // A bordered, read-only field: the text can be selected and copied.
  version_ = new wxTextCtrl(this, 1011, wxString(), Dlu(7, 130), DluSize(121, 14),
                            wxTE_READONLY | wxBORDER_SIMPLE);
  version_->Hide();
  status_ = new wxStaticText(this, 1001, wxString(), Dlu(7, 162), DluSize(186, 12),
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  upper_ = new ProgressBarControl(this, 1003, Dlu(7, 175), DluSize(186, 10), true);
  lower_ = new ProgressBarControl(this, 1002, Dlu(7, 186), DluSize(186, 10), true);
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel", Dlu(73, 202), DluSize(50, 14));
  cancel->SetFocus();
  SetClientSize(DluSize(200, 223));

  Bind(wxEVT_PAINT, &ProgressWindow::OnPaint, this);
  Bind(wxEVT_RIGHT_DCLICK, &ProgressWindow::OnRightDoubleClick, this);
  BindCancel(*this, [this] { Cancel(); });

  BringUpToDate(true);
  CentreOnScreen();
}

void ProgressWindow::BringUpToDate(bool force) {
  if (!attached()) return;
  const uint64_t revision = model_.Revision();
  if (!force && revision == drawn_) return;
  drawn_ = revision;
  const ProgressWindowModel::View view = model_.Snapshot();
  CountUpdate();
  const wxString title = Text(view.title);
  if (GetTitle() != title) SetTitle(title);
  const wxString status = Text(view.status);
  if (status_->GetLabelText() != status) status_->SetLabelText(status);
  const wxString version = Text(view.versionLine);
  if (version_->GetValue() != version) version_->ChangeValue(version);
  if (version_->IsShown() != view.versionShown) version_->Show(view.versionShown);
  upper_->ShowBar(view.upper);
  lower_->ShowBar(view.lower);
  // A cancelled dialog ends the toolkit's way: its window is hidden.
  if (!view.running && IsShown()) Hide();
}

void ProgressWindow::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  if (!attached()) return;
  // What the model paints depends on the client width alone (its bitmaps
  // stay as they are while the window is open), so it is painted once per
  // size and kept: the bars' redraws, many a second, then cost a copy of
  // the part they change.
  const wxSize client = GetClientSize();
  if (!painted_.IsOk() || painted_.GetSize() != client) {
    const wxColour background = GetBackgroundColour();
    WxCanvas canvas(client.x, client.y,
                    Rgb{background.Red(), background.Green(), background.Blue()});
    model_.Paint(canvas, client.x);
    painted_ = wxBitmap(canvas.image());
  }
  // Only what needs it: a bar's redraw asks for the bar's rectangle.
  wxMemoryDC source;
  source.SelectObjectAsSource(painted_);
  for (wxRegionIterator part(GetUpdateRegion()); part; ++part) {
    const wxRect r = part.GetRect();
    dc.Blit(r.x, r.y, r.width, r.height, &source, r.x, r.y);
  }
}

void ProgressWindow::OnRightDoubleClick(wxMouseEvent& event) {
  if (attached()) {
    model_.OnRightDoubleClick(event.GetY());
    BringUpToDate(false);
  }
  event.Skip();
}

void ProgressWindow::Cancel() {
  if (!attached()) return;
  model_.OnCancel();
  BringUpToDate(false);
}

WaitWindow::WaitWindow(WaitWindowModel& model, std::atomic<int64_t>& updates)
    : ModelessWindow("Please Wait", wxCAPTION | wxSTAY_ON_TOP, updates), model_(model) {
  // At its natural width: the toolkit's font may need more than the 178
  // dialog units the layout gives it.
  new wxStaticText(this, wxID_ANY, "Please wait while the software is installed to your device.",
                   Dlu(22, 14));
  bar_ = new ProgressBarControl(this, 1002, Dlu(21, 27), DluSize(180, 14), false);
  auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel", Dlu(86, 48), DluSize(50, 14));
  cancel->SetFocus();
  SetClientSize(DluSize(223, 78));

  BindCancel(*this, [this] {
    if (attached()) model_.OnCancel();
  });

  CentreOnScreen();
  BringUpToDate(true);
}

void WaitWindow::BringUpToDate(bool force) {
  if (!attached()) return;
  const bool shown = model_.IsShown();
  if (shown != IsShown()) {
    if (shown) {
      CentreOnScreen();
      Show();
      Raise();
    } else {
      Hide();
    }
  }
  const uint64_t revision = model_.Revision();
  if (!force && revision == drawn_) return;
  drawn_ = revision;
  CountUpdate();
  bar_->ShowBar(model_.Bar());
}

void AskingWindow::EndModal(int code) {
  if (IsModal()) {
    wxDialog::EndModal(code);
    return;
  }
  SetReturnCode(code);
  Hide();
  if (auto closed = std::exchange(closed_, nullptr)) closed(code);
}

FrequencyDialog::FrequencyDialog(FrequencyDialogModel& model)
    : AskingWindow(nullptr, wxID_ANY, "Dialog", wxDefaultPosition, wxDefaultSize,
                   wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      model_(model) {
  model_.OnInit();
  SetTitle(Text(model_.Title()));
  auto dlu = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto dluSize = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  new wxStaticBox(this, wxID_ANY, "Update Frequency", dlu(7, 3), dluSize(172, 40));
  new wxStaticText(this, wxID_ANY, "Check for updates:", dlu(13, 21), dluSize(67, 8));
  wxArrayString choices;
  for (const std::string& c : model_.Choices()) choices.Add(Text(c));
  choice_ = new wxChoice(this, 1013, dlu(83, 19), wxSize(dluSize(81, 0).x, -1), choices);
  choice_->SetSelection(model_.Selection());
  auto* ok = new wxButton(this, wxID_OK, "OK", dlu(68, 73), dluSize(50, 14));
  ok->SetDefault();
  ok->SetFocus();
  SetClientSize(dluSize(186, 94));
  CentreOnScreen();

  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { Confirm(); }, wxID_OK);
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
      case WXK_RETURN:
      case WXK_NUMPAD_ENTER:
        Confirm();
        break;
      case WXK_ESCAPE:
        EndModal(wxID_CANCEL);
        break;
      default:
        event.Skip();
    }
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(wxID_CANCEL); });
}

void FrequencyDialog::Confirm() {
  model_.OnOk(choice_->GetSelection());
  EndModal(wxID_OK);
}

MessageWindow::MessageWindow(const std::string& caption, std::string_view text,
                             const MessageBoxStyle& style)
    : AskingWindow(
          nullptr, wxID_ANY, Text(caption), wxDefaultPosition, wxDefaultSize,
          wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | (style.systemModal ? wxSTAY_ON_TOP : 0)),
      answer_(DefaultAnswer(style.buttons)) {
  const int gap = ConvertDialogToPixels(wxSize(7, 0)).x;
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  if (style.icon == MbIcon::kStop) {
    wxBitmap icon = wxArtProvider::GetBitmap(wxART_ERROR, wxART_MESSAGE_BOX);
    if (!icon.IsOk()) icon = DrawnStopIcon(32);
    body->Add(new wxStaticBitmap(this, wxID_ANY, icon), 0, wxRIGHT | wxALIGN_TOP, gap * 2);
  }
  auto* label = new wxStaticText(this, wxID_ANY, wxString());
  label->SetLabelText(Text(text));
  label->Wrap(ConvertDialogToPixels(wxSize(250, 0)).x);
  body->Add(label, 1, wxALIGN_CENTER_VERTICAL);
  top->Add(body, 1, wxALL | wxEXPAND, gap * 2);

  auto* row = new wxBoxSizer(wxHORIZONTAL);
  bool first = true;
  for (const ButtonChoice& choice : ButtonsOf(style.buttons)) {
    auto* button = new wxButton(this, choice.id, choice.label);
    Bind(
        wxEVT_BUTTON, [this, answer = choice.answer](wxCommandEvent&) { Answer(answer); },
        choice.id);
    row->Add(button, 0, wxLEFT | wxRIGHT, gap / 2);
    if (first) {
      button->SetDefault();
      button->SetFocus();
      first = false;
    }
  }
  top->Add(row, 0, wxALIGN_CENTER | wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
  SetSizerAndFit(top);
  CentreOnScreen();

  // Escape and the close box close the box: its default answer.
  SetEscapeId(wxID_NONE);
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
      EndModal(wxID_CANCEL);
    } else {
      event.Skip();
    }
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(wxID_CANCEL); });
}

void MessageWindow::Answer(MbAnswer answer) {
  answer_ = answer;
  EndModal(wxID_OK);
}

CredentialsWindow::CredentialsWindow(const std::string& caption)
    : AskingWindow(nullptr, wxID_ANY, Text(caption), wxDefaultPosition, wxDefaultSize,
                   wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  const int gap = ConvertDialogToPixels(wxSize(7, 0)).x;
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(new wxStaticText(this, wxID_ANY, "The proxy server needs a user name and password."), 0,
           wxALL, gap * 2);
  auto* grid = new wxFlexGridSizer(2, gap, gap);
  grid->AddGrowableCol(1);
  const int width = ConvertDialogToPixels(wxSize(120, 0)).x;
  user_ = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxSize(width, -1));
  password_ = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxSize(width, -1),
                             wxTE_PASSWORD);
  grid->Add(new wxStaticText(this, wxID_ANY, "User name:"), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(user_, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Password:"), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(password_, 1, wxEXPAND);
  top->Add(grid, 0, wxLEFT | wxRIGHT | wxEXPAND, gap * 2);
  top->Add(CreateSeparatedButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxEXPAND, gap * 2);
  SetSizerAndFit(top);
  CentreOnScreen();
  user_->SetFocus();
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_OK); }, wxID_OK);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_CANCEL); }, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(wxID_CANCEL); });
  // Return in either field is OK.
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
      case WXK_RETURN:
      case WXK_NUMPAD_ENTER:
        EndModal(wxID_OK);
        break;
      case WXK_ESCAPE:
        EndModal(wxID_CANCEL);
        break;
      default:
        event.Skip();
    }
  });
}

std::string CredentialsWindow::user() const { return user_->GetValue().utf8_string(); }

std::string CredentialsWindow::password() const { return password_->GetValue().utf8_string(); }

}  // namespace hhsync
