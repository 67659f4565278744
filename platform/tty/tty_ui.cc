#include "platform/tty/tty_ui.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "base/text.h"

namespace hhsync {

namespace {

struct Choice {
  const char* label;
  char key;
  MbAnswer answer;
};

std::vector<Choice> ChoicesFor(MbButtons buttons) {
  switch (buttons) {
    case MbButtons::kOk:
      return {{"OK", 'o', MbAnswer::kOk}};
    case MbButtons::kOkCancel:
      return {{"OK", 'o', MbAnswer::kOk}, {"Cancel", 'c', MbAnswer::kCancel}};
    case MbButtons::kYesNo:
      return {{"Yes", 'y', MbAnswer::kYes}, {"No", 'n', MbAnswer::kNo}};
    case MbButtons::kRetryCancel:
      return {{"Retry", 'r', MbAnswer::kRetry}, {"Cancel", 'c', MbAnswer::kCancel}};
  }
  return {{"OK", 'o', MbAnswer::kOk}};
}

}  // namespace

TtyUi::TtyUi(std::FILE* in, std::FILE* out, std::string caption)
    : in_(in), out_(out), caption_(std::move(caption)) {}

std::string TtyUi::ReadLine(bool echo) {
  termios saved{};
  int fd = fileno(in_);
  bool restore = false;
  if (!echo && isatty(fd) && tcgetattr(fd, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    restore = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
  }
  std::string line;
  int c;
  while ((c = std::fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
  if (restore) {
    tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputc('\n', out_);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (c == EOF && line.empty()) line = "\x04";  // end of input: the box's default
  return line;
}

MbAnswer TtyUi::MessageBox(std::string_view text, const MessageBoxStyle& style) {
  std::lock_guard<std::mutex> l(mu_);
  SuspendKeyMode();
  struct Resume {
    TtyUi* ui;
    ~Resume() { ui->ResumeKeyMode(); }
  } resume{this};
  auto choices = ChoicesFor(style.buttons);
  std::fprintf(out_, "\n+-- %s%s\n", AnsiToUtf8(caption_).c_str(),
               style.icon == MbIcon::kStop ? " (stop)" : "");
  std::string shown = AnsiToUtf8(text);
  std::size_t start = 0;
  while (start <= shown.size()) {
    std::size_t nl = shown.find('\n', start);
    std::fprintf(out_, "| %s\n", shown.substr(start, nl - start).c_str());
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  for (;;) {
    std::fputs("+-- ", out_);
    for (std::size_t i = 0; i < choices.size(); ++i)
      std::fprintf(out_, "%s[%c]%s", i ? "  " : "", choices[i].key, choices[i].label + 0);
    std::fputs(": ", out_);
    std::fflush(out_);
    std::string line = ReadLine(true);
    if (line == "\x04") return choices.back().answer;
    if (line.empty()) return choices.front().answer;
    char k = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    for (const auto& c : choices)
      if (c.key == k) return c.answer;
  }
}

int TtyUi::AskProxyCredentials(std::string* user, std::string* password) {
  std::lock_guard<std::mutex> l(mu_);
  SuspendKeyMode();
  struct Resume {
    TtyUi* ui;
    ~Resume() { ui->ResumeKeyMode(); }
  } resume{this};
  std::fputs(
      "\nThe proxy server needs a user name and password (empty user name cancels).\n"
      "User name: ",
      out_);
  std::fflush(out_);
  std::string name = ReadLine(true);
  if (name.empty() || name == "\x04") return kErrorCancelled;
  std::fputs("Password: ", out_);
  std::fflush(out_);
  std::string pass = ReadLine(false);
  if (pass == "\x04") return kErrorCancelled;
  *user = Utf8ToAnsi(name);
  *password = Utf8ToAnsi(pass);
  return kErrorInternetForceRetry;
}

void TtyUi::RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) {
  std::lock_guard<std::mutex> l(mu_);
  dialog.OnInit();
  int selection = dialog.Selection();
  const std::vector<std::string> choices = dialog.Choices();
  for (;;) {
    std::fprintf(out_, "\n== %s ==\nUpdate Frequency - Check for updates:\n",
                 AnsiToUtf8(dialog.Title()).c_str());
    for (std::size_t i = 0; i < choices.size(); ++i) {
      std::fprintf(out_, "  %c %zu. %s\n", static_cast<int>(i) == selection ? '>' : ' ', i + 1,
                   AnsiToUtf8(choices[i]).c_str());
    }
    std::fprintf(out_,
                 "Type 1-%zu and Enter to choose (Enter alone: the one marked >), q to close: ",
                 choices.size());
    std::fflush(out_);
    std::string line = ReadLine(true);
    if (line == "\x04" || line == "q" || line == "Q") return;  // closed without OK
    if (line.size() == 1 && line[0] >= '1' &&
        static_cast<std::size_t>(line[0] - '1') < choices.size()) {
      selection = line[0] - '1';
      line.clear();
    }
    if (line.empty()) {
      if (selection >= 0 && static_cast<std::size_t>(selection) < choices.size()) {
        std::fprintf(out_, "%s\n",
                     AnsiToUtf8(choices[static_cast<std::size_t>(selection)]).c_str());
      }
      dialog.OnOk(selection);
      return;
    }
  }
}

}  // namespace hhsync

namespace hhsync {

namespace {

std::string BarText(const ProgressBar& bar, int width) {
  int filled = bar.range == 0
                   ? 0
                   : static_cast<int>(static_cast<long long>(bar.position) * width / bar.range);
  std::string s = "[";
  s.append(static_cast<std::size_t>(filled), '#');
  s.append(static_cast<std::size_t>(width - filled), '.');
  return s + "]";
}

// Columns of the terminal behind out, 80 when it cannot tell.
std::size_t TerminalWidth(std::FILE* out) {
  winsize ws{};
  if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return ws.ws_col;
  return 80;
}

// text cut to fewer than width characters (UTF-8 aware).
std::string Fit(const std::string& text, std::size_t width) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++chars >= width) return text.substr(0, i);
  }
  return text;
}

// Reads the keys waiting on the terminal, waiting at most waitMs for the
// first. A lone Escape is returned as 27; escape sequences (arrow keys) are
// dropped.
std::string ReadKeys(std::FILE* in, int waitMs) {
  std::string keys;
  int fd = fileno(in);
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN)) return keys;
  char buf[64];
  ssize_t n = ::read(fd, buf, sizeof buf);
  if (n <= 0) return keys;
  std::string got(buf, static_cast<std::size_t>(n));
  if (got.size() > 1 && got[0] == 27) return keys;
  return got;
}

// A dialog window on the terminal: keys are read one by one while it is
// open, and closing it leaves the cursor on a fresh line.
class TtyWindow : public DialogWindow {
 public:
  explicit TtyWindow(TtyUi& ui) : ui_(ui) { ui_.EnterKeyMode(); }
  ~TtyWindow() override {
    {
      std::lock_guard<std::mutex> l(ui_.mutex());
      if (drawn_) std::fputs("\n", ui_.out());
      std::fflush(ui_.out());
    }
    ui_.LeaveKeyMode();
  }

 protected:
  TtyUi& ui_;
  bool drawn_ = false;
  uint64_t drawnRevision_ = 0;
};

class TtyProgressWindow final : public TtyWindow {
 public:
  TtyProgressWindow(TtyUi& ui, ProgressWindowModel& dialog) : TtyWindow(ui), dialog_(dialog) {
    dialog_.OnInitDialog();
  }
  // The window's last frame is the dialog's final state, not whatever the
  // last pump happened to see.
  ~TtyProgressWindow() override {
    std::lock_guard<std::mutex> l(ui_.mutex());
    if (drawn_) Draw();
  }
  void Pump(int waitMs) override {
    std::unique_lock<std::mutex> l(ui_.mutex(), std::try_to_lock);
    if (!l.owns_lock()) {
      dialog_.WaitForChange(dialog_.Revision(), waitMs);
      return;
    }
    Draw();
    std::string keys = ReadKeys(ui_.in(), waitMs);
    l.unlock();
    for (char k : keys) {
      if (k == 27) {
        dialog_.OnCancel();
      } else if (k == 'v' || k == 'V') {
        dialog_.OnRightDoubleClick(dialog_.MainBitmapHeight() + 7);
      } else if (k == 'l' || k == 'L') {
        dialog_.OnRightDoubleClick(0);
      }
    }
  }

 private:
  void Draw() {
    uint64_t rev = dialog_.Revision();
    if (drawn_ && rev == drawnRevision_) return;
    auto v = dialog_.Snapshot();
    std::FILE* out = ui_.out();
    if (drawn_) std::fputs("\x1b[5A", out);
    // Each line is cut to the terminal's width so that none wraps and the
    // redraw lands on the same five lines.
    const std::size_t width = TerminalWidth(out);
    auto line = [&](const std::string& text, const char* end) {
      std::fprintf(out, "\r\x1b[K%s%s", Fit(text, width).c_str(), end);
    };
    line("== " + AnsiToUtf8(v.title) + " ==  (Esc: Cancel, v: version, l: logging)", "\n");
    line(v.versionShown ? v.versionLine : "", "\n");
    line(AnsiToUtf8(v.status), "\n");
    line(BarText(v.upper, 40), "\n");
    line(BarText(v.lower, 40), "");
    std::fflush(out);
    // The cursor stays at the end of the last line.
    std::fputs("\n", out);
    drawn_ = true;
    drawnRevision_ = rev;
  }

  ProgressWindowModel& dialog_;
};

class TtyWaitWindow final : public TtyWindow {
 public:
  TtyWaitWindow(TtyUi& ui, WaitWindowModel& dialog) : TtyWindow(ui), dialog_(dialog) {
    dialog_.OnInitDialog();
  }
  void Pump(int waitMs) override {
    std::unique_lock<std::mutex> l(ui_.mutex(), std::try_to_lock);
    if (!l.owns_lock() || !dialog_.IsShown()) {
      if (l.owns_lock()) l.unlock();
      dialog_.WaitForChange(dialog_.Revision(), waitMs);
      return;
    }
    uint64_t rev = dialog_.Revision();
    if (!drawn_ || rev != drawnRevision_) {
      if (!drawn_) {
        std::fputs(
            "\n== Please Wait ==\nPlease wait while the software is installed to your "
            "device.\n",
            ui_.out());
      }
      std::fprintf(ui_.out(), "\r\x1b[K%s  (Esc: Cancel)", BarText(dialog_.Bar(), 30).c_str());
      std::fflush(ui_.out());
      drawn_ = true;
      drawnRevision_ = rev;
    }
    std::string keys = ReadKeys(ui_.in(), waitMs);
    l.unlock();
    for (char k : keys)
      if (k == 27) dialog_.OnCancel();
  }

 private:
  WaitWindowModel& dialog_;
};

}  // namespace

std::unique_ptr<DialogWindow> TtyUi::CreateProgressWindow(ProgressWindowModel& dialog) {
  return std::make_unique<TtyProgressWindow>(*this, dialog);
}

std::unique_ptr<DialogWindow> TtyUi::CreateWaitWindow(WaitWindowModel& dialog) {
  return std::make_unique<TtyWaitWindow>(*this, dialog);
}

void TtyUi::EnterKeyMode() {
  std::lock_guard<std::mutex> l(mu_);
  if (keyMode_++ > 0) return;
  int fd = fileno(in_);
  if (!isatty(fd)) return;
  termios saved;
  if (tcgetattr(fd, &saved) != 0) return;
  saved_ = std::make_unique<unsigned char[]>(sizeof saved);
  std::memcpy(saved_.get(), &saved, sizeof saved);
  haveSaved_ = true;
  ResumeKeyMode();
}

void TtyUi::LeaveKeyMode() {
  std::lock_guard<std::mutex> l(mu_);
  if (--keyMode_ > 0) return;
  SuspendKeyMode();
  haveSaved_ = false;
}

void TtyUi::SuspendKeyMode() {
  if (keyMode_ > 0 && haveSaved_) {
    termios saved;
    std::memcpy(&saved, saved_.get(), sizeof saved);
    tcsetattr(fileno(in_), TCSAFLUSH, &saved);
  }
}

void TtyUi::ResumeKeyMode() {
  if (keyMode_ == 0 || !haveSaved_) return;
  termios keys;
  std::memcpy(&keys, saved_.get(), sizeof keys);
  keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  tcsetattr(fileno(in_), TCSAFLUSH, &keys);
}

}  // namespace hhsync
