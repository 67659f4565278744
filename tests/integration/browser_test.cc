// Opening pages: the opener program first, the registered ".htm" browser as
// fallback. A recorder script stands in for both; no real browser opens.

#include "settings/browser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "app/config_file.h"
#include "platform/linux/posix_shell.h"
#include "platform/registry.h"
#include "settings/sync_settings.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::TestPlatform;

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder_ = p_.dir().File("recorder");
    // Appends each argument on a line of its own, then a separator; fails
    // when told to by the presence of a file.
    test::WriteFile(recorder_,
                    "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                        p_.dir().File("opened.txt") + "'; done\necho '--' >> '" +
                        p_.dir().File("opened.txt") + "'\n[ -e '" + p_.dir().File("fail") +
                        "' ] && exit 3\nexit 0\n");
    chmod(recorder_.c_str(), 0755);
    shell_ = std::make_unique<PosixShell>(recorder_);
    ports_ = p_.ports();
    ports_.shell = shell_.get();
  }
  void RegisterHtm(const std::string& command) {
    auto& r = p_.registry();
    r.CreateKey(RegRoot::kClassesRoot, ".htm");
    r.SetValue(RegRoot::kClassesRoot, ".htm", "", RegValue::String("htmlfile"));
    r.CreateKey(RegRoot::kClassesRoot, "htmlfile\\shell\\open\\command");
    r.SetValue(RegRoot::kClassesRoot, "htmlfile\\shell\\open\\command", "",
               RegValue::String(command));
  }
  // What the recorder was started with, waiting for count runs to finish.
  std::string Opened(int count) {
    for (int i = 0; i < 200; ++i) {
      std::string s = test::ReadFile(p_.dir().File("opened.txt"));
      int runs = 0;
      for (std::size_t pos = 0; (pos = s.find("--\n", pos)) != std::string::npos; pos += 3) ++runs;
      if (runs >= count) return s;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return test::ReadFile(p_.dir().File("opened.txt"));
  }

  TestPlatform p_;
  std::string recorder_;
  std::unique_ptr<PosixShell> shell_;
  Ports ports_;
};

TEST_F(BrowserTest, TheOpenerGetsTheUrlAsItsOneArgument) {
  RegisterHtm("\"" + recorder_ + "\" -registered \"%1\"");
  EXPECT_GT(OpenInBrowser(ports_, "http://h/p?m=a b&c;$(x)", kSwShow), 32);
  EXPECT_EQ(Opened(1), "http://h/p?m=a b&c;$(x)\n--\n") << "passed whole, never through a shell";
}

TEST_F(BrowserTest, FailingOpenerFallsBackToTheRegisteredBrowser) {
  test::WriteFile(p_.dir().File("fail"), "");
  // No ".htm": the opener's failure comes back and nothing else starts.
  int result = OpenInBrowser(ports_, "http://h/1", kSwShow);
  EXPECT_LE(result, 32);
  EXPECT_EQ(Opened(1), "http://h/1\n--\n");

  RegisterHtm("\"" + recorder_ + "\" -nohome \"%1\" --after");
  EXPECT_GT(OpenInBrowser(ports_, "http://h/2?a=b c", kSwShow), 31);
  // The opener ran and failed, then the registered command with the URL in
  // the placeholder's place and the text after it dropped.
  std::string opened = Opened(3);
  EXPECT_EQ(opened, "http://h/1\n--\nhttp://h/2?a=b c\n--\n-nohome\nhttp://h/2?a=b\nc\n--\n");
}

TEST(BrowserCommandLineTest, PlaceholderRules) {
  EXPECT_EQ(BrowserCommandLine("\"C:\\b.exe\" -nohome \"%1\"", "http://u"),
            "\"C:\\b.exe\" -nohome  http://u");
  EXPECT_EQ(BrowserCommandLine("b.exe %1 -x", "http://u"), "b.exe  http://u");
  EXPECT_EQ(BrowserCommandLine("b.exe", "http://u"), "b.exe http://u");
  std::string longUrl = "http://u/" + std::string(5000, 'a');
  EXPECT_EQ(BrowserCommandLine("b.exe \"%1\"", longUrl), "b.exe  " + longUrl);
}

TEST(SplitCommandLineTest, DesktopQuotingRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\b.exe\" -x  \"a b\" c"),
            (V{"C:\\Program Files\\b.exe", "-x", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\"b \"c\\\\\" d\\e"), (V{"p", "a\\\"b", "c\\", "d\\e"}));
}

TEST(PageLaunchTest, FirstRunAndErrorPages) {
  TestPlatform p;
  p.Connect();
  PropertySet props;
  props.Set("registry", "R\\");
  {
    SyncSettings s(p.ports(), &props);
    s.OpenFirstRunPage();
    EXPECT_TRUE(p.shell().Opened().empty()) << "an empty furl opens nothing";
    EXPECT_GT(s.OpenErrorPage("jdb1[5]"), 32);
  }
  p.SetDevice("R\\furl", "http://first/run");
  p.SetDevice("R\\loginurl", "http://login/x");
  SyncSettings s(p.ports(), &props);
  s.OpenFirstRunPage();
  s.OpenErrorPage("jdb2[7]");
  EXPECT_EQ(p.shell().Opened(), (std::vector<std::string>{"?cmd=err&code=jdb1[5]",
                                                           "http://first/run",
                                                           "http://login/x?cmd=err&code=jdb2[7]"}));
  EXPECT_EQ(p.shell().LastShow(), kSwShow);
}

}  // namespace
}  // namespace hhsync
