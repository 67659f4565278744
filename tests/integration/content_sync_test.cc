// Content sync end to end below the run sequence: the profile exchange
// (with MarkUnchanged), Reconcile and LoadContent against the reference
// content server on loopback, over libcurl, writing into an emulated
// handheld whose databases are then checked record by record.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "content/category_list.h"
#include "device/device_database.h"
#include "device/wide_text.h"
#include "platform/curl/curl_http.h"
#include "settings/sync_settings.h"
#include "support/edm_body.h"
#include "support/reference_server_fixture.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::Bytes;
using test::EdmBody;
using test::ReferenceServerProcess;
using test::SplitRecord;
using test::TestPlatform;

constexpr const char* kPath = "Software\\Acme\\News\\";
constexpr const char* kVolume = "content.vol";

constexpr const char* kProfileV1 =
    "OK\n"
    "2\n"
    "news|3|0\n"
    "sport|5|0\n"
    "5\n"
    "Headline|101|a|b|1|news|x\n"
    "Brief|102|c|d|1|news|y\n"
    "Score|201|e|f|2|sport|z\n"
    "Table|202|g|h|1|sport|w\n"
    "Forecast|301|i|j|1|weather|v\n";

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}
std::string Hex(const std::string& bytes) { return Hex(test::ToBytes(bytes)); }

// One record as "PROPID=value,...": numbers in decimal, text as UTF-8, blobs
// in hex.
std::string RecordText(const HandheldDump::Record& record) {
  std::string out;
  for (const CePropVal& p : record.props) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X", p.propid);
    if (!out.empty()) out += ",";
    out += id;
    out += "=";
    switch (PropType(p.propid)) {
      case CEVT_UI4:
        out += std::to_string(p.ulVal);
        break;
      case CEVT_LPWSTR:
        out += WideToUtf8(p.lpwsz);
        break;
      default:
        out += Hex(p.blob);
        break;
    }
  }
  return out;
}

// What one run reported.
struct RunResult {
  bool exchanged = false;
  bool reconciled = false;
  bool loaded = false;
  int upperPosition = 0;  // the upper bar at the end of the run
};

class ContentSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server_.Start(&err)) << err;
    ASSERT_TRUE(http_.Initialise());
    platform_.SetHttp(&http_);
    platform_.Connect();
    test::WriteSdat(platform_.dir().File("S.DAT"),
                    std::string("registry=") + kPath + "\npartner=acme\nproduct=news\n");
    SetDevice("baseurl", server_.BaseUrl());
    SetDevice("loginurl", server_.BaseUrl() + "/login");
    SetDevice("log", "YES");
    ASSERT_TRUE(platform_.handheld().CreateVolume(kVolume, &err)) << err;

    server_.WriteFile("profile.txt", kProfileV1);
    server_.WriteFile("data/101/1.edm", EdmBody(3, {record101a_, record101b_, record101c_}));
    server_.WriteFile("data/102/1.edm", EdmBody(1, {Bytes(10, 'k')}));
    server_.WriteFile("data/201/2.edm", EdmBody(1, {Bytes(8, 'm')}));
    server_.WriteFile("data/202/1.edm", EdmBody(2, {record202a_, record202b_}));
    server_.WriteFile("data/301/1.edm", EdmBody(1, {Bytes(5, 'p')}));
  }

  void SetDevice(const std::string& name, const std::string& value) {
    std::string err;
    ASSERT_TRUE(platform_.handheld().RegSet(std::string(kPath) + name, value, &err)) << err;
  }
  void AddFault(const std::string& op, uint32_t nth, bool every, uint32_t error) {
    InjectedFault fault;
    fault.operation = op;
    fault.nth = nth;
    fault.every = every;
    fault.error = error;
    std::string err;
    ASSERT_TRUE(platform_.handheld().AddFault(fault, &err)) << err;
  }
  CEOID AddRecord(const std::string& database, const std::vector<CePropVal>& props) {
    CEOID id = 0;
    std::string err;
    EXPECT_TRUE(platform_.handheld().AddRecord(kVolume, database, props, &id, &err)) << err;
    return id;
  }

  // One sync as the run does it, from the profile to the written categories.
  RunResult Sync() {
    RunResult result;
    // Each run is a process of its own: it starts with nobody holding the
    // volume.
    DeviceDatabase::ResetSharedStateForTesting();
    DeviceDatabase volume(platform_.ports(), kVolume);
    EXPECT_TRUE(volume.mounted());
    SyncRunner runner(platform_.ports());
    SyncSettings settings(platform_.ports(), &runner.Properties());
    ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
    progress.OnInitDialog();
    CategoryList categories(platform_.ports());
    result.exchanged = runner.ExchangeProfile(settings, progress, categories);
    if (!result.exchanged) return result;
    result.reconciled = categories.Reconcile(progress);
    result.loaded = categories.LoadContent(progress, settings);
    result.upperPosition = progress.Snapshot().upper.position;
    return result;
  }

  // Each database of the volume with its records in traversal order.
  std::map<std::string, std::vector<std::string>> Databases() {
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& d : Volume().databases) {
      auto& records = out[d.name];
      for (const auto& r : d.records) records.push_back(RecordText(r));
    }
    return out;
  }
  // The record ids of each database.
  std::map<std::string, std::vector<CEOID>> RecordIds() {
    std::map<std::string, std::vector<CEOID>> out;
    for (const auto& d : Volume().databases) {
      auto& ids = out[d.name];
      for (const auto& r : d.records) ids.push_back(r.id);
    }
    return out;
  }
  HandheldDump::Volume Volume() {
    HandheldDump dump = platform_.Dump();
    for (const auto& v : dump.volumes) {
      if (v.name == kVolume) return v;
    }
    ADD_FAILURE() << "no volume";
    return {};
  }
  // Paths of the data requests the server has seen, in order.
  std::vector<std::string> DataRequests() {
    std::vector<std::string> paths;
    for (const auto& line : server_.RequestLog()) {
      std::string path = line.value("path", "");
      if (path.find("/update/data/") != std::string::npos) paths.push_back(path);
    }
    return paths;
  }
  std::string Log() { return test::ReadFile(platform_.dir().File("sync.txt")); }
  std::vector<std::string> Messages() { return platform_.ui().Texts(); }

  // What the handheld holds after a complete sync of kProfileV1.
  std::map<std::string, std::vector<std::string>> ExpectedAfterV1() {
    std::map<std::string, std::vector<std::string>> db;
    db["cats"] = {"0064001F=news,00650013=3,00660013=0", "0064001F=sport,00650013=5,00660013=0",
                  "0064001F=weather,00650013=0,00660013=1"};
    db["c_news"] = {
        "00640013=101,0065001F=1,0067001F=Headline,0068001F=a,0069001F=b,006A001F=x",
        "00640013=102,0065001F=1,0067001F=Brief,0068001F=c,0069001F=d,006A001F=y,006C0041=" +
            Hex(Bytes(10, 'k')) + "0000"};
    db["J101"] = {Part1(record101a_, 10, 0), Part1(record101b_, 12, 1), Part1(record101c_, 9, 2)};
    db["JJ101"] = {Part2(record101a_, 10, 0), Part2(record101b_, 12, 1), Part2(record101c_, 9, 2)};
    db["c_sport"] = {
        "00640013=201,0065001F=2,0067001F=Score,0068001F=e,0069001F=f,006A001F=z,006C0041=" +
            Hex(Bytes(8, 'm')) + "00000000",
        "00640013=202,0065001F=1,0067001F=Table,0068001F=g,0069001F=h,006A001F=w"};
    db["J202"] = {Part1(record202a_, 8, 0), Part1(record202b_, 16, 1)};
    db["JJ202"] = {Part2(record202a_, 8, 0), Part2(record202b_, 16, 1)};
    db["c_weather"] = {
        "00640013=301,0065001F=1,0067001F=Forecast,0068001F=i,0069001F=j,006A001F=v,006C0041=" +
        Hex(Bytes(5, 'p')) + "000000"};
    return db;
  }
  static std::string Part1(const std::string& record, std::size_t split, int seq) {
    return "007A0041=" + Hex(record.substr(0, split)) + ",007C0013=" + std::to_string(seq);
  }
  static std::string Part2(const std::string& record, std::size_t split, int seq) {
    return "007B0041=" + Hex(record.substr(split)) + ",007C0013=" + std::to_string(seq);
  }

  ReferenceServerProcess server_;
  CurlHttp http_;
  TestPlatform platform_;
  std::string record101a_ = SplitRecord(10, 30, 'a');
  std::string record101b_ = SplitRecord(12, 40, 'b');
  std::string record101c_ = SplitRecord(9, 9, 'c');
  std::string record202a_ = SplitRecord(8, 20, 'd');
  std::string record202b_ = SplitRecord(16, 16, 'e');
};

TEST_F(ContentSyncTest, FirstSyncFromNothing) {
  RunResult run = Sync();
  EXPECT_TRUE(run.exchanged);
  EXPECT_TRUE(run.reconciled);
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(Databases(), ExpectedAfterV1());
  EXPECT_EQ(DataRequests(), (std::vector<std::string>{
                                "/zavrik/update/data/101/1.edm", "/zavrik/update/data/102/1.edm",
                                "/zavrik/update/data/201/2.edm", "/zavrik/update/data/202/1.edm",
                                "/zavrik/update/data/301/1.edm"}));
  // Sort orders of the databases the sync created.
  for (const auto& d : Volume().databases) {
    std::vector<CEPROPID> sorts;
    for (const auto& s : d.sorts) sorts.push_back(s.propid);
    if (d.name == "cats") {
      EXPECT_EQ(sorts, std::vector<CEPROPID>{0x0064001F});
    } else if (d.name.rfind("c_", 0) == 0) {
      EXPECT_EQ(sorts, (std::vector<CEPROPID>{0x0067001F, 0x00640013})) << d.name;
    } else {
      EXPECT_EQ(sorts, std::vector<CEPROPID>{0x007C0013}) << d.name;
    }
  }
  EXPECT_NE(Log().find("updateing news"), std::string::npos);
  EXPECT_NE(Log().find("updateing sport"), std::string::npos);
  EXPECT_EQ(Log().find("updateing weather"), std::string::npos);  // not a listed category
  EXPECT_TRUE(Messages().empty()) << Messages()[0];
}

TEST_F(ContentSyncTest, SecondSyncWithNothingChangedFetchesAndWritesNothing) {
  ASSERT_TRUE(Sync().loaded);
  auto ids = RecordIds();
  std::size_t dataRequests = DataRequests().size();
  std::size_t requests = server_.RequestLog().size();

  RunResult run = Sync();
  EXPECT_TRUE(run.exchanged);
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(DataRequests().size(), dataRequests);
  EXPECT_EQ(server_.RequestLog().size(), requests + 1);  // the profile only
  EXPECT_EQ(RecordIds(), ids);
  EXPECT_EQ(Databases(), ExpectedAfterV1());
}

TEST_F(ContentSyncTest, VersionChangeOfOneItemRewritesOnlyThatItem) {
  ASSERT_TRUE(Sync().loaded);
  auto before = RecordIds();
  std::size_t dataRequests = DataRequests().size();

  std::string profile = kProfileV1;
  profile.replace(profile.find("news|3|0"), 8, "news|4|0");
  profile.replace(profile.find("Headline|101|a|b|1"), 18, "Headline|101|a|b|2");
  server_.WriteFile("profile.txt", profile);
  std::string fresh1 = SplitRecord(11, 24, 'q');
  std::string fresh2 = SplitRecord(8, 12, 'r');
  server_.WriteFile("data/101/2.edm", EdmBody(2, {fresh1, fresh2}));

  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);
  std::vector<std::string> requests = DataRequests();
  ASSERT_EQ(requests.size(), dataRequests + 1);
  EXPECT_EQ(requests.back(), "/zavrik/update/data/101/2.edm");

  auto expected = ExpectedAfterV1();
  expected["cats"] = {"0064001F=sport,00650013=5,00660013=0",
                      "0064001F=weather,00650013=0,00660013=1",
                      "0064001F=news,00650013=4,00660013=0"};
  expected["c_news"] = {
      expected["c_news"][1],
      "00640013=101,0065001F=2,0067001F=Headline,0068001F=a,0069001F=b,006A001F=x"};
  expected["J101"] = {Part1(fresh1, 11, 0), Part1(fresh2, 8, 1)};
  expected["JJ101"] = {Part2(fresh1, 11, 0), Part2(fresh2, 8, 1)};
  EXPECT_EQ(Databases(), expected);

  auto after = RecordIds();
  // Untouched: the other item of the category and every other category.
  EXPECT_EQ(after["c_news"][0], before["c_news"][1]);
  EXPECT_NE(after["c_news"][1], before["c_news"][0]);
  for (const char* same : {"c_sport", "J202", "JJ202", "c_weather"}) {
    EXPECT_EQ(after[same], before[same]) << same;
  }
  EXPECT_EQ(after["cats"][0], before["cats"][1]);
  EXPECT_EQ(after["cats"][1], before["cats"][2]);
}

TEST_F(ContentSyncTest, StepsOfUnchangedItemsGoWithTheNextSyncedItem) {
  ASSERT_TRUE(Sync().loaded);
  std::string profile = kProfileV1;
  profile.replace(profile.find("news|3|0"), 8, "news|4|0");
  profile.replace(profile.find("Brief|102|c|d|1"), 15, "Brief|102|c|d|2");
  server_.WriteFile("profile.txt", profile);
  server_.WriteFile("data/102/2.edm", EdmBody(1, {Bytes(6, 's')}));
  std::size_t dataRequests = DataRequests().size();

  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);
  std::vector<std::string> requests = DataRequests();
  ASSERT_EQ(requests.size(), dataRequests + 1);
  EXPECT_EQ(requests.back(), "/zavrik/update/data/102/2.edm");
  // The phase restarts at 0 with one step per item: the skipped item 101
  // adds its step to Brief's (2), then "Updating" adds 1.
  EXPECT_EQ(run.upperPosition, 3);
  EXPECT_EQ(Databases()["c_news"][1],
            "00640013=102,0065001F=2,0067001F=Brief,0068001F=c,0069001F=d,006A001F=y,006C0041=" +
                Hex(Bytes(6, 's')) + "0000");
}

TEST_F(ContentSyncTest, CategoryDroppedByTheProfileIsDeleted) {
  ASSERT_TRUE(Sync().loaded);
  server_.WriteFile("profile.txt",
                    "OK\n1\nnews|3|0\n3\n"
                    "Headline|101|a|b|1|news|x\n"
                    "Brief|102|c|d|1|news|y\n"
                    "Forecast|301|i|j|1|weather|v\n");
  std::size_t dataRequests = DataRequests().size();
  RunResult run = Sync();
  EXPECT_TRUE(run.reconciled);
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(DataRequests().size(), dataRequests);

  auto expected = ExpectedAfterV1();
  expected.erase("c_sport");
  expected.erase("J202");
  expected.erase("JJ202");
  expected["cats"] = {"0064001F=news,00650013=3,00660013=0",
                      "0064001F=weather,00650013=0,00660013=1"};
  EXPECT_EQ(Databases(), expected);
}

TEST_F(ContentSyncTest, DuplicateCatsRecordKeepsTheFirst) {
  // The handheld already holds news at the profile's version, twice.
  CEOID first = AddRecord(
      "cats", {CePropVal::Text(kPropCategoryKey, u"news"), CePropVal::Ui4(kPropCategoryVersion, 3),
               CePropVal::Ui4(kPropCategoryInlineOnly, 1)});
  AddRecord("cats",
            {CePropVal::Text(kPropCategoryKey, u"news"), CePropVal::Ui4(kPropCategoryVersion, 3),
             CePropVal::Ui4(kPropCategoryInlineOnly, 1)});
  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);

  auto databases = Databases();
  EXPECT_EQ(databases["cats"],
            (std::vector<std::string>{"0064001F=news,00650013=3,00660013=1",
                                      "0064001F=sport,00650013=5,00660013=0",
                                      "0064001F=weather,00650013=0,00660013=1"}));
  EXPECT_EQ(RecordIds()["cats"][0], first);
  // news is neither synced nor written: none of its items was fetched.
  EXPECT_EQ(databases.count("c_news"), 0u);
  EXPECT_EQ(databases.count("J101"), 0u);
  EXPECT_EQ(DataRequests(), (std::vector<std::string>{"/zavrik/update/data/201/2.edm",
                                                      "/zavrik/update/data/202/1.edm",
                                                      "/zavrik/update/data/301/1.edm"}));
}

TEST_F(ContentSyncTest, DuplicateIndexRecordIsDeletedAndNotRewritten) {
  ASSERT_TRUE(Sync().loaded);
  auto before = RecordIds();
  CEOID duplicate = AddRecord(
      "c_news", {CePropVal::Ui4(kPropContentId, 102), CePropVal::Text(kPropVersion, u"1")});
  // A new category version makes news go through the check.
  std::string profile = kProfileV1;
  profile.replace(profile.find("news|3|0"), 8, "news|4|0");
  server_.WriteFile("profile.txt", profile);
  std::size_t dataRequests = DataRequests().size();

  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(DataRequests().size(), dataRequests);
  auto after = RecordIds();
  EXPECT_EQ(after["c_news"], before["c_news"]);
  for (CEOID id : after["c_news"]) EXPECT_NE(id, duplicate);
  EXPECT_EQ(after["J101"], before["J101"]);

  auto expected = ExpectedAfterV1();
  expected["cats"] = {"0064001F=sport,00650013=5,00660013=0",
                      "0064001F=weather,00650013=0,00660013=1",
                      "0064001F=news,00650013=4,00660013=1"};
  EXPECT_EQ(Databases(), expected);
}

TEST_F(ContentSyncTest, ItemWhoseDataIsMissingIsSyncedAgainNextTime) {
  server_.WriteFile("data/102/1.edm.status", "404");
  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);
  auto databases = Databases();
  EXPECT_EQ(databases["cats"][0], "0064001F=news,00650013=0,00660013=0");
  ASSERT_EQ(databases["c_news"].size(), 1u);
  EXPECT_EQ(databases["c_news"][0], ExpectedAfterV1()["c_news"][0]);
  EXPECT_NE(Log().find("Data Problem Loading :" + server_.BaseUrl() + "/update/data/102/1.edm 404"),
            std::string::npos)
      << Log();
  auto before = RecordIds();

  std::remove((server_.root() + "/data/102/1.edm.status").c_str());
  std::size_t dataRequests = DataRequests().size();
  run = Sync();
  EXPECT_TRUE(run.loaded);
  std::vector<std::string> requests = DataRequests();
  ASSERT_EQ(requests.size(), dataRequests + 1);
  EXPECT_EQ(requests.back(), "/zavrik/update/data/102/1.edm");
  auto expected = ExpectedAfterV1();
  // The only item written this time kept its data inline.
  expected["cats"] = {"0064001F=sport,00650013=5,00660013=0",
                      "0064001F=weather,00650013=0,00660013=1",
                      "0064001F=news,00650013=3,00660013=1"};
  EXPECT_EQ(Databases(), expected);
  EXPECT_EQ(RecordIds()["c_news"][0], before["c_news"][0]);
  EXPECT_EQ(RecordIds()["J101"], before["J101"]);
}

TEST_F(ContentSyncTest, WriteFailuresThatRecoverWithinTheRetries) {
  // The first index record write and the first record database write fail
  // once each; the 18th write (the first "cats" record) fails once.
  AddFault("CeWriteRecordProps", 1, false, 87);
  AddFault("CeWriteRecordProps", 3, false, 112);
  AddFault("CeWriteRecordProps", 18, false, 87);
  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(Databases(), ExpectedAfterV1());
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{20, 10, 20}));
  EXPECT_TRUE(Messages().empty());
  EXPECT_NE(Log().find("ERROR_INVALID_PARAMETER"), std::string::npos);
}

TEST_F(ContentSyncTest, IndexWriteThatNeverSucceedsStopsTheSync) {
  AddFault("CeWriteRecordProps", 1, true, 112);
  RunResult run = Sync();
  EXPECT_TRUE(run.reconciled);
  EXPECT_FALSE(run.loaded);
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{20, 20, 40, 20}));
  EXPECT_EQ(Messages(), std::vector<std::string>{"Unable to write category, please sync again."});
  EXPECT_NE(Log().find("1.Failed adding content:3 101)Headline"), std::string::npos) << Log();
  EXPECT_NE(Log().find("could not update record in main cat database"), std::string::npos);
  auto databases = Databases();
  EXPECT_TRUE(databases["cats"].empty());
  EXPECT_TRUE(databases["c_news"].empty());
  // Only the first item was fetched before the sync stopped.
  EXPECT_EQ(DataRequests(), std::vector<std::string>{"/zavrik/update/data/101/1.edm"});

  // Once the handheld takes writes again, the next sync does everything.
  std::string err;
  ASSERT_TRUE(platform_.handheld().ClearFaults(&err)) << err;
  EXPECT_TRUE(Sync().loaded);
  EXPECT_EQ(Databases(), ExpectedAfterV1());
}

TEST_F(ContentSyncTest, RecordDatabaseWriteThatNeverSucceedsStopsTheSync) {
  // The index record goes in; every write after it fails.
  AddFault("CeWriteRecordProps", 2, true, 112);
  RunResult run = Sync();
  EXPECT_FALSE(run.loaded);
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{10, 11, 12, 20}));
  EXPECT_EQ(Messages(), std::vector<std::string>{"Unable to write content, please sync again."});
  EXPECT_NE(Log().find("Problem:3 101)Headline"), std::string::npos) << Log();
  auto databases = Databases();
  EXPECT_TRUE(databases["cats"].empty());
  EXPECT_EQ(databases["c_news"].size(), 1u);
  EXPECT_TRUE(databases["J101"].empty());

  std::string err;
  ASSERT_TRUE(platform_.handheld().ClearFaults(&err)) << err;
  EXPECT_TRUE(Sync().loaded);
  EXPECT_EQ(Databases(), ExpectedAfterV1());
}

TEST_F(ContentSyncTest, DownloadThatFailsTwiceLeavesTheRestForNextTime) {
  // The first item's data is cut off twice: a transfer error each time.
  server_.WriteFile("data/101/1.edm.cut", "20");
  RunResult run = Sync();
  EXPECT_TRUE(run.loaded);
  EXPECT_NE(Log().find("Internet problem:"), std::string::npos) << Log();
  EXPECT_NE(Log().find("j:101-"), std::string::npos);
  auto databases = Databases();
  // news stays incomplete (version 0) and holds nothing; the other
  // categories are complete.
  EXPECT_EQ(databases["cats"][0], "0064001F=news,00650013=0,00660013=1");
  EXPECT_TRUE(databases["c_news"].empty());
  EXPECT_EQ(databases["c_sport"], ExpectedAfterV1()["c_sport"]);

  std::remove((server_.root() + "/data/101/1.edm.cut").c_str());
  EXPECT_TRUE(Sync().loaded);
  auto expected = ExpectedAfterV1();
  expected["cats"] = {"0064001F=sport,00650013=5,00660013=0",
                      "0064001F=weather,00650013=0,00660013=1",
                      "0064001F=news,00650013=3,00660013=0"};
  EXPECT_EQ(Databases(), expected);
}

TEST_F(ContentSyncTest, CancelledRunWritesNewCategoriesAsIncomplete) {
  DeviceDatabase::ResetSharedStateForTesting();
  {
    DeviceDatabase volume(platform_.ports(), kVolume);
    SyncRunner runner(platform_.ports());
    SyncSettings settings(platform_.ports(), &runner.Properties());
    ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
    CategoryList categories(platform_.ports());
    ASSERT_TRUE(runner.ExchangeProfile(settings, progress, categories));
    EXPECT_TRUE(categories.Reconcile(progress));
    progress.OnCancel();
    // Nothing is synced, but the new categories still get their records,
    // at version 0, so the next run syncs them.
    EXPECT_TRUE(categories.LoadContent(progress, settings));
  }
  EXPECT_TRUE(DataRequests().empty());
  auto databases = Databases();
  EXPECT_EQ(databases["cats"],
            (std::vector<std::string>{"0064001F=news,00650013=0,00660013=1",
                                      "0064001F=sport,00650013=0,00660013=1",
                                      "0064001F=weather,00650013=0,00660013=1"}));
  EXPECT_TRUE(Sync().loaded);
  auto expected = ExpectedAfterV1();
  EXPECT_EQ(Databases()["c_news"], expected["c_news"]);
  EXPECT_EQ(Databases()["J202"], expected["J202"]);
}

}  // namespace
}  // namespace hhsync
