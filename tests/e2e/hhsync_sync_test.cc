// Whole syncs with the real hhsync binary: the reference server on loopback,
// an emulated handheld and a registry store in a temporary program
// directory, a recorder program as the page opener and as the CE
// application manager.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "platform/sqlite/sqlite_registry.h"
#include "device/wide_text.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"
#include "support/edm_body.h"
#include "support/process.h"
#include "support/reference_server_fixture.h"
#include "support/sync_log_reader.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::Bytes;
using test::EdmBody;
using test::RunProcess;
using test::RunResult;
using test::SplitRecord;

constexpr const char* kReg = "Software\\Acme\\News\\";
constexpr const char* kProps =
    "name=Acme News\nregistry=Software\\Acme\\News\\\nexname=news.exe\npartner=acme\n"
    "product=news\n";
constexpr const char* kProfile =
    "OK\n2\nnews|3|0\nsport|1|0\n3\n"
    "Headline A|101|a3|a4|1|news|a7\n"
    "Headline B|102|b3|b4|2|news|b7\n"
    "Match|201|m3|m4|5|sport|m7\n";

class HhsyncSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    std::string err;
    ASSERT_TRUE(EmulatedHandheld::Init(Image(), &err)) << err;
    admin_ = std::make_unique<EmulatedHandheld>(Image(), clock_);
    ASSERT_TRUE(admin_->CreateVolume("news.vol", &err));
    ASSERT_TRUE(admin_->InstallLibrary("zvdll", &err));
    SetDevice("baseurl", server_.BaseUrl());
    SetDevice("dbp", "news.vol");
    SetDevice("loginurl", "http://login.test/page");
    test::WriteSdat(dir_.File("S.DAT"), kProps);

    // One program records every start: as the page opener and as the
    // application manager.
    recorder_ = dir_.File("recorder");
    test::WriteFile(recorder_, "#!/bin/sh\n{ printf '%s' \"$0\"; for a in \"$@\"; do printf ' [%s]' "
                               "\"$a\"; done; echo; } >> '" + dir_.File("started.txt") + "'\n");
    chmod(recorder_.c_str(), 0755);
    SqliteRegistry reg(dir_.File("registry.db"));
    reg.CreateKey(RegRoot::kLocalMachine, kAppManagerKey);
    reg.SetValue(RegRoot::kLocalMachine, kAppManagerKey, "", RegValue::String(recorder_));
    RegistryKey(reg, kReg).Set("log", "YES");

    server_.WriteFile("profile.txt", kProfile);
    server_.WriteFile("data/101/1.edm", EdmBody(1, {Bytes(10, 'a')}));
    server_.WriteFile("data/102/2.edm",
                      EdmBody(3, {SplitRecord(12, 20, 'b'), SplitRecord(9, 30, 'c'),
                                  SplitRecord(8, 8, 'd')}));
    server_.WriteFile("data/201/5.edm", EdmBody(2, {SplitRecord(10, 16, 'e')}));
    server_.WriteFile("resources.txt", "OK\nlist\n1|CAB|r1|app.cab\n2|INI|r1|setup.ini\n3|DAT|r1|x\n");
    server_.WriteFile("resources/1", "cab-bytes");
    server_.WriteFile("resources/2", "[ini]\r\n");
    server_.WriteFile("resources/3", "data-resource");
  }
  std::string Image() const { return dir_.File("handheld.db"); }
  void SetDevice(const std::string& name, const std::string& value) {
    std::string err;
    ASSERT_TRUE(admin_->RegSet(std::string(kReg) + name, value, &err)) << err;
  }
  std::optional<std::string> Device(const std::string& name) {
    std::optional<std::string> v;
    std::string err;
    EXPECT_TRUE(admin_->RegGet(std::string(kReg) + name, &v, &err));
    return v;
  }
  void AddKeep(uint32_t v100, const std::string& t101) {
    std::string err;
    CEOID id;
    ASSERT_TRUE(admin_->AddRecord("news.vol", "keep",
                                  {CePropVal::Ui4(0x00640013, v100),
                                   CePropVal::Text(0x0065001F, AnsiToWide(t101)),
                                   CePropVal::Text(0x0067001F, u"t103"),
                                   CePropVal::Text(0x0068001F, u"t104"),
                                   CePropVal::Text(0x0069001F, u"t105")},
                                  &id, &err))
        << err;
  }
  RunResult Hhsync(const std::string& mode = "") {
    std::vector<std::string> argv = {HHSYNC_BIN};
    if (!mode.empty()) argv.push_back(mode);
    return RunProcess(argv, {"HHSYNC_HOME=" + dir_.path(), "HHSYNC_UI=none",
                             "HHSYNC_OPEN=" + recorder_});
  }
  HandheldDump Dump() {
    HandheldDump d;
    std::string err;
    EXPECT_TRUE(admin_->Dump(&d, &err)) << err;
    return d;
  }
  const HandheldDump::Database* Db(const HandheldDump& d, const std::string& name) {
    for (const auto& v : d.volumes)
      for (const auto& db : v.databases)
        if (db.name == name) return &db;
    return nullptr;
  }
  std::vector<std::string> Paths() {
    std::vector<std::string> out;
    for (const auto& r : server_.RequestLog()) out.push_back(r["path"]);
    return out;
  }
  uint32_t LastSync() {
    SqliteRegistry reg(dir_.File("registry.db"));
    auto v = reg.Query(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst");
    return v ? v->AsDword() : 0;
  }
  std::vector<std::string> Started() {
    std::vector<std::string> lines;
    std::string s = test::ReadFile(dir_.File("started.txt"));
    for (std::size_t pos = 0; pos < s.size();) {
      std::size_t nl = s.find('\n', pos);
      lines.push_back(s.substr(pos, nl - pos));
      pos = nl + 1;
    }
    return lines;
  }
  std::vector<std::string> Logged() {
    return test::LogMessages(test::ReadFile(dir_.File("sync.txt")));
  }

  test::TempDir dir_;
  test::ReferenceServerProcess server_;
  FakeClock clock_;
  std::unique_ptr<EmulatedHandheld> admin_;
  std::string recorder_;
};

TEST_F(HhsyncSyncTest, OrdinarySyncBringsCategoriesContentAndResources) {
  AddKeep(7, "m:page");
  SetDevice("ni", "NO");
  RunResult r = Hhsync();
  EXPECT_EQ(r.err, "");

  auto dump = Dump();
  auto* cats = Db(dump, "cats");
  ASSERT_NE(cats, nullptr);
  std::map<std::string, uint32_t> versions;
  for (const auto& rec : cats->records) {
    std::string key;
    uint32_t version = 0;
    for (const auto& p : rec.props) {
      if (p.propid == 0x0064001F) key = WideToUtf8(p.lpwsz);
      if (p.propid == 0x00650013) version = p.ulVal;
    }
    versions[key] = version;
  }
  EXPECT_EQ(versions, (std::map<std::string, uint32_t>{{"news", 3}, {"sport", 1}}));
  ASSERT_NE(Db(dump, "c_news"), nullptr);
  EXPECT_EQ(Db(dump, "c_news")->records.size(), 2u);
  ASSERT_NE(Db(dump, "J102"), nullptr);
  EXPECT_EQ(Db(dump, "J102")->records.size(), 3u);
  EXPECT_EQ(Db(dump, "JJ102")->records.size(), 3u);
  EXPECT_EQ(Db(dump, "J101"), nullptr) << "a single record lives in its index record";
  EXPECT_EQ(Db(dump, "keep"), nullptr) << "posted and deleted after the OK";
  ASSERT_NE(Db(dump, "zavRes"), nullptr);
  EXPECT_EQ(Db(dump, "zavRes")->records.size(), 3u);
  EXPECT_EQ(Db(dump, "zavResA")->records.size(), 3u);
  EXPECT_EQ(test::ReadFile(dir_.File("app.cab")), "cab-byt") << "a short last read loses two bytes";

  EXPECT_EQ(server_.ReadFile("keep-received.txt"), "p=acme&count=1&keep=7|t104|m:page|t105|t103|\n");
  auto started = Started();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0], recorder_ + " [" + dir_.File("setup.ini") + "]");
  EXPECT_EQ(started[1], recorder_ + " [http://login.test/page?m=no]");
  EXPECT_NE(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "NO");

  auto logged = Logged();
  ASSERT_GE(logged.size(), 2u);
  EXPECT_EQ(logged[0], "****Sync Started***");
  EXPECT_EQ(logged[1], "Version 2.86 build 67");
}

TEST_F(HhsyncSyncTest, FirstRunHandshakeClearsNiAndOpensTheFirstRunPage) {
  SetDevice("ni", "YES");
  SetDevice("dbpok", "OK");
  SetDevice("dllok", "ok");
  SetDevice("furl", "http://first.test/welcome");
  RunResult r = Hhsync("-first");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Device("dbpok"), "DONE");
  EXPECT_EQ(Device("dllok"), "DONE");
  EXPECT_EQ(Device("ni"), "NO");
  auto dump = Dump();
  std::vector<std::string> functions;
  for (const auto& c : dump.calls) functions.push_back(c.function);
  ASSERT_GE(functions.size(), 2u);
  EXPECT_EQ(functions.front(), "RAPIlaunchapp");
  EXPECT_EQ(functions.back(), "RAPIlaunchafter");
  EXPECT_EQ(std::count(functions.begin(), functions.end(), "RAPIlaunchapp"), 1)
      << "sd6 was published by the first launch";
  auto started = Started();
  EXPECT_NE(std::find(started.begin(), started.end(), recorder_ + " [http://first.test/welcome]"),
            started.end());
  EXPECT_NE(LastSync(), 0u);
  EXPECT_NE(Db(dump, "cats"), nullptr);
}

TEST_F(HhsyncSyncTest, NotYetDueWithPageRequestsOnlyPostsAndOpensTheBrowser) {
  {
    SqliteRegistry reg(dir_.File("registry.db"));
    RegistryKey(reg, kReg).Set("tu", "24");
    reg.CreateKey(RegRoot::kLocalMachine, "Software\\Acme\\News");
    reg.SetValue(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst",
                 RegValue::Dword(static_cast<uint32_t>(time(nullptr) - 12 * 3600)));
  }
  uint32_t before = LastSync();
  AddKeep(1, "m:one");
  AddKeep(2, "m:two");
  server_.WriteFile("keep-reply.txt", "OK\nhello\n");
  RunResult r = Hhsync();
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/zavrik/update/keep"}));
  EXPECT_EQ(Started(), (std::vector<std::string>{recorder_ + " [http://login.test/page?m=hello]"}));
  EXPECT_EQ(LastSync(), before);
  EXPECT_EQ(Db(Dump(), "keep"), nullptr);

  // A keep entry that is not a page request makes it a full sync after all.
  AddKeep(3, "note");
  Hhsync();
  auto paths = Paths();
  EXPECT_NE(std::find(paths.begin(), paths.end(), "/zavrik/update/profile"), paths.end());
}

TEST_F(HhsyncSyncTest, NotDueWithoutKeepEntriesEndsEarly) {
  {
    SqliteRegistry reg(dir_.File("registry.db"));
    RegistryKey(reg, kReg).Set("tu", "24");
    reg.CreateKey(RegRoot::kLocalMachine, "Software\\Acme\\News");
    reg.SetValue(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst",
                 RegValue::Dword(static_cast<uint32_t>(time(nullptr) - 3600)));
  }
  RunResult r = Hhsync();
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(Paths().empty());
  EXPECT_FALSE(test::FileExists(dir_.File("sync.txt"))) << "no progress dialog, no log";
}

TEST_F(HhsyncSyncTest, FailedContentStepLeavesBookkeepingAndFailedPostKeepsEntries) {
  SetDevice("ni", "YES");
  server_.WriteFile("keep-reply.txt", "FAIL\n");
  AddKeep(9, "x");
  // The six resource records go in; every handheld write after them fails.
  std::string err;
  ASSERT_TRUE(admin_->AddFault({"CeWriteRecordProps", 7, true, 87, 0}, &err));
  RunResult failed = Hhsync();
  EXPECT_NE(failed.err.find("hhsync: message: Unable to write category, please sync again."),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "YES");
  auto dump = Dump();
  ASSERT_NE(Db(dump, "keep"), nullptr) << "entries stay after a failed post";
  EXPECT_EQ(Db(dump, "zavRes")->records.size(), 3u);
  // The browser still opens, with an empty message, after a failed post.
  auto started = Started();
  EXPECT_NE(std::find(started.begin(), started.end(), recorder_ + " [http://login.test/page?m=]"),
            started.end());

  // The handheld takes writes again, but the resource list brings no change:
  // the sync is complete on the handheld yet not recorded.
  ASSERT_TRUE(admin_->ClearFaults(&err));
  server_.WriteFile("keep-reply.txt", "OK\n");
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_EQ(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "YES");
  dump = Dump();
  EXPECT_EQ(Db(dump, "keep"), nullptr);
  EXPECT_EQ(Db(dump, "c_news")->records.size(), 2u);

  // A changed resource makes the next sync complete.
  server_.WriteFile("resources.txt", "OK\nlist\n1|CAB|r2|app.cab\n2|INI|r1|setup.ini\n3|DAT|r1|x\n");
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_NE(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "NO");
}

TEST_F(HhsyncSyncTest, NoHandheldEndsAfterTheWaitAndFirstRunSaysSo) {
  std::string err;
  ASSERT_TRUE(admin_->SetConnected(false, &err));
  RunResult ordinary = Hhsync();
  EXPECT_EQ(ordinary.err, "");
  RunResult first = Hhsync("-first");
  EXPECT_EQ(first.err,
            "hhsync: message: Unable to connect to Handheld device\\nIf this was a new Install, "
            "you will need to re-run\\nthis install with the device connected. [ok] -> ok\n");
  EXPECT_TRUE(Paths().empty());
}

}  // namespace
}  // namespace hhsync
