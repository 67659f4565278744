// Where the program keeps its files: beside the executable in a build tree,
// in the XDG directories when installed, and wherever the variables say.

#include "platform/locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "support/test_platform.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

LocationRules Rules(std::map<std::string, std::string> env, bool xdg,
                    std::string fallback = "/opt/build/") {
  LocationRules rules;
  rules.env = [env = std::move(env)](const char* name) {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
  };
  rules.fallbackDir = std::move(fallback);
  rules.accountHome = "/home/account";
  rules.xdg = xdg;
  return rules;
}

TEST(LocationsTest, ABuildTreeKeepsEverythingBesideTheExecutable) {
  const Locations where = ResolveLocations(Rules({{"HOME", "/home/u"}}, false));
  EXPECT_EQ(where.programDir, "/opt/build");
  EXPECT_EQ(where.device, "/opt/build/handheld.db");
  EXPECT_EQ(where.registry, "/opt/build/registry.db");
  EXPECT_TRUE(where.toCreate.empty());
  // XDG variables mean nothing to a build tree.
  EXPECT_EQ(ResolveLocations(Rules({{"XDG_DATA_HOME", "/x"}}, false)).programDir, "/opt/build");
}

TEST(LocationsTest, AnInstalledBuildUsesTheXdgDirectoriesWhateverItsOwnDirectoryAllows) {
  // The executable's directory is writable here (as /usr/bin is to root):
  // that must not matter.
  test::TempDir installDir;
  Locations where = ResolveLocations(Rules({{"HOME", "/home/u/"}}, true, installDir.path()));
  EXPECT_EQ(where.programDir, "/home/u/.local/share/hhsync");
  EXPECT_EQ(where.device, "/home/u/.local/share/hhsync/handheld.db");
  EXPECT_EQ(where.registry, "/home/u/.config/hhsync/registry.db");
  EXPECT_EQ(where.toCreate,
            (std::vector<std::string>{"/home/u/.local/share/hhsync", "/home/u/.config/hhsync"}));

  where = ResolveLocations(Rules(
      {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data/"}, {"XDG_CONFIG_HOME", "/conf"}}, true));
  EXPECT_EQ(where.programDir, "/data/hhsync");
  EXPECT_EQ(where.registry, "/conf/hhsync/registry.db");

  // A relative XDG directory is ignored; without HOME the account's home
  // directory is used.
  where = ResolveLocations(Rules({{"XDG_DATA_HOME", "rel"}, {"XDG_CONFIG_HOME", "rel"}}, true));
  EXPECT_EQ(where.programDir, "/home/account/.local/share/hhsync");
  EXPECT_EQ(where.registry, "/home/account/.config/hhsync/registry.db");
}

TEST(LocationsTest, EachVariableOverridesInEitherBuild) {
  for (bool xdg : {false, true}) {
    SCOPED_TRACE(xdg ? "installed" : "build tree");
    Locations where = ResolveLocations(Rules({{"HOME", "/home/u"}, {"HHSYNC_HOME", "/p/"}}, xdg));
    EXPECT_EQ(where.programDir, "/p");
    EXPECT_EQ(where.device, "/p/handheld.db");
    EXPECT_EQ(where.registry, "/p/registry.db") << "the store follows the program directory";
    EXPECT_TRUE(where.toCreate.empty()) << "a directory named by the user is the user's to make";

    where = ResolveLocations(Rules({{"HOME", "/home/u"}, {"HHSYNC_DEVICE", "/d/h.db"}}, xdg));
    EXPECT_EQ(where.device, "/d/h.db");
    EXPECT_EQ(where.programDir, xdg ? "/home/u/.local/share/hhsync" : "/opt/build");

    where = ResolveLocations(Rules({{"HOME", "/home/u"}, {"HHSYNC_REGISTRY", "/r.db"}}, xdg));
    EXPECT_EQ(where.registry, "/r.db");
    EXPECT_EQ(where.toCreate.size(), xdg ? 1u : 0u) << "only the program directory is made";
  }
}

TEST(LocationsTest, DirectoriesAreMadeWithTheirParentsAndPrivately) {
  test::TempDir dir;
  const std::string deep = dir.path() + "/a/b/hhsync";
  EXPECT_TRUE(MakeDirectories(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  struct stat st {};
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(MakeDirectories(deep)) << "one that exists is fine";

  test::WriteFile(dir.path() + "/file", "x");
  EXPECT_FALSE(MakeDirectories(dir.path() + "/file/hhsync")) << "a file in the way";
  EXPECT_FALSE(MakeDirectories(dir.path() + "/file"));
}

}  // namespace
}  // namespace hhsync
