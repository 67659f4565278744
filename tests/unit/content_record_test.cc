// The .edm body reader, the two record forms and the writing of an item's
// index record and record databases.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "app/dialogs/progress_dialog.h"
#include "content/content_item.h"
#include "device/device_database.h"
#include "device/wide_text.h"
#include "platform/http.h"
#include "settings/sync_settings.h"
#include "support/edm_body.h"
#include "support/memory_http.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::Bytes;
using test::EdmBody;
using test::MemoryBody;
using test::MemoryHttp;
using test::MemoryReply;
using test::SplitRecord;
using test::TestPlatform;
using test::ToBytes;

InjectedFault Fault(const std::string& op, uint32_t nth, bool every, uint32_t error) {
  InjectedFault fault;
  fault.operation = op;
  fault.nth = nth;
  fault.every = every;
  fault.error = error;
  return fault;
}

constexpr const char* kPath = "Software\\Acme\\News\\";
constexpr const char* kVolume = "content.vol";

// A byte source over a body that records the size of every read.
class RecordingBody final : public MemoryBody {
 public:
  explicit RecordingBody(const std::string& body, long long failAfter = -1)
      : MemoryBody(Make(body, failAfter)) {}
  long long Read(void* buffer, std::size_t size, HttpError* error) override {
    sizes.push_back(size);
    return MemoryBody::Read(buffer, size, error);
  }
  std::vector<std::size_t> sizes;

 private:
  static std::shared_ptr<const MemoryReply> Make(const std::string& body, long long failAfter) {
    MemoryReply reply;
    reply.body = body;
    reply.failAfter = failAfter;
    return std::make_shared<const MemoryReply>(std::move(reply));
  }
};

struct Parsed {
  EdmResult result;
  ContentRecords records;
  HttpError error;
  std::vector<std::size_t> readSizes;
};

Parsed Parse(const std::string& body, ProgressDialog* progress = nullptr,
             long long failAfter = -1) {
  RecordingBody source(body, failAfter);
  Parsed p;
  p.result = ReadEdmBody(source, progress, &p.records, &p.error);
  p.readSizes = source.sizes;
  return p;
}

TEST(EdmBodyTest, WholeFormTenBytesIsPaddedToTwelve) {
  Parsed p = Parse(EdmBody(1, {Bytes(10)}));
  ASSERT_EQ(p.result, EdmResult::kOk);
  ASSERT_EQ(p.records.size(), 1u);
  EXPECT_TRUE(p.records[0].single());
  std::vector<uint8_t> expected = ToBytes(Bytes(10));
  expected.push_back(0);
  expected.push_back(0);
  EXPECT_EQ(p.records[0].part1(), expected);
  EXPECT_TRUE(p.records[0].part2().empty());
  // Exact-size reads: the count, the length, the record, the next length.
  EXPECT_EQ(p.readSizes, (std::vector<std::size_t>{4, 4, 10, 4}));
}

TEST(EdmBodyTest, WholeFormMultipleOfFourGetsFourZeroBytes) {
  Parsed p = Parse(EdmBody(1, {Bytes(8)}));
  ASSERT_EQ(p.result, EdmResult::kOk);
  ASSERT_EQ(p.records.size(), 1u);
  ASSERT_EQ(p.records[0].part1().size(), 12u);
  EXPECT_EQ(std::vector<uint8_t>(p.records[0].part1().begin() + 8, p.records[0].part1().end()),
            (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(EdmBodyTest, CountZeroAlsoKeepsRecordsWhole) {
  Parsed p = Parse(EdmBody(0, {Bytes(3), Bytes(5)}));
  ASSERT_EQ(p.result, EdmResult::kOk);
  ASSERT_EQ(p.records.size(), 2u);
  EXPECT_EQ(p.records[0].part1().size(), 4u);
  EXPECT_EQ(p.records[1].part1().size(), 8u);
  EXPECT_TRUE(p.records[1].single());
}

TEST(EdmBodyTest, SplitFormCutsEachRecordAtItsFirstPartLength) {
  std::vector<std::string> records = {SplitRecord(10, 30, 'a'), SplitRecord(8, 8, 'b'),
                                      SplitRecord(20, 64, 'c')};
  Parsed p = Parse(EdmBody(3, records));
  ASSERT_EQ(p.result, EdmResult::kOk);
  ASSERT_EQ(p.records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_FALSE(p.records[i].single());
    const std::string& r = records[i];
    uint32_t split = i == 0 ? 10 : i == 1 ? 8 : 20;
    EXPECT_EQ(p.records[i].part1(), ToBytes(r.substr(0, split))) << i;
    EXPECT_EQ(p.records[i].part2(), ToBytes(r.substr(split))) << i;
  }
}

TEST(EdmBodyTest, SplitFormCountsRecordsOnTheLowerBar) {
  TestPlatform platform;
  ProgressDialog progress(platform.ports(), nullptr, "News", false, false, kPath);
  progress.OnInitDialog();
  Parsed p = Parse(EdmBody(3, {SplitRecord(9, 12), SplitRecord(9, 12)}), &progress);
  ASSERT_EQ(p.result, EdmResult::kOk);
  EXPECT_EQ(p.records.size(), 2u);
  EXPECT_EQ(progress.Snapshot().lower.range, 9);
  EXPECT_EQ(progress.Snapshot().lower.position, 2);
}

TEST(EdmBodyTest, CountTwoWithOneRecordIsSplit) {
  Parsed p = Parse(EdmBody(2, {SplitRecord(12, 40)}));
  ASSERT_EQ(p.result, EdmResult::kOk);
  ASSERT_EQ(p.records.size(), 1u);
  EXPECT_FALSE(p.records[0].single());
  EXPECT_EQ(p.records[0].part1().size(), 12u);
  EXPECT_EQ(p.records[0].part2().size(), 28u);
}

TEST(EdmBodyTest, LengthLimitIs66000) {
  Parsed ok = Parse(EdmBody(1, {Bytes(66000)}));
  ASSERT_EQ(ok.result, EdmResult::kOk);
  ASSERT_EQ(ok.records.size(), 1u);
  EXPECT_EQ(ok.records[0].part1().size(), 66004u);

  Parsed refused =
      Parse(EdmBody(3, {SplitRecord(8, 16), SplitRecord(8, 66001), SplitRecord(8, 16)}));
  EXPECT_EQ(refused.result, EdmResult::kRecordTooLong);
  // The record before the long one stays; nothing after it is read.
  EXPECT_EQ(refused.records.size(), 1u);
  EXPECT_EQ(refused.readSizes, (std::vector<std::size_t>{4, 4, 16, 4}));
}

TEST(EdmBodyTest, BodyWithOnlyTheCountHasNoRecords) {
  EXPECT_EQ(Parse(test::BigEndian(1)).result, EdmResult::kNoRecords);
  EXPECT_EQ(Parse(test::BigEndian(5)).result, EdmResult::kNoRecords);
  EXPECT_EQ(Parse("").result, EdmResult::kNoRecords);
}

TEST(EdmBodyTest, SplitRecordWithFirstPartBeyondItsLengthIsMalformed) {
  Parsed p = Parse(EdmBody(2, {SplitRecord(8, 16), SplitRecord(17, 16)}));
  EXPECT_EQ(p.result, EdmResult::kMalformed);
  EXPECT_EQ(p.records.size(), 1u);
}

TEST(EdmBodyTest, SplitRecordShorterThanEightBytesIsMalformed) {
  EXPECT_EQ(Parse(EdmBody(2, {"1234567"})).result, EdmResult::kMalformed);
  EXPECT_EQ(Parse(EdmBody(2, {""})).result, EdmResult::kMalformed);
  // The same bytes in the whole form are fine.
  EXPECT_EQ(Parse(EdmBody(1, {"1234567"})).result, EdmResult::kOk);
}

TEST(EdmBodyTest, SplitAtTheWholeLengthLeavesAnEmptySecondPart) {
  Parsed p = Parse(EdmBody(2, {SplitRecord(16, 16)}));
  ASSERT_EQ(p.result, EdmResult::kOk);
  EXPECT_EQ(p.records[0].part1().size(), 16u);
  EXPECT_TRUE(p.records[0].part2().empty());
}

TEST(EdmBodyTest, CutRecordOrLengthIsMalformed) {
  std::string body = EdmBody(1, {Bytes(10)});
  EXPECT_EQ(Parse(body.substr(0, body.size() - 1)).result, EdmResult::kMalformed);
  EXPECT_EQ(Parse(body + std::string(2, '\0')).result, EdmResult::kMalformed);
}

TEST(EdmBodyTest, TransferErrorIsReported) {
  std::string body = EdmBody(1, {Bytes(100)});
  Parsed p = Parse(body, nullptr, 50);
  EXPECT_EQ(p.result, EdmResult::kTransferError);
  EXPECT_EQ(p.error.code, http_error::kConnectionAborted);
  EXPECT_FALSE(p.error.message.empty());
}

TEST(ContentRecordTest, MakeChecksTheSplitPoint) {
  std::string r = SplitRecord(4, 12);
  auto ok = ContentRecord::Make(reinterpret_cast<const uint8_t*>(r.data()), 12, false);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->part1(), ToBytes(r.substr(0, 4)));
  EXPECT_EQ(ok->part2(), ToBytes(r.substr(4)));
  std::string bad = SplitRecord(13, 12);
  EXPECT_FALSE(
      ContentRecord::Make(reinterpret_cast<const uint8_t*>(bad.data()), 12, false).has_value());
}

// ------------------------------------------------------------ with a handheld

class ContentItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.Connect();
    platform_.SetHttp(&http_);
    SetDevice("baseurl", "http://content.test:8080/zavrik");
    SetDevice("loginurl", "http://content.test:8080/login");
    SetDevice("log", "YES");
    props_.Set("registry", kPath);
    std::string err;
    ASSERT_TRUE(platform_.handheld().CreateVolume(kVolume, &err)) << err;
  }
  void SetDevice(const std::string& name, const std::string& value) {
    std::string err;
    ASSERT_TRUE(platform_.handheld().RegSet(std::string(kPath) + name, value, &err)) << err;
  }
  std::string Log() { return test::ReadFile(platform_.dir().File("sync.txt")); }
  std::unique_ptr<ContentItem> Item(const std::string& id, const std::string& version) {
    return std::make_unique<ContentItem>("Title " + id, id, "f3", "f4", version, "news", "f7");
  }
  const HandheldDump::Database* Db(const HandheldDump& dump, const std::string& name) {
    for (const auto& v : dump.volumes) {
      for (const auto& d : v.databases) {
        if (d.name == name) return &d;
      }
    }
    return nullptr;
  }

  TestPlatform platform_;
  MemoryHttp http_;
  PropertySet props_;
};

TEST_F(ContentItemTest, DownloadRequestsTheDataFileOnAGetSession) {
  http_.Serve("/zavrik/update/data/42/7.edm", EdmBody(1, {Bytes(10)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_TRUE(item->Download(progress, settings));
  EXPECT_TRUE(item->downloadOk());
  EXPECT_EQ(item->RecordCount(), 1);
  ASSERT_EQ(http_.requests().size(), 1u);
  const auto& r = http_.requests()[0];
  EXPECT_EQ(r.verb, "GET");
  EXPECT_EQ(r.host, "content.test");
  EXPECT_EQ(r.port, 8080);
  EXPECT_EQ(r.object, "/zavrik/update/data/42/7.edm");
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.headers, kStandardHeaders);
  EXPECT_EQ(r.options.connectTimeoutMs, 2000u);
  EXPECT_EQ(r.options.connectRetries, 2u);
  item->FreeRecords();
  EXPECT_EQ(item->RecordCount(), 0);
  EXPECT_FALSE(item->HasRecordList());
}

TEST_F(ContentItemTest, StatusOtherThan200IsADataProblem) {
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_TRUE(item->Download(progress, settings));
  EXPECT_FALSE(item->downloadOk());
  EXPECT_NE(
      Log().find("Data Problem Loading :http://content.test:8080/zavrik/update/data/42/7.edm 404"),
      std::string::npos)
      << Log();
}

TEST_F(ContentItemTest, HttpsBaseUrlIsADataProblem) {
  SetDevice("baseurl", "https://content.test/zavrik");
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_TRUE(item->Download(progress, settings));
  EXPECT_FALSE(item->downloadOk());
  EXPECT_NE(Log().find("Data Problem Loading :https://content.test/zavrik/update/data/42/7.edm"),
            std::string::npos);
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(ContentItemTest, BodyWithoutRecordsOpensTheJdb1ErrorPage) {
  http_.Serve("/zavrik/update/data/", test::BigEndian(1));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_TRUE(item->Download(progress, settings));
  EXPECT_FALSE(item->downloadOk());
  ASSERT_EQ(platform_.shell().Opened().size(), 1u);
  EXPECT_EQ(platform_.shell().Opened()[0], "http://content.test:8080/login?cmd=err&code=jdb1[42]");
}

TEST_F(ContentItemTest, RecordAboveTheLimitOpensTheJdb2ErrorPage) {
  http_.Serve("/zavrik/update/data/", EdmBody(1, {Bytes(5), Bytes(66001)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_TRUE(item->Download(progress, settings));
  EXPECT_FALSE(item->downloadOk());
  EXPECT_EQ(item->RecordCount(), 1);
  ASSERT_EQ(platform_.shell().Opened().size(), 1u);
  EXPECT_EQ(platform_.shell().Opened()[0], "http://content.test:8080/login?cmd=err&code=jdb2[42]");
}

TEST_F(ContentItemTest, MalformedSplitRecordIsADataProblemNotACrash) {
  http_.Serve("/zavrik/update/data/", EdmBody(2, {SplitRecord(50, 20)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_TRUE(item->Download(progress, settings));
  EXPECT_FALSE(item->downloadOk());
  EXPECT_NE(
      Log().find("Data Problem Loading :http://content.test:8080/zavrik/update/data/42/7.edm"),
      std::string::npos);
  EXPECT_TRUE(platform_.shell().Opened().empty());
}

TEST_F(ContentItemTest, TransferErrorIsLoggedAndReturnsFalse) {
  MemoryReply reply;
  reply.body = EdmBody(1, {Bytes(100)});
  reply.failAfter = 20;
  http_.Serve("/zavrik/update/data/", reply);
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  auto item = Item("42", "7");
  EXPECT_FALSE(item->Download(progress, settings));
  EXPECT_FALSE(item->downloadOk());
  EXPECT_NE(Log().find("j:42-The connection with the server was terminated abnormally"),
            std::string::npos)
      << Log();
}

TEST_F(ContentItemTest, IndexRecordHoldsTheOnlyRecordInline) {
  http_.Serve("/zavrik/update/data/", EdmBody(1, {Bytes(10)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  CeDbHandle handle;
  CEOID oid;
  ASSERT_TRUE(db.OpenOrCreate("c_news", 0x0067001F, 0x00640013, &handle, &oid));
  auto item = Item("42", "7");
  ASSERT_TRUE(item->Download(progress, settings));
  EXPECT_TRUE(item->WriteIndexRecord(db.rapi(), handle, progress));
  db.CloseHandle(handle);

  HandheldDump dump = platform_.Dump();
  const auto* table = Db(dump, "c_news");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->records.size(), 1u);
  const auto& props = table->records[0].props;
  ASSERT_EQ(props.size(), 7u);
  EXPECT_EQ(props[0].propid, 0x00640013u);
  EXPECT_EQ(props[0].ulVal, 42u);
  EXPECT_EQ(props[1].propid, 0x0065001Fu);
  EXPECT_EQ(props[1].lpwsz, u"7");
  EXPECT_EQ(props[2].lpwsz, u"Title 42");
  EXPECT_EQ(props[3].lpwsz, u"f3");
  EXPECT_EQ(props[4].lpwsz, u"f4");
  EXPECT_EQ(props[5].propid, 0x006A001Fu);
  EXPECT_EQ(props[5].lpwsz, u"f7");
  EXPECT_EQ(props[6].propid, 0x006C0041u);
  EXPECT_EQ(props[6].blob.size(), 12u);
}

TEST_F(ContentItemTest, IndexRecordWriteRefusedIsLogged) {
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  CeDbHandle handle;
  CEOID oid;
  ASSERT_TRUE(db.OpenOrCreate("c_news", 0x0067001F, 0x00640013, &handle, &oid));
  std::string err;
  ASSERT_TRUE(platform_.handheld().AddFault(Fault("CeWriteRecordProps", 1, false, 112), &err))
      << err;
  auto item = Item("42", "7");
  EXPECT_FALSE(item->WriteIndexRecord(db.rapi(), handle, progress));
  EXPECT_NE(Log().find("ERROR_DISK_FULL"), std::string::npos);
  // Another code counts as written.
  ASSERT_TRUE(platform_.handheld().AddFault(Fault("CeWriteRecordProps", 1, false, 5), &err)) << err;
  EXPECT_TRUE(item->WriteIndexRecord(db.rapi(), handle, progress));
  EXPECT_FALSE(item->WriteIndexRecord(db.rapi(), kInvalidHandle, progress));
  db.CloseHandle(handle);
}

TEST_F(ContentItemTest, ReadIndexRecordReportsMissingProperties) {
  std::string err;
  CEOID id = 0;
  ASSERT_TRUE(platform_.handheld().AddRecord(kVolume, "c_news", {CePropVal::Ui4(0x00640013, 77)},
                                             &id, &err))
      << err;
  DeviceDatabase db(platform_.ports(), kVolume);
  CeDbHandle handle;
  CEOID oid;
  ASSERT_TRUE(db.OpenExisting("c_news", &handle, &oid));
  ContentItem copy;
  EXPECT_TRUE(copy.ReadIndexRecord(platform_.ports(), handle));
  EXPECT_EQ(copy.contentId, "77");
  EXPECT_EQ(copy.version, "");
  EXPECT_EQ(copy.oid, id);
  EXPECT_EQ(platform_.ui().Texts(), std::vector<std::string>{"prop not found"});
  EXPECT_FALSE(copy.ReadIndexRecord(platform_.ports(), handle));
  db.CloseHandle(handle);
}

TEST_F(ContentItemTest, RecordTablesGetBothPartsWithSequenceNumbers) {
  std::vector<std::string> records = {SplitRecord(9, 20, 'a'), SplitRecord(10, 21, 'b'),
                                      SplitRecord(11, 22, 'c')};
  http_.Serve("/zavrik/update/data/", EdmBody(3, records));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  auto item = Item("42", "7");
  ASSERT_TRUE(item->Download(progress, settings));
  ASSERT_EQ(item->RecordCount(), 3);
  EXPECT_TRUE(item->WriteRecordTable(platform_.ports(), 1, db, progress));
  EXPECT_TRUE(item->WriteRecordTable(platform_.ports(), 2, db, progress));

  HandheldDump dump = platform_.Dump();
  const auto* j = Db(dump, "J42");
  const auto* jj = Db(dump, "JJ42");
  ASSERT_NE(j, nullptr);
  ASSERT_NE(jj, nullptr);
  ASSERT_EQ(j->sorts.size(), 1u);
  EXPECT_EQ(j->sorts[0].propid, 0x007C0013u);
  ASSERT_EQ(j->records.size(), 3u);
  ASSERT_EQ(jj->records.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t split = 9 + i;
    ASSERT_EQ(j->records[i].props.size(), 2u);
    EXPECT_EQ(j->records[i].props[0].propid, 0x007A0041u);
    EXPECT_EQ(j->records[i].props[0].blob, ToBytes(records[i].substr(0, split)));
    EXPECT_EQ(j->records[i].props[1].propid, 0x007C0013u);
    EXPECT_EQ(j->records[i].props[1].ulVal, i);
    EXPECT_EQ(jj->records[i].props[0].propid, 0x007B0041u);
    EXPECT_EQ(jj->records[i].props[0].blob, ToBytes(records[i].substr(split)));
    EXPECT_EQ(jj->records[i].props[1].ulVal, i);
  }
}

TEST_F(ContentItemTest, RecordTableWithoutRecordsIsLogged) {
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  auto item = Item("42", "7");
  EXPECT_FALSE(item->WriteRecordTable(platform_.ports(), 1, db, progress));
  EXPECT_NE(Log().find("Data Problem No Records :42"), std::string::npos);
}

TEST_F(ContentItemTest, RecordWriteRecoversAfterARemount) {
  http_.Serve("/zavrik/update/data/", EdmBody(2, {SplitRecord(9, 20), SplitRecord(9, 20)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  auto item = Item("42", "7");
  ASSERT_TRUE(item->Download(progress, settings));
  std::string err;
  ASSERT_TRUE(platform_.handheld().AddFault(Fault("CeWriteRecordProps", 2, false, 87), &err))
      << err;
  ASSERT_TRUE(platform_.handheld().AddFault(Fault("CeWriteRecordProps", 3, false, 87), &err))
      << err;
  EXPECT_TRUE(item->WriteRecordTable(platform_.ports(), 1, db, progress));
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{10, 11}));
  EXPECT_TRUE(platform_.ui().Texts().empty());
  HandheldDump dump = platform_.Dump();
  ASSERT_NE(Db(dump, "J42"), nullptr);
  EXPECT_EQ(Db(dump, "J42")->records.size(), 2u);
}

TEST_F(ContentItemTest, RecordWriteGivesUpAfterThreeTries) {
  http_.Serve("/zavrik/update/data/", EdmBody(2, {SplitRecord(9, 20), SplitRecord(9, 20)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  auto item = Item("42", "7");
  ASSERT_TRUE(item->Download(progress, settings));
  std::string err;
  ASSERT_TRUE(platform_.handheld().AddFault(Fault("CeWriteRecordProps", 1, true, 112), &err))
      << err;
  EXPECT_FALSE(item->WriteRecordTable(platform_.ports(), 2, db, progress));
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{10, 11, 12}));
  ASSERT_EQ(platform_.ui().Messages().size(), 1u);
  EXPECT_EQ(platform_.ui().Messages()[0].text, "Unable to write content, please sync again.");
  EXPECT_TRUE(platform_.ui().Messages()[0].style.systemModal);
}

TEST_F(ContentItemTest, RecordDatabaseThatCannotBeOpenedIsReported) {
  http_.Serve("/zavrik/update/data/", EdmBody(2, {SplitRecord(9, 20), SplitRecord(9, 20)}));
  SyncSettings settings(platform_.ports(), &props_);
  ProgressDialog progress(platform_.ports(), nullptr, "News", true, false, kPath);
  DeviceDatabase db(platform_.ports(), kVolume);
  auto item = Item("42", "7");
  ASSERT_TRUE(item->Download(progress, settings));
  std::string err;
  ASSERT_TRUE(platform_.handheld().AddFault(Fault("CeOpenDatabaseEx", 1, true, 8), &err)) << err;
  EXPECT_FALSE(item->WriteRecordTable(platform_.ports(), 1, db, progress));
  EXPECT_EQ(platform_.clock().Sleeps(), (std::vector<uint32_t>{30, 40}));
  std::vector<std::string> texts = platform_.ui().Texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "1.Unable to Open database, please sync again.J42");
  EXPECT_NE(Log().find("1.Unable to Open database, please sync again.J42"), std::string::npos);
}

}  // namespace
}  // namespace hhsync
