// The .edm body reader, the two record forms, the data download and the
// writing of an item's index record and record databases.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "content/content_item.h"
#include "device/device_database.h"
#include "formats/sdat.h"
#include "settings/sync_settings.h"
#include "support/content_fixture.h"
#include "support/edm_body.h"

namespace hhsync {
namespace {

using test::BigEndian;
using test::Bytes;
using test::EdmBody;
using test::SplitRecord;
using test::ToBytes;

constexpr const char* kPath = test::ContentStepTest::kPath;
constexpr const char* kVolume = test::ContentStepTest::kVolume;
std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

struct EdmCase {
  const char* name;
  std::string body;
  EdmResult result;
  bool whole;                                              // the form of the records kept
  std::vector<std::pair<std::string, std::string>> parts;  // part 1 and part 2 of each
};

TEST(EdmBodyTest, FormsAndLimits) {
  using enum EdmResult;
  const std::string s30 = SplitRecord(10, 30, 'a'), s8 = SplitRecord(8, 8, 'b');
  const std::string s64 = SplitRecord(20, 64, 'c'), s40 = SplitRecord(12, 40);
  const std::string s16 = SplitRecord(8, 16), s16all = SplitRecord(16, 16);
  const std::string ten = EdmBody(1, {Bytes(10)});
  // The parts of a record kept whole, with its zero padding, and of one split
  // at a point.
  const auto padded = [](const std::string& record, std::size_t zeros) {
    return std::pair{record + Zeros(zeros), std::string()};
  };
  const auto split = [](const std::string& record, std::size_t at) {
    return std::pair{record.substr(0, at), record.substr(at)};
  };
  const std::vector<EdmCase> cases = {
      {"10 bytes whole: 2 zero bytes", ten, kOk, true, {padded(Bytes(10), 2)}},
      {"8 bytes whole: 4 zero bytes", EdmBody(1, {Bytes(8)}), kOk, true, {padded(Bytes(8), 4)}},
      {"count 0 is whole too",
       EdmBody(0, {Bytes(3), Bytes(5)}),
       kOk,
       true,
       {padded(Bytes(3), 1), padded(Bytes(5), 3)}},
      {"N = 3: split at P",
       EdmBody(3, {s30, s8, s64}),
       kOk,
       false,
       {split(s30, 10), split(s8, 8), split(s64, 20)}},
      {"N = 2 with one record is split", EdmBody(2, {s40}), kOk, false, {split(s40, 12)}},
      {"P = L: empty part 2", EdmBody(2, {s16all}), kOk, false, {{s16all, ""}}},
      {"66000 accepted", EdmBody(1, {Bytes(66000)}), kOk, true, {padded(Bytes(66000), 4)}},
      {"66001 refused, earlier records kept",
       EdmBody(3, {s16, SplitRecord(8, 66001), s16}),
       kRecordTooLong,
       false,
       {split(s16, 8)}},
      {"only the count", BigEndian(1), kNoRecords, true, {}},
      {"empty body", "", kNoRecords, true, {}},
      {"P > L", EdmBody(2, {s16, SplitRecord(17, 16)}), kMalformed, false, {split(s16, 8)}},
      {"L < 8 split", EdmBody(2, {"1234567"}), kMalformed, false, {}},
      {"L < 8 whole", EdmBody(1, {"1234567"}), kOk, true, {padded("1234567", 1)}},
      {"record cut short", ten.substr(0, ten.size() - 1), kMalformed, true, {}},
      {"length cut short", ten + Zeros(2), kMalformed, true, {padded(Bytes(10), 2)}},
  };
  for (const EdmCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryBody body(std::make_shared<const MemoryReply>(MemoryReply{200, c.body, -1}));
    ContentRecords records;
    HttpError error;
    EXPECT_EQ(ReadEdmBody(body, nullptr, &records, &error), c.result);
    ASSERT_EQ(records.size(), c.parts.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].single(), c.whole);
      EXPECT_EQ(records[i].part1(), ToBytes(c.parts[i].first)) << i;
      EXPECT_EQ(records[i].part2(), ToBytes(c.parts[i].second)) << i;
    }
  }
}
// ------------------------------------------------------------ with a handheld

class ContentItemTest : public test::ContentStepTest {
 protected:
  std::unique_ptr<ContentItem> Downloaded(const std::string& id, const std::string& body) {
    http_.Serve("/zavrik/update/data/" + id + "/", body);
    auto item = std::make_unique<ContentItem>("Title " + id, id, "f3", "f4", "7", "news", "f7");
    EXPECT_TRUE(item->Download({*progress_, *settings_, *link_}));
    return item;
  }
};

TEST_F(ContentItemTest, DownloadRequestsTheDataFileOnAGetSession) {
  // The content id goes into the path as the server gave it, unescaped.
  auto item = Downloaded("4 2#&", EdmBody(1, {Bytes(10)}));
  EXPECT_TRUE(item->downloadOk());
  EXPECT_EQ(item->RecordCount(), 1);
  ASSERT_EQ(http_.requests().size(), 1u);
  const auto& r = http_.requests()[0];
  EXPECT_EQ(r.verb + " " + r.host + ":" + std::to_string(r.port) + r.object + " " + r.version,
            "GET content.test:8080/zavrik/update/data/4 2#&/7.edm HTTP/1.0");
  EXPECT_EQ(r.headers, kStandardHeaders);
}

TEST_F(ContentItemTest, DataProblems) {
  struct Case {
    const char* id;
    MemoryReply reply;
    bool returns;           // Download's result
    std::string logged;     // a log line it must write ("" for none expected)
    std::string page = "";  // the error page opened ("" for none)
    int records = 0;
    std::string baseUrl = "";  // "" for the usual one
  };
  const std::string url = "http://content.test:8080/zavrik/update/data/";
  const std::string tls = "https://content.test/zavrik";  // a scheme it cannot fetch
  const auto loading = [&](const std::string& id) {
    return "Data Problem Loading :" + url + id + "/7.edm";
  };
  const std::vector<Case> cases = {
      {"41", {404, "", -1}, true, loading("41") + " 404"},
      {"42", {}, true, "Data Problem Loading :" + tls + "/update/data/42/7.edm", "", 0, tls},
      {"43", {200, BigEndian(1), -1}, true, "", "jdb1[43]"},
      {"44", {200, EdmBody(1, {Bytes(5), Bytes(66001)}), -1}, true, "", "jdb2[44]", 1},
      {"45", {200, EdmBody(2, {SplitRecord(50, 20)}), -1}, true, loading("45")},
      {"46",
       {200, EdmBody(1, {Bytes(100)}), 20},
       false,
       "j:46-The connection with the server was terminated abnormally"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    SetDevice("baseurl", c.baseUrl.empty() ? "http://content.test:8080/zavrik" : c.baseUrl);
    NewRun();
    std::size_t requests = http_.requests().size();
    std::size_t pages = platform_.shell().Opened().size();
    http_.Serve(std::string("/zavrik/update/data/") + c.id + "/", c.reply);
    ContentItem item("T", c.id, "", "", "7", "news", "");
    EXPECT_EQ(item.Download({*progress_, *settings_, *link_}), c.returns);
    EXPECT_FALSE(item.downloadOk());
    EXPECT_EQ(item.RecordCount(), c.records);
    if (!c.logged.empty()) {
      EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
    }
    std::vector<std::string> opened = platform_.shell().Opened();
    if (c.page.empty()) {
      EXPECT_EQ(opened.size(), pages);
    } else {
      ASSERT_EQ(opened.size(), pages + 1);
      EXPECT_EQ(opened.back(), "http://content.test:8080/login?cmd=err&code=" + c.page);
    }
    EXPECT_EQ(http_.requests().size(), requests + (c.baseUrl.empty() ? 1 : 0));
  }
}

TEST_F(ContentItemTest, ReadIndexRecordReportsMissingProperties) {
  const CEOID id = platform_.AddRecord(kVolume, "c_news", {CePropVal::Ui4(0x00640013, 77)});
  DbHandle handle;
  CEOID table = 0;
  ASSERT_TRUE(volume_->OpenExisting("c_news", &handle, &table));
  ContentItem copy;
  EXPECT_EQ(copy.ReadIndexRecord(*volume_, handle), ReadOutcome::kRecord);
  EXPECT_EQ(copy.contentId(), "77");
  EXPECT_EQ(copy.version(), "");
  EXPECT_EQ(copy.oid, id);
  EXPECT_EQ(platform_.ui().Texts(), std::vector<std::string>{"prop not found"});
  EXPECT_EQ(copy.ReadIndexRecord(*volume_, handle), ReadOutcome::kEnd);
}

TEST_F(ContentItemTest, RecordDatabaseThatCannotBeOpened) {
  ContentItem none("T", "42", "", "", "7", "news", "");
  EXPECT_FALSE(none.WriteRecordTable(platform_.ui(), 1, *volume_, *progress_));
  EXPECT_NE(Log().find("Data Problem No Records :42"), std::string::npos);

  auto item = Downloaded("42", EdmBody(2, {SplitRecord(9, 20), SplitRecord(9, 20)}));
  // Not at the first open: after two remounts, one more try.
  platform_.AddFault("CeOpenDatabaseEx", 1, true, 8);
  EXPECT_FALSE(item->WriteRecordTable(platform_.ui(), 1, *volume_, *progress_));
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{30, 40}));
  EXPECT_EQ(platform_.ui().Texts().back(), "1.Unable to Open database, please sync again.J42");
  EXPECT_NE(Log().find("1.Unable to Open database, please sync again.J42"), std::string::npos);

  // Not after a failed write: a remount of 10 ms, then of 40 ms and one more
  // try.
  platform_.ClearFaults();
  platform_.AddRecord(kVolume, "JJ42", {CePropVal::Ui4(0x007C0013, 9)});
  platform_.AddFault("CeWriteRecordProps", 1, false, 87);
  platform_.AddFault("CeOpenDatabaseEx", 2, true, 8);
  EXPECT_FALSE(item->WriteRecordTable(platform_.ui(), 2, *volume_, *progress_));
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{30, 40, 10, 40}));
  EXPECT_EQ(platform_.ui().Texts().back(), "2.Unable to Open database, please sync again: JJ42");
  EXPECT_TRUE(platform_.ui().Messages().back().style.systemModal);
}

}  // namespace
}  // namespace hhsync
