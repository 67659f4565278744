#include "platform/tty/tty_ui.h"

#include <termios.h>
#include <unistd.h>

#include "app/dialogs/update_frequency_dialog.h"
#include "device/wide_text.h"

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

TtyUi::TtyUi(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}

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
  auto choices = ChoicesFor(style.buttons);
  std::fprintf(out_, "\n+-- hhsync%s\n", style.icon == MbIcon::kStop ? " (stop)" : "");
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
  std::fputs("\nThe proxy server needs a user name and password (empty user name cancels).\n"
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

void TtyUi::RunUpdateFrequencyDialog(UpdateFrequencyDialog& dialog) {
  std::lock_guard<std::mutex> l(mu_);
  dialog.OnInit();
  int selection = dialog.Selection();
  for (;;) {
    std::fprintf(out_, "\n== %s ==\nUpdate Frequency - Check for updates:\n",
                 AnsiToUtf8(dialog.Title()).c_str());
    for (std::size_t i = 0; i < UpdateFrequencyDialog::kChoices.size(); ++i) {
      std::fprintf(out_, "  %c %zu. %s\n", static_cast<int>(i) == selection ? '>' : ' ', i + 1,
                   UpdateFrequencyDialog::kChoices[i]);
    }
    std::fputs("Choose 1-4, Enter for OK, q to close: ", out_);
    std::fflush(out_);
    std::string line = ReadLine(true);
    if (line == "\x04" || line == "q" || line == "Q") return;  // closed without OK
    if (line.empty()) {
      dialog.OnOk(selection);
      return;
    }
    if (line.size() == 1 && line[0] >= '1' && line[0] <= '4') selection = line[0] - '1';
  }
}

}  // namespace hhsync
