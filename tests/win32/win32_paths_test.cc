#include "platform/win32/win32_paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "base/text.h"
#include "win32_test_support.h"

namespace hhsync {
namespace {

using win32_test::ReadWholeFile;
using win32_test::ScratchDir;

TEST(Win32PathsTest, ProgramDirIsTheGivenOneTheVariableOrTheExecutables) {
  const std::string exe = ModulePath();
  ASSERT_GT(exe.size(), 4u);
  EXPECT_EQ(AsciiLower(exe.substr(exe.size() - 4)), ".exe");
  EXPECT_EQ(Win32Paths("C:\\given\\").ProgramDir(), "C:\\given");
  EXPECT_EQ(Win32Paths("C:\\").ProgramDir(), "C:\\");

  _putenv_s("HHSYNC_HOME", "C:\\from-env");
  EXPECT_EQ(Win32Paths().ProgramDir(), "C:\\from-env");
  _putenv_s("HHSYNC_HOME", "");
  EXPECT_EQ(Win32Paths().ProgramDir(), DirectoryOfPath(exe));
}

TEST(Win32PathsTest, ReplacementTakesTheTargetsPlaceOnlyOnCommit) {
  ScratchDir dir;
  Win32Paths paths(dir.path());
  const std::string target = dir.File("res.cab");
  win32_test::WriteWholeFile(target, "old");
  {
    auto pending = paths.CreateReplacement(target);
    ASSERT_TRUE(pending);
    ASSERT_TRUE(pending->Write("half", 4));
  }  // dropped without Commit
  EXPECT_EQ(ReadWholeFile(target), "old");
  auto pending = paths.CreateReplacement(target);
  ASSERT_TRUE(pending);
  ASSERT_TRUE(pending->Write("new bytes", 9));
  EXPECT_EQ(ReadWholeFile(target), "old");
  ASSERT_TRUE(pending->Commit());
  EXPECT_EQ(ReadWholeFile(target), "new bytes");
  pending.reset();

  // Nothing of the temporary files is left behind.
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(dir.File("*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int files = 0;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
  } while (FindNextFileA(find, &found));
  FindClose(find);
  EXPECT_EQ(files, 1);

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(paths.ReadFile(target, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new bytes");
  EXPECT_FALSE(paths.ReadFile(dir.File("missing"), &bytes));
}

TEST(Win32PathsTest, ExclusiveAppendSharesNothingWhileOpen) {
  ScratchDir dir;
  Win32Paths paths(dir.path());
  const std::string log = dir.File("sync.txt");
  {
    auto first = paths.OpenExclusiveAppend(log);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->Write("one\r\n", 5));
    EXPECT_FALSE(paths.OpenExclusiveAppend(log)) << "a second writer is refused";
  }
  auto again = paths.OpenExclusiveAppend(log);
  ASSERT_TRUE(again);
  ASSERT_TRUE(again->Write("two\r\n", 5));
  again.reset();
  EXPECT_EQ(ReadWholeFile(log), "one\r\ntwo\r\n");
}

TEST(Win32PathsTest, PlatformFilesAreReservedNamesAndTemporaries) {
  ScratchDir dir;
  Win32Paths paths(dir.path());
  paths.Reserve(dir.File("HHSYNC.EXE"));
  paths.Reserve("C:\\elsewhere\\rapi.dll");
  EXPECT_TRUE(paths.IsPlatformFile("hhsync.exe"));
  EXPECT_TRUE(paths.IsPlatformFile(".hhsync-download-1"));
  EXPECT_FALSE(paths.IsPlatformFile("rapi.dll")) << "not in the program directory";
  EXPECT_FALSE(paths.IsPlatformFile("app.cab"));
}

TEST(Win32PathsTest, LeftoverTemporariesOfAKilledRunAreRemovedAndNothingElse) {
  ScratchDir dir;
  Win32Paths paths(dir.path());
  const std::string kept = dir.File("news.cab");
  win32_test::WriteWholeFile(dir.File(".hhsync-download-12-0"), "half a download");
  win32_test::WriteWholeFile(kept, "cab");
  ASSERT_TRUE(CreateDirectoryA(dir.File(".hhsync-download-dir").c_str(), nullptr));
  EXPECT_EQ(paths.RemoveLeftoverTemporaries(), 1);
  EXPECT_EQ(GetFileAttributesA(dir.File(".hhsync-download-12-0").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(kept.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(dir.File(".hhsync-download-dir").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace hhsync
