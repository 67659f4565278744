#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "win32_test_support.h"

namespace hhsync {
namespace {

using win32_test::FileExists;
using win32_test::ReadWholeFile;
using win32_test::ScratchDir;
using win32_test::WaitForFile;

TEST(Win32ClockTest, RealTimeRealSleepAndLocalTime) {
  Win32Clock clock;
  const int64_t now = clock.Now();
  EXPECT_LE(std::abs(now - static_cast<int64_t>(std::time(nullptr))), 1);
  const int64_t before = clock.MonotonicMs();
  clock.SleepMs(100);
  // The tick count moves in steps of up to 16 ms.
  EXPECT_GE(clock.MonotonicMs() - before, 100 - 16);

  SYSTEMTIME local;
  GetLocalTime(&local);
  const std::tm tm = clock.LocalTime(clock.Now());
  EXPECT_EQ(tm.tm_year + 1900, local.wYear);
  EXPECT_EQ(tm.tm_mon + 1, local.wMonth);
  EXPECT_EQ(tm.tm_mday, local.wDay);
}

TEST(Win32ShellTest, RunAndWaitReturnsWhenTheProgramHasEnded) {
  ScratchDir dir;
  Win32Shell shell;
  const std::string mark = dir.File("waited");
  ASSERT_TRUE(shell.RunAndWait("\"" + win32_test::ProbePath() + "\" \"" + mark + "\" two"));
  // The probe writes only after a pause; the file is there at once.
  EXPECT_EQ(ReadWholeFile(mark + ".seen"), mark + "\ntwo\n");
  EXPECT_FALSE(shell.RunAndWait("\"" + dir.File("no-such-program.exe") + "\""));
}

TEST(Win32ShellTest, RunCommandLineStartsWithoutWaiting) {
  ScratchDir dir;
  Win32Shell shell;
  const std::string mark = dir.File("started");
  EXPECT_TRUE(
      shell.RunCommandLine("\"" + win32_test::ProbePath() + "\" \"" + mark + "\"", kSwShow));
  EXPECT_FALSE(FileExists(mark + ".seen")) << "returned before the program ended";
  EXPECT_TRUE(WaitForFile(mark + ".seen", 10000));
  EXPECT_FALSE(shell.RunCommandLine("\"" + dir.File("missing.exe") + "\"", kSwShow));
}

TEST(Win32ShellTest, OpenUrlUsesTheHandlerTheRegistryNames) {
  // A document type of the tests' own whose open command is the probe.
  Win32Registry registry;
  const std::string ext = ".hhsynctest";
  const std::string type = "hhsync.test.document";
  ASSERT_TRUE(registry.CreateKey(RegRoot::kClassesRoot, ext));
  ASSERT_TRUE(registry.SetValue(RegRoot::kClassesRoot, ext, "", RegValue::String(type)));
  ASSERT_TRUE(registry.CreateKey(RegRoot::kClassesRoot, type + "\\shell\\open\\command"));
  ASSERT_TRUE(registry.SetValue(RegRoot::kClassesRoot, type + "\\shell\\open\\command", "",
                                RegValue::String("\"" + win32_test::ProbePath() + "\" \"%1\"")));

  ScratchDir dir;
  const std::string document = dir.File("page" + ext);
  win32_test::WriteWholeFile(document, "page");
  Win32Shell shell;
  EXPECT_TRUE(shell.OpenUrl(document, kSwShow));
  EXPECT_TRUE(WaitForFile(document + ".seen", 10000));
  EXPECT_FALSE(shell.OpenUrl(dir.File("absent" + ext), kSwShow));

  registry.Delete(RegRoot::kClassesRoot, ext, std::nullopt);
  registry.Delete(RegRoot::kClassesRoot, type, std::nullopt);
}

TEST(Win32ShellTest, ShortPathIsOneArgumentAndEmptyForMissingFiles) {
  ScratchDir dir;
  CreateDirectoryA(dir.File("with some blanks").c_str(), nullptr);
  const std::string file = dir.File("with some blanks\\long file name.cab");
  win32_test::WriteWholeFile(file, "cab");
  Win32Shell shell;
  const std::string shortPath = shell.ShortPath(file);
  ASSERT_FALSE(shortPath.empty());
  EXPECT_EQ(shortPath.find(' '), std::string::npos) << shortPath;
  EXPECT_EQ(ReadWholeFile(shortPath), "cab");
  EXPECT_EQ(shell.ShortPath(dir.File("missing.cab")), "");
}

}  // namespace
}  // namespace hhsync
