// The resource step against the reference server: reconcile with "zavResA"
// and "zavRes", downloads into memory and into files, the CE application
// manager's command line, and the write recovery. How the status list is
// read is held to its rules by tests/fuzz/resource_status_fuzz.cc, whose
// seeds run in CI (scripts/fuzz).

#include "extras/resource_updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/registry.h"
#include "support/content_fixture.h"

namespace hhsync {
namespace {

using Lines = std::vector<std::string>;
const std::string kManager = "/opt/ce/CEAPPMGR.EXE";

class ResourceUpdaterTest : public test::HandheldServerTest {
 protected:
  void SetUp() override {
    HandheldServerTest::SetUp();
    platform_.registry().CreateKey(RegRoot::kLocalMachine, kAppManagerKey);
    platform_.registry().SetValue(RegRoot::kLocalMachine, kAppManagerKey, "",
                                  RegValue::String(kManager));
  }
  // Serves the status reply and the resources (rid, body), then runs the step.
  bool Run(const std::string& reply,
           const std::vector<std::pair<std::string, std::string>>& files = {}) {
    server_.WriteFile("resources.txt", reply);
    for (const auto& [rid, body] : files) server_.WriteFile("resources/" + rid, body);
    ResourceUpdater updater(mount_, platform_.resourceDesktop(),
                            server_.BaseUrl() + "/update/resource?p=acme");
    return updater.UpdateResources({*progress_, *settings_, *link_});
  }
  // The rid of every download the server was asked for, in order.
  Lines Downloads() {
    Lines rids;
    for (const auto& request : server_.RequestLog()) {
      std::string query = request["query"];
      if (auto at = query.find("&rid="); at != std::string::npos)
        rids.push_back(query.substr(at + 5));
    }
    return rids;
  }
};

TEST_F(ResourceUpdaterTest, NewResourcesOfEachTypeAreStored) {
  EXPECT_TRUE(
      Run("OK\nstatus\n1|CAB|r1|pkg.cab\n2|INI|r1|setup.ini\n3|PRC|r1|app.prc\n"
          "4|BMP|r2|logo.bmp\n5|PDB|r1|app.pdb\n",
          {{"1", "CABBYTES\r\n"},
           {"2", "[setup]\r\n"},
           {"3", "never fetched"},
           {"4", std::string("\x01\x02\x00\x03", 4)}}));
  EXPECT_EQ(Records("zavResA"),
            (Lines{"1|r1|CAB|pkg.cab", "2|r1|INI|setup.ini", "4|r2|BMP|logo.bmp"}));
  EXPECT_EQ(Records("zavRes"),
            (Lines{"1|r1|CAB|pkg.cab|00", "2|r1|INI|setup.ini|00", "4|r2|BMP|logo.bmp|01020003"}));
  // Files arrive as the transport writes them: a short last read loses two bytes.
  EXPECT_EQ(test::ReadFile(Program("pkg.cab")), "CABBYTES");
  EXPECT_EQ(test::ReadFile(Program("setup.ini")), "[setup]");
  EXPECT_FALSE(test::FileExists(Program("logo.bmp")));
  EXPECT_EQ(Downloads(), (Lines{"1", "2", "4"}));
  EXPECT_EQ(platform_.shell().Waited(), Lines{kManager + " " + Program("setup.ini")});
  EXPECT_TRUE(platform_.ui().Messages().empty());
}

TEST_F(ResourceUpdaterTest, LaterSyncsFetchOnlyWhatChanged) {
  ASSERT_TRUE(Run("OK\n\n1|BMP|r1|a\n2|BMP|r1|b\n", {{"1", "one"}, {"2", "two"}}));
  EXPECT_FALSE(Run("OK\n\n1|BMP|r1|a\n2|BMP|r1|b\n"));  // identical: nothing to do
  EXPECT_EQ(Downloads().size(), 2u);
  EXPECT_TRUE(Run("OK\n\n2|BMP|r2|b\n", {{"2", "2nd"}}));  // 1 gone, 2 changed
  EXPECT_FALSE(Run("ERROR\n\n2|BMP|r3|b\n"));              // changes nothing
  EXPECT_EQ(Downloads(), (Lines{"1", "2", "2"}));
  EXPECT_EQ(Records("zavResA"), Lines{"2|r2|BMP|b"});
  EXPECT_EQ(Records("zavRes"), Lines{"2|r2|BMP|b|326e64"});

  // A rid not in canonical decimal form never matches what the handheld
  // gives back, and a PRC/PDB-only list never reconciles away: both go to
  // the apply step on every sync.
  EXPECT_TRUE(Run("OK\n\n007|BMP|r1|c\n", {{"007", "seven"}}));
  EXPECT_TRUE(Run("OK\n\n007|BMP|r1|c\n"));
  EXPECT_EQ(Downloads(), (Lines{"1", "2", "2", "007", "007"}));
  EXPECT_TRUE(Run("OK\n\n8|PRC|r1|p\n9|PDB|r1|q\n"));
  EXPECT_TRUE(Run("OK\n\n8|PRC|r1|p\n9|PDB|r1|q\n"));
  EXPECT_EQ(Downloads().size(), 5u) << "PRC and PDB are never fetched";
}

TEST_F(ResourceUpdaterTest, ManagerGetsTheIniFilesSavedOnly) {
  platform_.shell().SetWaitResult(false);  // a manager that does not start is not reported
  EXPECT_TRUE(Run("OK\n\n5|INI|r|a.ini\n6|INI|r|b.ini\n7|CAB|r|c.cab\n",
                  {{"5", "[a]\r\n"}, {"6", "[b]\r\n"}, {"7", "cab\r\n"}}));
  EXPECT_EQ(platform_.shell().Waited(),
            Lines{kManager + " " + Program("a.ini") + " " + Program("b.ini")});
  EXPECT_TRUE(Run("OK\n\n8|CAB|r|d.cab\n", {{"8", "cab\r\n"}}));
  EXPECT_TRUE(test::FileExists(Program("d.cab")));
  EXPECT_TRUE(platform_.ui().Messages().empty());

  // A manager path and an INI path with blanks each stay one argument: the
  // path unquoted would start "C:\Program.exe".
  const std::string manager = "C:\\Program Files\\CE\\ceappmgr.exe";
  platform_.registry().SetValue(RegRoot::kLocalMachine, kAppManagerKey, "",
                                RegValue::String(manager));
  EXPECT_TRUE(Run("OK\n\n9|INI|r|e f.ini\n", {{"9", "[e]\r\n"}}));
  EXPECT_EQ(platform_.shell().Waited().back(),
            "\"" + manager + "\" \"" + Program("e f.ini") + "\"");
}

TEST_F(ResourceUpdaterTest, NameThatIsNotAFileNameIsSkipped) {
  EXPECT_TRUE(
      Run("OK\n\n1|CAB|r|../evil.cab\n2|INI|r|..\n3|INI|r|sub\\evil.ini\n4|INI|r|\n"
          "5|INI|r|good.ini\n",
          {{"1", "x"}, {"2", "x"}, {"3", "x"}, {"4", "x"}, {"5", "x\r\n"}}));
  EXPECT_EQ(Downloads(), Lines{"5"});
  EXPECT_EQ(Records("zavRes").size(), 1u);
  EXPECT_EQ(platform_.shell().Waited(), Lines{kManager + " " + Program("good.ini")});
  std::string log = test::ReadFile(Program("sync.txt"));
  EXPECT_NE(log.find("../evil.cab"), std::string::npos) << log;
  EXPECT_FALSE(test::FileExists(platform_.dir().File("evil.cab")));
}

TEST_F(ResourceUpdaterTest, ProgramFilesAndLinksAreNeverWrittenThroughAndACutFileIsNotUsed) {
  namespace fs = std::filesystem;
  test::WriteFile(Program("S.DAT"), "config");
  test::WriteFile(Program("registry.db"), "store");
  paths_.Reserve(Program("registry.db"));
  test::WriteFile(platform_.dir().File("outside.txt"), "outside");
  fs::create_symlink(platform_.dir().File("outside.txt"), Program("link.cab"));
  test::WriteFile(Program("old.ini"), "old contents");
  server_.WriteFile("resources/6.cut", "3");
  const std::string log = test::ReadFile(Program("sync.txt"));

  EXPECT_TRUE(
      Run("OK\n\n1|CAB|r|S.DAT\n2|INI|r|SYNC.TXT\n3|CAB|r|Registry.db\n"
          "4|CAB|r|registry.db-wal\n5|CAB|r|link.cab\n6|INI|r|old.ini\n"
          "7|INI|r|a\"b.ini\n8|CAB|r|.hhsync-download-x\n",
          {{"1", "x\r\n"},
           {"2", "x\r\n"},
           {"3", "x\r\n"},
           {"4", "x\r\n"},
           {"5", "cab\r\n"},
           {"6", "new contents\r\n"},
           {"7", "x\r\n"},
           {"8", "x\r\n"}}));
  EXPECT_EQ(Downloads(), (Lines{"5", "6"})) << "own files and quotes are refused unasked";
  EXPECT_EQ(test::ReadFile(Program("S.DAT")), "config");
  EXPECT_EQ(test::ReadFile(Program("registry.db")), "store");
  EXPECT_EQ(test::ReadFile(Program("sync.txt")).substr(0, log.size()), log);
  // The link itself was replaced; what it pointed to is untouched.
  EXPECT_EQ(test::ReadFile(platform_.dir().File("outside.txt")), "outside");
  EXPECT_FALSE(fs::is_symlink(Program("link.cab")));
  EXPECT_EQ(test::ReadFile(Program("link.cab")), "cab");
  // The cut download left the old file and was neither installed nor stored.
  EXPECT_EQ(test::ReadFile(Program("old.ini")), "old contents");
  EXPECT_TRUE(platform_.shell().Waited().empty());
  EXPECT_EQ(Records("zavRes"), Lines{"5|r|CAB|link.cab|00"});
  for (const auto& entry : fs::directory_iterator(programDir_)) {
    EXPECT_NE(entry.path().filename().string().rfind(".hhsync-", 0), 0u) << entry.path();
  }
}

TEST_F(ResourceUpdaterTest, RefusedWriteIsTriedOnceMoreAfterARemount) {
  platform_.AddFault("CeWriteRecordProps", 1, false, ce_error::kDiskFull);  // the next write only
  EXPECT_TRUE(Run("OK\n\n1|BMP|r|a\n", {{"1", "one"}}));
  EXPECT_TRUE(platform_.ui().Messages().empty());
  EXPECT_EQ(Records("zavResA").size() + Records("zavRes").size(), 2u);

  platform_.AddFault("CeWriteRecordProps", 1, true, ce_error::kInvalidParameter);  // every write on
  EXPECT_FALSE(Run("OK\n\n1|BMP|r2|a\n"));
  auto shown = platform_.ui().Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to write resource, please sync again.");
  EXPECT_TRUE(Records("zavResA").empty());  // the old revision went, the new one failed
  EXPECT_EQ(Downloads().size(), 2u) << "the data is fetched before its status is recorded";
}

TEST_F(ResourceUpdaterTest, EmptyDownloadFailsTheStepWithoutAMessage) {
  EXPECT_FALSE(Run("OK\n\n1|BMP|r|a\n2|BMP|r|b\n", {{"2", "two"}}));  // 1 is missing
  EXPECT_TRUE(platform_.ui().Messages().empty());
  // Nothing is recorded as current before its data arrived, so both are
  // fetched again next time.
  EXPECT_TRUE(Records("zavResA").empty());
  EXPECT_TRUE(Records("zavRes").empty());
  EXPECT_EQ(Downloads(), Lines{"1"});
}

TEST_F(ResourceUpdaterTest, AnEmptyListNamesNoRecordProblemThoughItsDatabaseDidNotOpen) {
  server_.WriteFile("resources.txt", "OK\nstatus\n");
  platform_.AddFault("CeOpenDatabaseEx", 1, true, 8);  // out of memory, at every open
  ResourceUpdater updater(mount_, platform_.resourceDesktop(),
                          server_.BaseUrl() + "/update/resource?p=acme");
  EXPECT_FALSE(updater.UpdateResources({*progress_, *settings_, *link_}));
  EXPECT_EQ(updater.facts().result, ResourcesResult::kUnchanged);
  EXPECT_TRUE(updater.recordProblems().empty()) << "nothing was to be written into it";
}

}  // namespace
}  // namespace hhsync
