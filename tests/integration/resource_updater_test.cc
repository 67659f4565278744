// The resource step against the reference server: status list, reconcile
// with "zavResA" and "zavRes", downloads into memory and into files, the CE
// application manager's command line, and the write recovery.

#include "extras/resource_updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/config_file.h"
#include "app/dialogs/progress_dialog.h"
#include "device/device_database.h"
#include "device/records.h"
#include "device/wide_text.h"
#include "platform/curl/curl_http.h"
#include "platform/linux/env_paths.h"
#include "platform/registry.h"
#include "settings/sync_settings.h"
#include "support/reference_server_fixture.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::ReferenceServerProcess;
using test::TestPlatform;

constexpr const char* kPath = "Software\\Acme\\News\\";
constexpr const char* kManager = "/opt/ce/CEAPPMGR.EXE";

// A stored resource record, as the test reads it back.
struct Stored {
  uint32_t rid = 0;
  std::string revision, type, name;
  std::vector<uint8_t> data;
  bool hasData = false;
};

class ResourceUpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server_.Start(&err)) << err;
    p_.SetHttp(&http_);
    ASSERT_TRUE(p_.handheld().CreateVolume("vol", &err)) << err;
    p_.Connect();
    volume_ = std::make_unique<DeviceDatabase>(p_.ports(), "vol");
    ASSERT_TRUE(volume_->mounted());
    // The program directory sits one level below the test directory, so a
    // file written outside it would be found there.
    programDir_ = p_.dir().File("program");
    std::filesystem::create_directory(programDir_);
    paths_ = std::make_unique<EnvPaths>(programDir_);
    ports_ = p_.ports();
    ports_.paths = paths_.get();
    ASSERT_TRUE(p_.registry().CreateKey(RegRoot::kLocalMachine, kAppManagerKey));
    ASSERT_TRUE(p_.registry().SetValue(RegRoot::kLocalMachine, kAppManagerKey, "",
                                       RegValue::String(kManager)));
    props_.Set("registry", kPath);
    props_.Set("partner", "acme");
    settings_ = std::make_unique<SyncSettings>(ports_, &props_);
    progress_ = std::make_unique<ProgressDialog>(ports_, nullptr, "News", true, false, kPath);
    progress_->OnInitDialog();
    statusUrl_ = server_.BaseUrl() + "/update/resource?p=acme";
  }

  bool Run() {
    ResourceUpdater updater(ports_, statusUrl_);
    return updater.UpdateResources(*progress_, *settings_);
  }

  std::vector<Stored> Records(const std::string& database) {
    std::vector<Stored> out;
    for (const auto& volume : p_.Dump().volumes) {
      for (const auto& db : volume.databases) {
        if (db.name != database) continue;
        for (const auto& record : db.records) {
          Stored s;
          for (const auto& prop : record.props) {
            switch (prop.propid) {
              case UintProp(100):
                s.rid = prop.ulVal;
                break;
              case TextProp(101):
                s.revision = WideToAnsi(prop.lpwsz);
                break;
              case TextProp(102):
                s.type = WideToAnsi(prop.lpwsz);
                break;
              case TextProp(103):
                s.name = WideToAnsi(prop.lpwsz);
                break;
              case BlobProp(104):
                s.data = prop.blob;
                s.hasData = true;
                break;
              default:
                ADD_FAILURE() << "unexpected property " << prop.propid;
            }
          }
          out.push_back(s);
        }
      }
    }
    return out;
  }
  bool HasDatabase(const std::string& name) {
    for (const auto& volume : p_.Dump().volumes) {
      for (const auto& db : volume.databases) {
        if (db.name == name) return true;
      }
    }
    return false;
  }
  // The rid values of the downloads the server was asked for, in order.
  std::vector<std::string> Downloads() {
    std::vector<std::string> rids;
    for (const auto& request : server_.RequestLog()) {
      std::string query = request["query"].get<std::string>();
      std::size_t at = query.find("&rid=");
      if (at != std::string::npos) rids.push_back(query.substr(at + 5));
    }
    return rids;
  }
  std::string Program(const std::string& name) { return programDir_ + "/" + name; }

  ReferenceServerProcess server_;
  CurlHttp http_;
  TestPlatform p_;
  std::unique_ptr<DeviceDatabase> volume_;
  std::string programDir_;
  std::unique_ptr<EnvPaths> paths_;
  Ports ports_;
  PropertySet props_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<ProgressDialog> progress_;
  std::string statusUrl_;
};

TEST(ResourceStatusListTest, LinesAreSplitIntoFourFields) {
  ResourceUpdater updater(Ports{}, "http://h/update/resource?p=1");
  ASSERT_TRUE(updater.ParseStatusList(
      "ok\r\nsecond|line|is|ignored\r\n1|CAB|r1|a.cab|extra\r\nab\r\n2|INI|r2\r\n"
      "3|BMP|r3|x\r\n3|BMP|r4|y\r\n  \n\n"));
  const auto& list = updater.downloadList();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(updater.statusList().size(), 3u);
  EXPECT_EQ(list.at("1")->type(), "CAB");
  EXPECT_EQ(list.at("1")->revision(), "r1");
  EXPECT_EQ(list.at("1")->name(), "a.cab");
  EXPECT_EQ(list.at("2")->name(), "");        // three fields: no name
  EXPECT_EQ(list.at("3")->revision(), "r4");  // the later line wins
  EXPECT_EQ(updater.statusList().at("3")->name(), "y");
  EXPECT_NE(list.at("3").get(), updater.statusList().at("3").get());
  EXPECT_EQ(list.count("second"), 0u);
  EXPECT_EQ(list.count("ab"), 0u);
}

TEST(ResourceStatusListTest, FirstLineMustBeOk) {
  EXPECT_FALSE(ResourceUpdater(Ports{}, "u").ParseStatusList("FAIL\nx\n1|CAB|r|a\n"));
  EXPECT_FALSE(ResourceUpdater(Ports{}, "u").ParseStatusList(""));
  EXPECT_FALSE(ResourceUpdater(Ports{}, "u").ParseStatusList("OKAY\nx\n"));
  EXPECT_TRUE(ResourceUpdater(Ports{}, "u").ParseStatusList("Ok \t\r\n"));
  // Only trailing white space is removed.
  EXPECT_FALSE(ResourceUpdater(Ports{}, "u").ParseStatusList(" OK\n"));
}

TEST(ResourceStatusListTest, PlainFileNames) {
  EXPECT_TRUE(IsPlainFileName("setup.ini"));
  EXPECT_TRUE(IsPlainFileName("..ini"));
  EXPECT_FALSE(IsPlainFileName(""));
  EXPECT_FALSE(IsPlainFileName("."));
  EXPECT_FALSE(IsPlainFileName(".."));
  EXPECT_FALSE(IsPlainFileName("../evil"));
  EXPECT_FALSE(IsPlainFileName("sub\\evil.cab"));
  EXPECT_FALSE(IsPlainFileName("/etc/evil"));
}

TEST_F(ResourceUpdaterTest, NewResourcesOfEachTypeAreStored) {
  server_.WriteFile("resources.txt",
                    "OK\nstatus\n1|CAB|r1|pkg.cab\n2|INI|r1|setup.ini\n3|PRC|r1|app.prc\n"
                    "4|BMP|r2|logo.bmp\n5|PDB|r1|app.pdb\n");
  server_.WriteFile("resources/1", "CABBYTES\r\n");
  server_.WriteFile("resources/2", "[setup]\r\n");
  server_.WriteFile("resources/3", "never fetched");
  server_.WriteFile("resources/4", std::string("\x01\x02\x00\x03", 4));

  EXPECT_TRUE(Run());

  auto status = Records("zavResA");
  ASSERT_EQ(status.size(), 3u);  // PRC and PDB are never written
  EXPECT_EQ(status[0].rid, 1u);
  EXPECT_EQ(status[0].revision, "r1");
  EXPECT_EQ(status[0].type, "CAB");
  EXPECT_EQ(status[0].name, "pkg.cab");
  EXPECT_EQ(status[1].rid, 2u);
  EXPECT_EQ(status[2].rid, 4u);
  for (const auto& s : status) EXPECT_FALSE(s.hasData);

  auto resources = Records("zavRes");
  ASSERT_EQ(resources.size(), 3u);
  EXPECT_EQ(resources[0].rid, 1u);
  EXPECT_EQ(resources[0].data, std::vector<uint8_t>{0});
  EXPECT_EQ(resources[1].rid, 2u);
  EXPECT_EQ(resources[1].type, "INI");
  EXPECT_EQ(resources[1].data, std::vector<uint8_t>{0});
  EXPECT_EQ(resources[2].rid, 4u);
  EXPECT_EQ(resources[2].revision, "r2");
  EXPECT_EQ(resources[2].name, "logo.bmp");
  EXPECT_EQ(resources[2].data, (std::vector<uint8_t>{1, 2, 0, 3}));

  // Files arrive as the transport writes them: a short last read loses two
  // bytes.
  EXPECT_EQ(test::ReadFile(Program("pkg.cab")), "CABBYTES");
  EXPECT_EQ(test::ReadFile(Program("setup.ini")), "[setup]");
  EXPECT_FALSE(test::FileExists(Program("logo.bmp")));
  EXPECT_EQ(Downloads(), (std::vector<std::string>{"1", "2", "4"}));

  EXPECT_EQ(p_.shell().Waited(),
            std::vector<std::string>{std::string(kManager) + " " + Program("setup.ini")});
  EXPECT_TRUE(p_.ui().Messages().empty());

  // 5 status entries (2 steps each, PRC and PDB 1), 5 downloads (1 step
  // each, another step for the one kept in memory).
  auto view = progress_->Snapshot();
  EXPECT_EQ(view.status, "Getting status from server.");
  EXPECT_EQ(view.upper.position, 1);
  EXPECT_EQ(view.lower.range, 20);
  EXPECT_EQ(view.lower.position, 8 + 6);
}

TEST_F(ResourceUpdaterTest, IdenticalListChangesNothingAndDownloadsNothing) {
  server_.WriteFile("resources.txt", "OK\n\n1|CAB|r1|pkg.cab\n4|BMP|r2|logo.bmp\n");
  server_.WriteFile("resources/1", "CABBYTES\r\n");
  server_.WriteFile("resources/4", "bitmap");
  ASSERT_TRUE(Run());
  ASSERT_EQ(Downloads().size(), 2u);

  EXPECT_FALSE(Run());
  EXPECT_EQ(Downloads().size(), 2u);
  EXPECT_EQ(Records("zavResA").size(), 2u);
  EXPECT_EQ(Records("zavRes").size(), 2u);
}

TEST_F(ResourceUpdaterTest, ChangedRevisionIsDownloadedAgainAndRemovedOnesGo) {
  server_.WriteFile("resources.txt", "OK\n\n1|BMP|r1|a\n2|BMP|r1|b\n");
  server_.WriteFile("resources/1", "one");
  server_.WriteFile("resources/2", "two");
  ASSERT_TRUE(Run());

  server_.WriteFile("resources.txt", "OK\n\n2|BMP|r2|b\n");
  server_.WriteFile("resources/2", "two, again");
  EXPECT_TRUE(Run());
  EXPECT_EQ(Downloads(), (std::vector<std::string>{"1", "2", "2"}));
  auto status = Records("zavResA");
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].revision, "r2");
  auto resources = Records("zavRes");
  ASSERT_EQ(resources.size(), 1u);
  EXPECT_EQ(std::string(resources[0].data.begin(), resources[0].data.end()), "two, again");
}

TEST_F(ResourceUpdaterTest, TwoIniFilesGoToTheManagerInOrder) {
  server_.WriteFile("resources.txt", "OK\n\n5|INI|r|a.ini\n6|INI|r|b.ini\n7|CAB|r|c.cab\n");
  server_.WriteFile("resources/5", "[a]\r\n");
  server_.WriteFile("resources/6", "[b]\r\n");
  server_.WriteFile("resources/7", "cab\r\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(p_.shell().Waited(),
            std::vector<std::string>{std::string(kManager) + " " + Program("a.ini") + " " +
                                     Program("b.ini")});
}

TEST_F(ResourceUpdaterTest, CabAloneDoesNotStartTheManager) {
  server_.WriteFile("resources.txt", "OK\n\n7|CAB|r|c.cab\n");
  server_.WriteFile("resources/7", "cab\r\n");
  EXPECT_TRUE(Run());
  EXPECT_TRUE(test::FileExists(Program("c.cab")));
  EXPECT_TRUE(p_.shell().Waited().empty());
}

TEST_F(ResourceUpdaterTest, ManagerFailingToStartStillSucceeds) {
  p_.shell().SetWaitResult(false);
  server_.WriteFile("resources.txt", "OK\n\n5|INI|r|a.ini\n");
  server_.WriteFile("resources/5", "[a]\r\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(p_.shell().Waited().size(), 1u);
}

TEST_F(ResourceUpdaterTest, PrcOnlyListAppliesEverySyncAndWritesNothing) {
  server_.WriteFile("resources.txt", "OK\n\n1|PRC|r|a.prc\n2|PDB|r|b.pdb\n");
  server_.WriteFile("resources/1", "x");
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Run());
  EXPECT_TRUE(HasDatabase("zavResA"));
  EXPECT_TRUE(HasDatabase("zavRes"));
  EXPECT_TRUE(Records("zavResA").empty());
  EXPECT_TRUE(Records("zavRes").empty());
  EXPECT_TRUE(Downloads().empty());
  EXPECT_TRUE(p_.shell().Waited().empty());
}

TEST_F(ResourceUpdaterTest, RidNotInCanonicalFormIsDownloadedEverySync) {
  server_.WriteFile("resources.txt", "OK\n\n007|BMP|r1|x\n");
  server_.WriteFile("resources/007", "seven");
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Run());
  EXPECT_EQ(Downloads(), (std::vector<std::string>{"007", "007"}));
  auto resources = Records("zavRes");
  ASSERT_EQ(resources.size(), 1u);  // the earlier copy was deleted
  EXPECT_EQ(resources[0].rid, 7u);
  EXPECT_EQ(Records("zavResA").size(), 1u);
}

TEST_F(ResourceUpdaterTest, ShortLineIsSkipped) {
  server_.WriteFile("resources.txt", "OK\n\n1|\n2|BMP|r\n");
  server_.WriteFile("resources/2", "two");
  EXPECT_TRUE(Run());
  EXPECT_EQ(Downloads(), std::vector<std::string>{"2"});
  auto status = Records("zavResA");
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rid, 2u);
  EXPECT_EQ(status[0].name, "");
}

TEST_F(ResourceUpdaterTest, NameThatIsNotAFileNameIsSkipped) {
  server_.WriteFile("resources.txt",
                    "OK\n\n1|CAB|r|../evil.cab\n2|INI|r|..\n3|INI|r|sub\\evil.ini\n"
                    "4|INI|r|\n5|INI|r|good.ini\n");
  for (const char* rid : {"1", "2", "3", "4", "5"}) {
    server_.WriteFile("resources/" + std::string(rid), "x\r\n");
  }
  EXPECT_TRUE(Run());
  EXPECT_FALSE(test::FileExists(p_.dir().File("evil.cab")));
  EXPECT_FALSE(test::FileExists(Program("sub\\evil.ini")));
  // Only the good one was fetched, stored and installed.
  EXPECT_EQ(Downloads(), std::vector<std::string>{"5"});
  auto resources = Records("zavRes");
  ASSERT_EQ(resources.size(), 1u);
  EXPECT_EQ(resources[0].rid, 5u);
  EXPECT_EQ(p_.shell().Waited(),
            std::vector<std::string>{std::string(kManager) + " " + Program("good.ini")});
  std::string log = test::ReadFile(Program("sync.txt"));
  EXPECT_NE(log.find("../evil.cab"), std::string::npos) << log;
  EXPECT_NE(log.find("sub\\evil.ini"), std::string::npos) << log;
  std::vector<std::string> inProgramDir;
  for (const auto& entry : std::filesystem::directory_iterator(programDir_)) {
    inProgramDir.push_back(entry.path().filename().string());
  }
  std::sort(inProgramDir.begin(), inProgramDir.end());
  EXPECT_EQ(inProgramDir, (std::vector<std::string>{"good.ini", "sync.txt"}));
}

TEST_F(ResourceUpdaterTest, WriteRefusedOnceRecoversAfterRemount) {
  server_.WriteFile("resources.txt", "OK\n\n1|BMP|r|a\n");
  server_.WriteFile("resources/1", "one");
  std::string err;
  InjectedFault fault;
  fault.operation = "CeWriteRecordProps";
  fault.nth = 1;
  fault.error = ce_error::kDiskFull;
  ASSERT_TRUE(p_.handheld().AddFault(fault, &err)) << err;
  EXPECT_TRUE(Run());
  EXPECT_TRUE(p_.ui().Messages().empty());
  EXPECT_EQ(Records("zavResA").size(), 1u);
  EXPECT_EQ(Records("zavRes").size(), 1u);
}

TEST_F(ResourceUpdaterTest, WriteRefusedTwiceTellsTheUser) {
  server_.WriteFile("resources.txt", "OK\n\n1|BMP|r|a\n");
  server_.WriteFile("resources/1", "one");
  std::string err;
  InjectedFault fault;
  fault.operation = "CeWriteRecordProps";
  fault.nth = 1;
  fault.every = true;
  fault.error = ce_error::kInvalidParameter;
  ASSERT_TRUE(p_.handheld().AddFault(fault, &err)) << err;
  EXPECT_FALSE(Run());
  auto shown = p_.ui().Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to write resource, please sync again.");
  EXPECT_EQ(shown[0].style.buttons, MbButtons::kOk);
  EXPECT_TRUE(shown[0].style.systemModal);
  EXPECT_TRUE(Records("zavResA").empty());
  EXPECT_TRUE(Downloads().empty());
}

TEST_F(ResourceUpdaterTest, EmptyDownloadFailsTheStepWithoutAMessage) {
  server_.WriteFile("resources.txt", "OK\n\n1|BMP|r|a\n2|BMP|r|b\n");
  server_.WriteFile("resources/2", "two");  // 1 is missing: 404
  EXPECT_FALSE(Run());
  EXPECT_TRUE(p_.ui().Messages().empty());
  EXPECT_EQ(Records("zavResA").size(), 2u);  // written before the downloads
  EXPECT_TRUE(Records("zavRes").empty());
  EXPECT_EQ(Downloads(), std::vector<std::string>{"1"});
}

TEST_F(ResourceUpdaterTest, StatusReplyNotOkChangesNothing) {
  server_.WriteFile("resources.txt", "OK\n\n1|BMP|r|a\n");
  server_.WriteFile("resources/1", "one");
  ASSERT_TRUE(Run());
  server_.WriteFile("resources.txt", "ERROR\n\n");
  EXPECT_FALSE(Run());
  EXPECT_EQ(Records("zavResA").size(), 1u);
  EXPECT_EQ(Records("zavRes").size(), 1u);
  EXPECT_EQ(Downloads().size(), 1u);
}

}  // namespace
}  // namespace hhsync
