// Content sync end to end below the run sequence: the profile exchange
// (with MarkUnchanged), Reconcile and LoadContent against the reference
// content server on loopback, over libcurl, writing into an emulated
// handheld whose databases are then checked record by record; and a whole
// run cancelled in the middle.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "base/text.h"
#include "content/category_list.h"
#include "device/device_database.h"
#include "platform/curl/curl_http.h"
#include "settings/sync_settings.h"
#include "support/edm_body.h"
#include "support/processes.h"

namespace hhsync {
namespace {

using test::Bytes;
using test::EdmBody;
using test::SplitRecord;

constexpr const char* kPath = "Software\\Acme\\News\\";
constexpr const char* kVolume = "content.vol";

constexpr const char* kProfileV1 =
    "OK\n2\nnews|3|0\nsport|5|0\n5\n"
    "Headline|101|a|b|1|news|x\n"
    "Brief|102|c|d|1|news|y\n"
    "Score|201|e|f|2|sport|z\n"
    "Table|202|g|h|1|sport|w\n"
    "Forecast|301|i|j|1|weather|v\n";

// kProfileV1 with each text replaced.
std::string ProfileWith(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::string profile = kProfileV1;
  for (const auto& [from, to] : changes) profile.replace(profile.find(from), from.size(), to);
  return profile;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) out += std::string{kDigits[b >> 4], kDigits[b & 15]};
  return out;
}

// One record as "PROPID=value,...": numbers in decimal, text as UTF-8, blobs
// in hex.
std::string RecordText(const HandheldDump::Record& record) {
  std::string out;
  for (const CePropVal& p : record.props) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X=", p.propid);
    out += (out.empty() ? "" : ",") + std::string(id);
    out += PropType(p.propid) == CEVT_UI4
               ? std::to_string(p.ulVal)
               : WideToUtf8(p.lpwsz) + Hex({p.blob.begin(), p.blob.end()});
  }
  return out;
}

std::string Cats(const std::string& key, int version, int inlineOnly) {
  return "0064001F=" + key + ",00650013=" + std::to_string(version) +
         ",00660013=" + std::to_string(inlineOnly);
}
std::string Part1(const std::string& record, std::size_t split, int seq) {
  return "007A0041=" + Hex(record.substr(0, split)) + ",007C0013=" + std::to_string(seq);
}
std::string Part2(const std::string& record, std::size_t split, int seq) {
  return "007B0041=" + Hex(record.substr(split)) + ",007C0013=" + std::to_string(seq);
}
template <typename T>
std::vector<T> Since(const std::vector<T>& all, std::size_t from) {
  return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

using Records = std::map<std::string, std::vector<std::string>>;

class ContentSyncTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(platform_.handheld().OpenDatabaseHandles(), 0u) << "the last run left a handle open";
  }
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
    server_.WriteFile("data/101/1.edm", EdmBody(3, {r101a_, r101b_, r101c_}));
    server_.WriteFile("data/102/1.edm", EdmBody(1, {Bytes(10, 'k')}));
    server_.WriteFile("data/201/2.edm", EdmBody(1, {Bytes(8, 'm')}));
    server_.WriteFile("data/202/1.edm", EdmBody(2, {r202a_, r202b_}));
    server_.WriteFile("data/301/1.edm", EdmBody(2, {r301_}));
  }

  void SetDevice(const std::string& name, const std::string& value) {
    platform_.SetDevice(kPath + name, value);
  }
  CEOID AddRecord(const std::string& database, const std::vector<CePropVal>& props) {
    return platform_.AddRecord(kVolume, database, props);
  }

  // One sync as the run does it, from the profile to the written categories;
  // cancelled right after Reconcile when asked. LoadContent's result. With
  // reconciled, Reconcile may fail: *reconciled tells, and a failed one ends
  // the sync.
  bool Sync(bool cancel = false, bool* reconciled = nullptr) {
    EXPECT_EQ(platform_.handheld().OpenDatabaseHandles(), 0u) << "the last run left a handle open";
    // Each run is a process of its own: nobody holds the volume at first.
    VolumeMount mount(*platform_.ports().rapi, platform_.clock(), platform_.dbFailures());
    DeviceDatabase volume(mount, kVolume);
    EXPECT_TRUE(volume.mounted());
    SyncRunner runner(platform_.ports());
    SyncSettings settings(platform_.ports(), &runner.Properties());
    ProgressDialog progress(platform_.progressDesktop(), nullptr, "News",
                            ProgressDialog::Log::kOpen, ProgressDialog::Logo::kHidden, kPath);
    progress.OnInitDialog();
    CategoryList categories(mount, platform_.ui());
    ServerLink link(*platform_.ports().http, *platform_.ports().prompter, settings.proxyConfig());
    EXPECT_TRUE(runner.ExchangeProfile({progress, settings, link}, categories));
    const bool done = categories.Reconcile(progress);
    if (reconciled == nullptr) {
      EXPECT_TRUE(done);
    } else if (!(*reconciled = done)) {
      return false;
    }
    if (cancel) progress.OnCancel();
    bool loaded = categories.LoadContent({progress, settings, link});
    upperPosition_ = progress.Snapshot().upper.position;
    unfinished_ = categories.Unfinished();
    return loaded;
  }

  // Each database of the volume with its records, or their ids, in
  // traversal order; an empty database is listed too.
  Records Databases(bool ids = false) {
    Records out;
    for (const auto& d : Volume().databases) {
      out[d.name];
      for (const auto& r : d.records) {
        out[d.name].push_back(ids ? std::to_string(r.id) : RecordText(r));
      }
    }
    return out;
  }
  Records RecordIds() { return Databases(true); }
  HandheldDump::Volume Volume() { return platform_.Dump().volumes.at(0); }  // the only one
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

  // What the handheld holds after a complete sync of kProfileV1.
  Records ExpectedAfterV1() {
    Records db;
    db["cats"] = {Cats("news", 3, 0), Cats("sport", 5, 0), Cats("weather", 0, 1)};
    db["c_news"] = {
        "00640013=101,0065001F=1,0067001F=Headline,0068001F=a,0069001F=b,006A001F=x",
        "00640013=102,0065001F=1,0067001F=Brief,0068001F=c,0069001F=d,006A001F=y,006C0041=" +
            Hex(Bytes(10, 'k')) + "0000"};
    db["J101"] = {Part1(r101a_, 10, 0), Part1(r101b_, 12, 1), Part1(r101c_, 9, 2)};
    db["JJ101"] = {Part2(r101a_, 10, 0), Part2(r101b_, 12, 1), Part2(r101c_, 9, 2)};
    db["c_sport"] = {
        "00640013=201,0065001F=2,0067001F=Score,0068001F=e,0069001F=f,006A001F=z,006C0041=" +
            Hex(Bytes(8, 'm')) + "00000000",
        "00640013=202,0065001F=1,0067001F=Table,0068001F=g,0069001F=h,006A001F=w"};
    db["J202"] = {Part1(r202a_, 8, 0), Part1(r202b_, 16, 1)};
    db["JJ202"] = {Part2(r202a_, 8, 0), Part2(r202b_, 16, 1)};
    db["c_weather"] = {
        "00640013=301,0065001F=1,0067001F=Forecast,0068001F=i,0069001F=j,006A001F=v,006C0041=" +
        Hex(r301_.substr(0, 12))};  // N = 2 with one record: its part 1 inline
    return db;
  }

  int upperPosition_ = 0;                // the upper bar at the end of the last run
  std::vector<std::string> unfinished_;  // the categories the last run left unfinished
  test::ReferenceServerProcess server_;
  CurlHttp http_;
  test::TestPlatform platform_;
  std::string r101a_ = SplitRecord(10, 30, 'a');
  std::string r101b_ = SplitRecord(12, 40, 'b');
  std::string r101c_ = SplitRecord(9, 9, 'c');
  std::string r202a_ = SplitRecord(8, 20, 'd');
  std::string r202b_ = SplitRecord(16, 16, 'e');
  std::string r301_ = SplitRecord(12, 20, 'p');
};

TEST_F(ContentSyncTest, FirstSyncFromNothingThenOneWithNothingChanged) {
  EXPECT_TRUE(Sync());
  EXPECT_EQ(Databases(), ExpectedAfterV1());
  EXPECT_EQ(DataRequests(), (std::vector<std::string>{
                                "/zavrik/update/data/101/1.edm", "/zavrik/update/data/102/1.edm",
                                "/zavrik/update/data/201/2.edm", "/zavrik/update/data/202/1.edm",
                                "/zavrik/update/data/301/1.edm"}));
  for (const auto& d : Volume().databases) {
    std::vector<CEPROPID> sorts;
    for (const auto& sort : d.sorts) sorts.push_back(sort.propid);
    std::vector<CEPROPID> expected = {0x007C0013};  // J and JJ
    if (d.name == "cats") expected = {0x0064001F};
    if (d.name.rfind("c_", 0) == 0) expected = {0x0067001F, 0x00640013};
    EXPECT_EQ(sorts, expected) << d.name;
  }
  EXPECT_EQ(platform_.ui().Texts(), std::vector<std::string>{});

  // Nothing changed: only the profile is requested, no record is rewritten.
  auto ids = RecordIds();
  std::size_t requests = server_.RequestLog().size();
  EXPECT_TRUE(Sync());
  EXPECT_EQ(server_.RequestLog().size(), requests + 1);
  EXPECT_EQ(RecordIds(), ids);
  EXPECT_EQ(Databases(), ExpectedAfterV1());
}

TEST_F(ContentSyncTest, LaterSyncRewritesOnlyWhatChanged) {
  ASSERT_TRUE(Sync());
  auto before = RecordIds();
  std::size_t dataRequests = DataRequests().size();
  // On the server: a new version of news and of its item 101, and sport is
  // dropped. On the handheld: a second index record of item 102.
  server_.WriteFile("profile.txt", ProfileWith({{"2\nnews|3|0\nsport|5|0", "1\nnews|4|0"},
                                                {"b|1|news", "b|2|news"},
                                                {"Score|201|e|f|2|sport|z\n", ""},
                                                {"Table|202|g|h|1|sport|w\n", ""}}));
  std::string fresh1 = SplitRecord(11, 24, 'q'), fresh2 = SplitRecord(8, 12, 'r');
  server_.WriteFile("data/101/2.edm", EdmBody(2, {fresh1, fresh2}));
  AddRecord("c_news", {CePropVal::Ui4(kPropContentId, 102), CePropVal::Text(kPropVersion, u"1")});

  EXPECT_TRUE(Sync());
  EXPECT_EQ(Since(DataRequests(), dataRequests),
            std::vector<std::string>{"/zavrik/update/data/101/2.edm"});
  Records expected = ExpectedAfterV1();
  for (const char* gone : {"c_sport", "J202", "JJ202"}) expected.erase(gone);
  expected["cats"] = {Cats("weather", 0, 1), Cats("news", 4, 0)};
  expected["c_news"] = {
      expected["c_news"][1],
      "00640013=101,0065001F=2,0067001F=Headline,0068001F=a,0069001F=b,006A001F=x"};
  expected["J101"] = {Part1(fresh1, 11, 0), Part1(fresh2, 8, 1)};
  expected["JJ101"] = {Part2(fresh1, 11, 0), Part2(fresh2, 8, 1)};
  EXPECT_EQ(Databases(), expected);

  // Untouched: item 102 (its duplicate is gone) and the weather category.
  auto after = RecordIds();
  EXPECT_EQ(after["c_news"][0], before["c_news"][1]);
  EXPECT_EQ(after["c_weather"], before["c_weather"]);
  EXPECT_EQ(after["cats"][0], before["cats"][2]);
}

TEST_F(ContentSyncTest, AGoneCategoryThatCannotBeDeletedIsLeftForTheNextSync) {
  ASSERT_TRUE(Sync());
  // sport is dropped; nothing else changes.
  server_.WriteFile("profile.txt", ProfileWith({{"2\nnews|3|0\nsport|5|0", "1\nnews|3|0"},
                                                {"Score|201|e|f|2|sport|z\n", ""},
                                                {"Table|202|g|h|1|sport|w\n", ""}}));
  // No database can be deleted: sport's record databases stay, and with
  // them its table and its "cats" record.
  platform_.AddFault("CeDeleteDatabaseEx", 1, true, 5);
  EXPECT_FALSE(Sync()) << "a category still on the handheld is not done";
  EXPECT_EQ(unfinished_, std::vector<std::string>{"sport"});
  Records databases = Databases();
  EXPECT_EQ(databases.count("c_sport"), 1u);
  EXPECT_NE(std::find(databases["cats"].begin(), databases["cats"].end(), Cats("sport", 5, 0)),
            databases["cats"].end());

  platform_.ClearFaults();
  EXPECT_TRUE(Sync());
  EXPECT_TRUE(unfinished_.empty());
  Records expected = ExpectedAfterV1();
  for (const char* gone : {"c_sport", "J202", "JJ202"}) expected.erase(gone);
  databases = Databases();
  std::sort(databases["cats"].begin(), databases["cats"].end());
  expected["cats"] = {Cats("news", 3, 0), Cats("weather", 0, 1)};
  EXPECT_EQ(databases, expected);
}

TEST_F(ContentSyncTest, AChangedCategoryWhoseCatsRecordCannotBeDeletedIsLeftForTheNextSync) {
  ASSERT_TRUE(Sync());
  server_.WriteFile("profile.txt",
                    ProfileWith({{"2\nnews|3|0\nsport|5|0", "2\nnews|4|0\nsport|5|0"}}));
  platform_.AddFault("CeDeleteRecord", 1, true, 5);
  EXPECT_FALSE(Sync()) << "its old record would stay beside the new one";
  EXPECT_EQ(unfinished_, std::vector<std::string>{"news"});
  EXPECT_NE(Log().find("left for the next sync: news"), std::string::npos);
}

TEST_F(ContentSyncTest, ACatsDatabaseThatCannotBeReadOrCountedEndsTheSyncAndIsLogged) {
  ASSERT_TRUE(Sync());
  const Records before = Databases();
  for (const char* operation : {"CeReadRecordProps", "CeOidGetInfoEx"}) {
    SCOPED_TRACE(operation);
    const std::size_t logged = Log().size();
    platform_.AddFault(operation, 1, true, 5);
    bool reconciled = true;
    EXPECT_FALSE(Sync(false, &reconciled));
    EXPECT_FALSE(reconciled);
    EXPECT_NE(Log().find("Problem reading category database from device", logged),
              std::string::npos);
    platform_.ClearFaults();
    EXPECT_EQ(Databases(), before);
  }
}

TEST_F(ContentSyncTest, ANewCategoryWhoseOldTableStaysIsLeftAndTheOthersGoOn) {
  // An old content table of news, without its "cats" record, that cannot
  // be deleted: news is left as it is, sport and weather are synced.
  AddRecord("c_news", {CePropVal::Ui4(kPropContentId, 999), CePropVal::Text(kPropVersion, u"9")});
  platform_.AddFault("CeDeleteDatabaseEx", 1, false, 5);
  platform_.AddFault("CeDeleteDatabaseEx", 2, false, 5);
  EXPECT_FALSE(Sync());
  Records databases = Databases();
  EXPECT_EQ(databases["cats"],
            (std::vector<std::string>{Cats("sport", 5, 0), Cats("weather", 0, 1)}));
  EXPECT_EQ(databases.count("c_news"), 1u) << "the old table stays";
  EXPECT_EQ(databases["c_sport"], ExpectedAfterV1()["c_sport"]);

  platform_.ClearFaults();
  EXPECT_TRUE(Sync());
  databases = Databases();
  std::sort(databases["cats"].begin(), databases["cats"].end());
  Records expected = ExpectedAfterV1();
  std::sort(expected["cats"].begin(), expected["cats"].end());
  EXPECT_EQ(databases, expected);
}

TEST_F(ContentSyncTest, OfTwoKeysThatShareATableTheFirstIsSyncedAndTheOtherLeftOut) {
  // Two keys alike in their first 24 characters name one table; the second
  // holds a "cats" record from some earlier program.
  const std::string first = "abcdefghijklmnopqrstuvwx-one", second = "abcdefghijklmnopqrstuvwx-two";
  server_.WriteFile("profile.txt", "OK\n2\n" + first + "|1|0\n" + second +
                                       "|1|0\n2\n"
                                       "One|501|a|b|1|" +
                                       first + "|x\nTwo|502|c|d|1|" + second + "|y\n");
  server_.WriteFile("data/501/1.edm", EdmBody(1, {Bytes(4, 'o')}));
  server_.WriteFile("data/502/1.edm", EdmBody(1, {Bytes(4, 't')}));
  AddRecord("cats",
            {CePropVal::Text(kPropCategoryKey, Utf8ToWide(second)),
             CePropVal::Ui4(kPropCategoryVersion, 1), CePropVal::Ui4(kPropCategoryInlineOnly, 1)});
  EXPECT_FALSE(Sync()) << "a category left out is not done";
  Records databases = Databases();
  EXPECT_EQ(databases["cats"], std::vector<std::string>{Cats(first, 1, 1)});
  const std::string table = "c_abcdefghijklmnopqrstuvwx";
  ASSERT_EQ(databases[table].size(), 1u);
  EXPECT_EQ(databases[table][0].rfind("00640013=501,", 0), 0u) << databases[table][0];
  EXPECT_EQ(DataRequests(), std::vector<std::string>{"/zavrik/update/data/501/1.edm"});
  EXPECT_NE(Log().find("left out: " + second + " has the content table " + table + " of " + first),
            std::string::npos)
      << Log();
}

TEST_F(ContentSyncTest, DuplicateCatsRecordKeepsTheFirst) {
  // The handheld already holds news at the profile's version, twice.
  std::vector<CePropVal> news = {CePropVal::Text(kPropCategoryKey, u"news"),
                                 CePropVal::Ui4(kPropCategoryVersion, 3),
                                 CePropVal::Ui4(kPropCategoryInlineOnly, 1)};
  CEOID first = AddRecord("cats", news);
  AddRecord("cats", news);
  EXPECT_TRUE(Sync());

  Records databases = Databases();
  EXPECT_EQ(databases["cats"], (std::vector<std::string>{Cats("news", 3, 1), Cats("sport", 5, 0),
                                                         Cats("weather", 0, 1)}));
  EXPECT_EQ(RecordIds()["cats"][0], std::to_string(first));
  // news is neither synced nor written.
  EXPECT_EQ(databases.count("c_news") + databases.count("J101"), 0u);
  EXPECT_EQ(DataRequests(), (std::vector<std::string>{"/zavrik/update/data/201/2.edm",
                                                      "/zavrik/update/data/202/1.edm",
                                                      "/zavrik/update/data/301/1.edm"}));
}

TEST_F(ContentSyncTest, AnItemWhoseTransferBreaksIsTriedOnceMoreAndThenEndsTheCategory) {
  server_.WriteFile("data/101/1.edm.cut", "5");
  Sync();
  EXPECT_EQ(unfinished_, std::vector<std::string>{"news"});
  const std::vector<std::string> requests = DataRequests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/zavrik/update/data/101/1.edm"), 2);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/zavrik/update/data/102/1.edm"), 0);
  EXPECT_NE(Log().find("Internet problem:"), std::string::npos);
}

TEST_F(ContentSyncTest, ItemWhoseDataAnswers404IsSyncedAgainNextTime) {
  server_.WriteFile("data/102/1.edm.status", "404");
  EXPECT_TRUE(Sync());
  Records databases = Databases();
  EXPECT_EQ(databases["cats"][0], Cats("news", 0, 0));
  EXPECT_EQ(databases["c_news"], std::vector<std::string>{ExpectedAfterV1()["c_news"][0]});
  EXPECT_NE(Log().find("Data Problem Loading :" + server_.BaseUrl() + "/update/data/102/1.edm 404"),
            std::string::npos);
  auto before = RecordIds();

  std::remove((server_.root() + "/data/102/1.edm.status").c_str());
  std::size_t dataRequests = DataRequests().size();
  EXPECT_TRUE(Sync());
  EXPECT_EQ(Since(DataRequests(), dataRequests),
            std::vector<std::string>{"/zavrik/update/data/102/1.edm"});
  // The phase restarts at 0: the skipped item 101 adds its step to Brief's
  // (2), then "Updating" adds 1.
  EXPECT_EQ(upperPosition_, 3);
  Records expected = ExpectedAfterV1();
  // The only item written this time kept its data inline, but the record
  // databases of 101, written by the incomplete sync before, are still the
  // category's: "news" is not inline only.
  expected["cats"] = {Cats("sport", 5, 0), Cats("weather", 0, 1), Cats("news", 3, 0)};
  EXPECT_EQ(Databases(), expected);
  EXPECT_EQ(RecordIds()["c_news"][0], before["c_news"][0]);
  EXPECT_EQ(RecordIds()["J101"], before["J101"]);
}

TEST_F(ContentSyncTest, WriteFailuresThatRecoverWithinTheRetries) {
  // Write 1 is the first index record, 3 the first record of J101 and 18 the
  // first "cats" record: each fails once.
  platform_.AddFault("CeWriteRecordProps", 1, false, 87);
  platform_.AddFault("CeWriteRecordProps", 3, false, 112);
  platform_.AddFault("CeWriteRecordProps", 18, false, 87);
  EXPECT_TRUE(Sync());
  EXPECT_EQ(Databases(), ExpectedAfterV1());
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{20, 10, 20}));
  EXPECT_EQ(platform_.ui().Texts(), std::vector<std::string>{});
  EXPECT_NE(Log().find("ERROR_INVALID_PARAMETER"), std::string::npos);
}

TEST_F(ContentSyncTest, WriteFailuresThatDoNotRecoverStopTheSync) {
  // Every write fails: the first index record is tried four times, the
  // "cats" records twice.
  platform_.AddFault("CeWriteRecordProps", 1, true, 112);
  EXPECT_FALSE(Sync());
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{20, 20, 40, 20}));
  EXPECT_EQ(platform_.ui().Texts(),
            std::vector<std::string>{"Unable to write category, please sync again."});
  EXPECT_NE(Log().find("1.Failed adding content:3 101)Headline"), std::string::npos);
  EXPECT_NE(Log().find("could not update record in main cat database"), std::string::npos);
  EXPECT_EQ(Databases()["cats"], std::vector<std::string>{});
  EXPECT_EQ(Databases()["c_news"], std::vector<std::string>{});
  EXPECT_EQ(DataRequests(), std::vector<std::string>{"/zavrik/update/data/101/1.edm"});

  // The index record goes in; every write after it fails: three tries per
  // record database write, then the index record is taken out again.
  platform_.ClearFaults();
  platform_.AddFault("CeWriteRecordProps", 2, true, 112);
  std::size_t sleeps = platform_.clock().Sleeps().size();
  std::size_t messages = platform_.ui().Texts().size();
  EXPECT_FALSE(Sync());
  EXPECT_EQ(Since(platform_.clock().Sleeps(), sleeps), (std::vector<uint32_t>{10, 11, 12, 20}));
  EXPECT_EQ(Since(platform_.ui().Texts(), messages),
            std::vector<std::string>{"Unable to write content, please sync again."});
  EXPECT_NE(Log().find("Problem:3 101)Headline"), std::string::npos);
  EXPECT_EQ(Databases()["cats"], std::vector<std::string>{});
  EXPECT_EQ(Databases()["c_news"], std::vector<std::string>{})
      << "no index record claims data that is not there";
  EXPECT_EQ(Databases()["J101"], std::vector<std::string>{});

  // Once the handheld takes writes again, the next sync does everything.
  platform_.ClearFaults();
  EXPECT_TRUE(Sync());
  EXPECT_EQ(Databases(), ExpectedAfterV1());
}

TEST_F(ContentSyncTest, AContentTableThatDoesNotOpenAgainAfterARemountEndsTheCategory) {
  // The first index record is refused; the table's reopen after the first
  // remount (the 13th open of the run) and every open after it fail: the
  // boxes are the reopen's and that of "cats", which is not written either.
  platform_.AddFault("CeWriteRecordProps", 1, false, 112);
  platform_.AddFault("CeOpenDatabaseEx", 13, true, 8);
  EXPECT_FALSE(Sync());
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{20}));
  EXPECT_EQ(platform_.ui().Texts(),
            std::vector<std::string>(2, "could not open database not enough memory"))
      << "the item is not taken for written: nothing goes on to its record databases";
}

TEST_F(ContentSyncTest, CancelledRunWritesNewCategoriesAsIncomplete) {
  EXPECT_TRUE(Sync(/*cancel=*/true));
  EXPECT_EQ(DataRequests(), std::vector<std::string>{});
  EXPECT_EQ(Databases()["cats"], (std::vector<std::string>{Cats("news", 0, 1), Cats("sport", 0, 1),
                                                           Cats("weather", 0, 1)}));
  // The next run syncs them all; weather's record, not from the profile's
  // category list, is not rewritten.
  EXPECT_TRUE(Sync());
  Records expected = ExpectedAfterV1();
  expected["cats"] = {Cats("weather", 0, 1), Cats("news", 3, 0), Cats("sport", 5, 0)};
  EXPECT_EQ(Databases(), expected);
}

}  // namespace
}  // namespace hhsync
