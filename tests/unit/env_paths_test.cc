// The program directory's files: downloads that replace a file only once
// complete, names the platform keeps for itself, and one run at a time.

#include "platform/linux/env_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/directory_lock.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(EnvPathsTest, AReplacementTakesThePlaceOfTheFileOnlyWhenCommitted) {
  test::TempDir dir;
  EnvPaths paths(dir.path());
  const std::string target = paths.InProgramDir("a.cab");
  test::WriteFile(target, "old");
  {
    auto file = paths.CreateReplacement(target);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write("half", 4));
    EXPECT_EQ(test::ReadFile(target), "old") << "nothing shows before the commit";
  }
  EXPECT_EQ(test::ReadFile(target), "old");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.cab"}) << "no temporary file left";

  auto file = paths.CreateReplacement(target);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Write("new", 3));
  EXPECT_TRUE(file->Commit());
  file.reset();
  EXPECT_EQ(test::ReadFile(target), "new");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.cab"});

  // A symbolic link in the file's place is replaced, never written through.
  test::WriteFile(dir.File("elsewhere"), "keep");
  fs::create_symlink(dir.File("elsewhere"), dir.File("b.cab"));
  file = paths.CreateReplacement(dir.File("b.cab"));
  EXPECT_TRUE(file->Write("b", 1));
  EXPECT_TRUE(file->Commit());
  EXPECT_EQ(test::ReadFile(dir.File("elsewhere")), "keep");
  EXPECT_FALSE(fs::is_symlink(dir.File("b.cab")));
  EXPECT_EQ(test::ReadFile(dir.File("b.cab")), "b");
}

TEST(EnvPathsTest, ReservedFilesInTheProgramDirectoryAreThePlatformsOwn) {
  test::TempDir dir;
  test::TempDir other;
  EnvPaths paths(dir.path() + "/");
  paths.Reserve(dir.File("registry.db"));
  paths.Reserve(other.File("handheld.db"));  // elsewhere: its name is free here
  paths.Reserve(dir.path() + "/./hhsync");
  for (const char* name : {"registry.db", "REGISTRY.DB", "registry.db-wal", "registry.db-journal",
                           "hhsync", ".hhsync-download-1"}) {
    EXPECT_TRUE(paths.IsPlatformFile(name)) << name;
  }
  for (const char* name : {"handheld.db", "registry.dbx", "hhsync.ini", "setup.ini"}) {
    EXPECT_FALSE(paths.IsPlatformFile(name)) << name;
  }
}

TEST(EnvPathsTest, LeftoverTemporariesOfAKilledRunAreRemovedAndNothingElse) {
  test::TempDir dir;
  test::TempDir other;
  EnvPaths paths(dir.path());
  test::WriteFile(dir.File(".hhsync-download-a1B2c3"), "half a download");
  test::WriteFile(other.File("target"), "keep");
  fs::create_symlink(other.File("target"), dir.File(".hhsync-download-link"));
  fs::create_directory(dir.File(".hhsync-download-dir"));
  test::WriteFile(dir.File("news.cab"), "cab");
  test::WriteFile(dir.File(".hhsync-other"), "not a download");
  EXPECT_EQ(paths.RemoveLeftoverTemporaries(), 2);
  EXPECT_EQ(Names(dir.path()),
            (std::vector<std::string>{".hhsync-download-dir", ".hhsync-other", "news.cab"}));
  EXPECT_EQ(test::ReadFile(other.File("target")), "keep") << "a link goes, never its target";
}

TEST(DirectoryLockTest, OneRunAtATimePerDirectory) {
  test::TempDir dir;
  {
    DirectoryLock first(dir.path(), 0);
    EXPECT_TRUE(first.locked());
    DirectoryLock second(dir.path(), 0);
    EXPECT_FALSE(second.locked());
  }
  DirectoryLock again(dir.path(), 0);
  EXPECT_TRUE(again.locked()) << "released with its holder";
  EXPECT_TRUE(Names(dir.path()).empty()) << "no lock file";
}

}  // namespace
}  // namespace hhsync
