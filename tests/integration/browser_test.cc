// Opening pages: the opener program first, the registered ".htm" browser as
// fallback. A recorder script stands in for both; no real browser opens.

#include "settings/browser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "formats/sdat.h"
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
    test::WriteFile(recorder_, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                                   p_.dir().File("opened.txt") + "'; done\necho '--' >> '" +
                                   p_.dir().File("opened.txt") + "'\n[ -e '" +
                                   p_.dir().File("fail") + "' ] && exit 3\nexit 0\n");
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
  EXPECT_TRUE(OpenInBrowser(*ports_.shell, *ports_.registry, "http://h/p?m=a b&c;$(x)", kSwShow));
  EXPECT_EQ(Opened(1), "http://h/p?m=a b&c;$(x)\n--\n") << "passed whole, never through a shell";
}

TEST_F(BrowserTest, AnOpenerThatCannotStartFallsBackToTheRegisteredBrowser) {
  PosixShell missing(p_.dir().File("no-such-opener"));
  ports_.shell = &missing;
  // No ".htm": the opener's failure comes back and nothing else starts.
  EXPECT_FALSE(OpenInBrowser(*ports_.shell, *ports_.registry, "http://h/1", kSwShow));

  RegisterHtm("\"" + recorder_ + "\" -nohome \"%1\" --after");
  EXPECT_TRUE(OpenInBrowser(*ports_.shell, *ports_.registry, "http://h/2?a=b c\"d", kSwShow));
  // The registered command with the URL in the placeholder's place as one
  // argument, whatever it holds, and the text after it dropped.
  EXPECT_EQ(Opened(1), "-nohome\nhttp://h/2?a=b c\"d\n--\n");
}

// The process ids listed as children of this process by any of its threads.
std::vector<std::string> OwnChildren() {
  std::vector<std::string> children;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::istringstream in(test::ReadFile(task.path().string() + "/children"));
    for (std::string pid; in >> pid;) children.push_back(pid);
  }
  return children;
}

TEST_F(BrowserTest, OpeningAPageReturnsWhileTheOpenerRunsAndLeavesNoChildBehind) {
  const std::string go = p_.dir().File("go"), state = p_.dir().File("opener.txt");
  const std::string opener = p_.dir().File("slow-opener");
  // Records its pid and parent, then waits (at most 20 s) for the test's go.
  test::WriteFile(
      opener, "#!/bin/sh\necho \"$$ $PPID\" > '" + state + ".tmp'\nmv '" + state + ".tmp' '" +
                  state + "'\ni=0; while [ ! -e '" + go +
                  "' ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done\necho done >> '" + state +
                  "'\n");
  chmod(opener.c_str(), 0755);
  PosixShell shell(opener);
  EXPECT_TRUE(shell.OpenUrl("http://h/page", kSwShow));
  for (int i = 0; i < 200 && !test::FileExists(state); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::istringstream ids(test::ReadFile(state));
  std::string pid, parent;
  ids >> pid >> parent;
  ASSERT_FALSE(pid.empty());
  EXPECT_NE(parent, std::to_string(getpid())) << "the opener is nobody's child of ours";
  auto children = OwnChildren();
  EXPECT_EQ(std::find(children.begin(), children.end(), pid), children.end());
  EXPECT_EQ(test::ReadFile(state).find("done"), std::string::npos)
      << "returned while the opener was still running";
  test::WriteFile(go, "");
  for (int i = 0; i < 200 && test::ReadFile(state).find("done") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_TRUE(OwnChildren().empty()) << "no zombie left";
}

TEST_F(BrowserTest, AnUnquotedProgramPathWithBlanksIsStarted) {
  const std::string dir = p_.dir().File("my dir");
  std::filesystem::create_directory(dir);
  const std::string manager = dir + "/ceappmgr";
  std::filesystem::copy_file(recorder_, manager);
  chmod(manager.c_str(), 0755);
  EXPECT_TRUE(shell_->RunAndWait(manager + " /a.ini \"/b c.ini\""));
  EXPECT_EQ(test::ReadFile(p_.dir().File("opened.txt")), "/a.ini\n/b c.ini\n--\n");
  EXPECT_TRUE(shell_->RunCommandLine(manager + " x", kSwShow));
  EXPECT_EQ(Opened(2), "/a.ini\n/b c.ini\n--\nx\n--\n");
  EXPECT_FALSE(shell_->RunAndWait(dir + "/missing /a.ini"));
}

TEST(BrowserCommandLineTest, PlaceholderRules) {
  EXPECT_EQ(BrowserCommandLine("\"C:\\b.exe\" -nohome \"%1\"", "http://u"),
            "\"C:\\b.exe\" -nohome  http://u");
  EXPECT_EQ(BrowserCommandLine("b.exe %1 -x", "http://u"), "b.exe  http://u");
  EXPECT_EQ(BrowserCommandLine("b.exe", "http://u"), "b.exe http://u");
  EXPECT_EQ(BrowserCommandLine("b.exe \"%1\"", "http://u/a b"), "b.exe  \"http://u/a b\"");
  std::string longUrl = "http://u/" + std::string(5000, 'a');
  EXPECT_EQ(BrowserCommandLine("b.exe \"%1\"", longUrl), "b.exe  " + longUrl);
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
    EXPECT_TRUE(s.OpenErrorPage("jdb1[5]"));
  }
  p.SetDevice("R\\furl", "http://first/run");
  p.SetDevice("R\\loginurl", "http://login/x");
  SyncSettings s(p.ports(), &props);
  s.OpenFirstRunPage();
  s.OpenErrorPage("jdb2[7]");
  EXPECT_EQ(p.shell().Opened(),
            (std::vector<std::string>{"?cmd=err&code=jdb1[5]", "http://first/run",
                                      "http://login/x?cmd=err&code=jdb2[7]"}));
  EXPECT_EQ(p.shell().LastShow(), kSwShow);
}

}  // namespace
}  // namespace hhsync
