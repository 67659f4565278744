// The terminal and window-less front ends: what they show and how they answer.

#include <gtest/gtest.h>

#include <cstdio>

#include "app/dialogs/progress_dialog.h"
#include "app/dialogs/update_frequency_dialog.h"
#include "platform/none/none_ui.h"
#include "platform/tty/tty_ui.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

// A terminal whose keyboard input is given and whose screen is captured.
class FakeTerminal {
 public:
  explicit FakeTerminal(const std::string& typed) {
    in_ = std::tmpfile();
    out_ = std::tmpfile();
    std::fputs(typed.c_str(), in_);
    std::rewind(in_);
  }
  ~FakeTerminal() {
    std::fclose(in_);
    std::fclose(out_);
  }
  std::FILE* in() { return in_; }
  std::FILE* out() { return out_; }
  std::string Screen() {
    std::fflush(out_);
    std::rewind(out_);
    std::string s;
    int c;
    while ((c = std::fgetc(out_)) != EOF) s += static_cast<char>(c);
    return s;
  }

 private:
  std::FILE* in_;
  std::FILE* out_;
};

TEST(TtyUiTest, UpdateFrequencyDialogChoosesAndConfirms) {
  {
    // A digit and Enter choose and confirm at once, as the prompt says.
    FakeTerminal term("3\n");
    TtyUi ui(term.in(), term.out());
    UpdateFrequencyDialog d("Acme", 0);
    ui.RunUpdateFrequencyDialog(d);
    EXPECT_EQ(d.Hours(), 168);
    EXPECT_TRUE(d.accepted());
    std::string screen = term.Screen();
    EXPECT_NE(screen.find("Acme Server Link"), std::string::npos);
    EXPECT_NE(screen.find("Once a month"), std::string::npos);
  }
  {
    FakeTerminal term("");
    TtyUi ui(term.in(), term.out());
    UpdateFrequencyDialog d("Acme", 30);
    ui.RunUpdateFrequencyDialog(d);
    EXPECT_EQ(d.Hours(), 30) << "end of input closes the dialog";
  }
}

TEST(TtyUiTest, MessageBoxesAndCredentials) {
  FakeTerminal term("r\nx\nn\nalice\nsecret\n\n");
  TtyUi ui(term.in(), term.out());
  EXPECT_EQ(
      ui.MessageBox("Unable to open database", {MbButtons::kRetryCancel, MbIcon::kNone, true}),
      MbAnswer::kRetry);
  EXPECT_EQ(ui.MessageBox("DB Problem", {MbButtons::kYesNo, MbIcon::kStop, true}), MbAnswer::kNo);
  std::string user, password;
  EXPECT_EQ(ui.AskProxyCredentials(&user, &password), kErrorInternetForceRetry);
  EXPECT_EQ(user, "alice");
  EXPECT_EQ(password, "secret");
  EXPECT_EQ(ui.AskProxyCredentials(&user, &password), kErrorCancelled);
  EXPECT_EQ(term.Screen().find("secret"), std::string::npos) << "the password is not echoed";
}

TEST(TtyUiTest, ProgressWindowDrawsAndTakesKeys) {
  test::TestPlatform p;
  ProgressDialog dialog(p.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kAsSwitched,
                        ProgressDialog::Logo::kShown, "R\\");
  FakeTerminal term("v");
  TtyUi ui(term.in(), term.out());
  {
    auto window = ui.CreateProgressWindow(dialog);
    dialog.SetStatus("Reading Status", 1);
    window->Pump(0);
    EXPECT_TRUE(dialog.Snapshot().versionShown) << "v shows the version line";
    // A change after the last pump is the frame the window leaves.
    dialog.SetStatus("Writing Status", 2);
  }
  std::string screen = term.Screen();
  EXPECT_NE(screen.find("Writing Status"), std::string::npos)
      << "the last frame is the final state";
  EXPECT_NE(screen.find("Acme Server Link"), std::string::npos);
  EXPECT_NE(screen.find("Reading Status"), std::string::npos);
  EXPECT_NE(screen.find("[#####"), std::string::npos) << "the upper bar is 1 of 7";

  FakeTerminal esc("\x1b");
  TtyUi ui2(esc.in(), esc.out());
  auto window = ui2.CreateProgressWindow(dialog);
  window->Pump(0);
  EXPECT_FALSE(dialog.IsRunning()) << "Escape is Cancel";
}

TEST(NoneUiTest, LinesAndScriptedAnswers) {
  FakeTerminal term("");
  NoneUi ui("retry, yes,bogus,ok", term.out());
  EXPECT_EQ(ui.MessageBox("a\nb", {MbButtons::kRetryCancel, MbIcon::kNone, true}),
            MbAnswer::kRetry);
  EXPECT_EQ(ui.MessageBox("q", {MbButtons::kYesNo, MbIcon::kStop, true}), MbAnswer::kYes);
  // "bogus" is not an answer; "ok" cannot answer Retry/Cancel and is used up.
  EXPECT_EQ(ui.MessageBox("r", {MbButtons::kRetryCancel, MbIcon::kNone, false}), MbAnswer::kCancel);
  EXPECT_EQ(ui.MessageBox("s", {}), MbAnswer::kOk);
  EXPECT_EQ(ui.MessageBox("caf\xe9", {MbButtons::kYesNo, MbIcon::kNone, false}), MbAnswer::kNo);
  std::string user, password;
  EXPECT_NE(ui.AskProxyCredentials(&user, &password), kErrorInternetForceRetry);
  UpdateFrequencyDialog d("Acme", 100);
  ui.RunUpdateFrequencyDialog(d);
  EXPECT_EQ(d.Hours(), 100) << "without a digit among the answers it closes without OK";
  NoneUi chooser("yes,2", term.out());
  UpdateFrequencyDialog chosen("Acme", 100);
  chooser.RunUpdateFrequencyDialog(chosen);
  EXPECT_EQ(chosen.Hours(), 24);

  EXPECT_EQ(term.Screen(),
            "hhsync: message: a\\nb [retry,cancel] -> retry\n"
            "hhsync: message: q [yes,no] -> yes\n"
            "hhsync: message: r [retry,cancel] -> cancel\n"
            "hhsync: message: s [ok] -> ok\n"
            "hhsync: message: caf\xc3\xa9 [yes,no] -> no\n"
            "hhsync: Acme Server Link: Once a day -> OK\n");
}

}  // namespace
}  // namespace hhsync
