// Conformance of the emulated handheld: the results and error codes that the
// program relies on.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

constexpr CEPROPID kText64 = MakePropId(0x64, CEVT_LPWSTR);
constexpr CEPROPID kNum65 = MakePropId(0x65, CEVT_UI4);
constexpr CEPROPID kBlob66 = MakePropId(0x66, CEVT_BLOB);
constexpr CEPROPID kNum67 = MakePropId(0x67, CEVT_UI4);

// Makes the connection a run makes before any remote call.
void Connect(EmulatedHandheld& h) {
  RapiInit init;
  h.CeRapiInitEx(&init);
  h.WaitForInit(&init, 0);
}

class EmulatorTest : public ::testing::Test {
 protected:
  // A new image with a volume, mounted by handheld_.
  void InitWithVolume() {
    std::string err;
    ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
    handheld_ = std::make_unique<EmulatedHandheld>(image_, clock_);
    Connect(*handheld_);
    ASSERT_TRUE(handheld_->CreateVolume("content.vol", &err)) << err;
    ASSERT_TRUE(handheld_->CeMountDBVol(&guid_, u"content.vol", kOpenExisting));
  }

  CeDbHandle CreateAndOpen(const std::u16string& name, std::vector<CeSortOrder> sorts = {}) {
    CeDbaseInfo info;
    info.flags = CEDB_VALIDNAME;
    info.name = name;
    info.sorts = std::move(sorts);
    CEOID oid = handheld_->CeCreateDatabaseEx(guid_, info);
    EXPECT_NE(oid, 0u);
    return handheld_->CeOpenDatabaseEx(guid_, &oid, u"", 0, CEDB_AUTOINCREMENT);
  }

  HandheldDump Dump() {
    HandheldDump d;
    std::string err;
    EXPECT_TRUE(handheld_->Dump(&d, &err)) << err;
    return d;
  }

  test::TempDir dir_;
  std::string image_ = dir_.File("handheld.db");
  FakeClock clock_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  CeGuid guid_;
};

TEST_F(EmulatorTest, ConnectionFollowsImageAndFlag) {
  // No image: never signalled; the whole wait runs out on the clock and the
  // image is not created by trying.
  EmulatedHandheld h(image_, clock_);
  RapiInit init;
  EXPECT_EQ(h.CeRapiInitEx(&init), 0);
  int64_t before = clock_.MonotonicMs();
  EXPECT_EQ(h.WaitForInit(&init, 5000), kWaitTimeout);
  EXPECT_EQ(clock_.MonotonicMs() - before, 5000);
  EXPECT_EQ(h.NoAnswerText(), "no handheld image at " + image_);
  CeGuid guid;
  EXPECT_FALSE(h.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  EXPECT_FALSE(test::FileExists(image_));

  // A new image is connected: the event is there at once.
  std::string err;
  ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
  EXPECT_FALSE(EmulatedHandheld::Init(image_, &err));
  EXPECT_EQ(h.WaitForInit(&init, 5000), kWaitObject0);
  EXPECT_EQ(h.NoAnswerText(), "");

  // Disconnected by another process: the wait runs out and calls fail.
  EmulatedHandheld admin(image_, clock_);
  Connect(admin);
  ASSERT_TRUE(admin.CreateVolume("content.vol", &err)) << err;
  ASSERT_TRUE(admin.SetConnected(false, &err)) << err;
  before = clock_.MonotonicMs();
  EXPECT_EQ(h.WaitForInit(&init, 5000), kWaitTimeout);
  EXPECT_EQ(clock_.MonotonicMs() - before, 5000);
  EXPECT_EQ(h.NoAnswerText(),
            "the handheld image " + image_ + " is disconnected (hhctl device connect)");
  EXPECT_FALSE(h.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  EXPECT_EQ(h.CeGetLastError(), EmulatedHandheld::kNotConnectedError);
  ASSERT_TRUE(admin.SetConnected(true, &err)) << err;
  EXPECT_TRUE(h.CeMountDBVol(&guid, u"CONTENT.VOL", kOpenExisting));

  // Not even a directory for the image: that is said too.
  const std::string nowhere = dir_.File("nowhere/handheld.db");
  EmulatedHandheld lost(nowhere, clock_);
  lost.CeRapiInitEx(&init);
  EXPECT_EQ(lost.WaitForInit(&init, 0), kWaitTimeout);
  EXPECT_EQ(lost.NoAnswerText(), "no handheld image at " + nowhere + ": the directory " +
                                     dir_.File("nowhere/") + " does not exist");
}

TEST_F(EmulatorTest, VolumesAndDatabasesFailWithThePlatformsCodes) {
  InitWithVolume();
  CeGuid other;
  EXPECT_FALSE(handheld_->CeMountDBVol(&other, u"other.vol", kOpenExisting));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kFileNotFound);
  // Mounted already: fails with 183 but names the volume.
  CeGuid again;
  EXPECT_FALSE(handheld_->CeMountDBVol(&again, u"Content.Vol", kOpenExisting));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kAlreadyExists);
  EXPECT_FALSE(again.IsZero());
  CEOID oid = 0;
  EXPECT_EQ(handheld_->CeOpenDatabaseEx(again, &oid, u"cats", 0, CEDB_AUTOINCREMENT),
            kInvalidHandle);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kFileNotFound);

  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = std::u16string(32, u'x');
  EXPECT_EQ(handheld_->CeCreateDatabaseEx(guid_, info), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
  info.name = u"c_news";
  info.sorts = {{kNum67, CEDB_SORT_CASEINSENSITIVE},
                {MakePropId(0x64, CEVT_UI4), CEDB_SORT_CASEINSENSITIVE},
                {kText64, CEDB_SORT_CASEINSENSITIVE}};
  EXPECT_EQ(handheld_->CeCreateDatabaseEx(guid_, info), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
  info.sorts.pop_back();
  const CEOID news = handheld_->CeCreateDatabaseEx(guid_, info);
  ASSERT_NE(news, 0u);
  EXPECT_EQ(handheld_->CeCreateDatabaseEx(guid_, info), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kDupName);

  // Opened by name, ignoring case; deleting the database stops its handles.
  oid = 0;
  CeDbHandle h = handheld_->CeOpenDatabaseEx(guid_, &oid, u"C_NEWS", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(oid, news);
  ASSERT_NE(handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum67, 1)}), 0u);
  EXPECT_TRUE(handheld_->CeDeleteDatabaseEx(guid_, news));
  EXPECT_FALSE(handheld_->CeDeleteDatabaseEx(guid_, news));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kFileNotFound);
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum67, 3)}), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), EmulatedHandheld::kInvalidHandleError);
}

TEST_F(EmulatorTest, RecordsReadInIdOrderWithMissingPropsFlagged) {
  InitWithVolume();
  CeDbHandle h = CreateAndOpen(u"cats", {{kText64, CEDB_SORT_CASEINSENSITIVE}});
  ASSERT_NE(h, kInvalidHandle);
  const CEOID a = handheld_->CeWriteRecordProps(
      h, 0, {CePropVal::Text(kText64, u"news"), CePropVal::Ui4(kNum65, 3)});
  const CEOID b = handheld_->CeWriteRecordProps(
      h, 0, {CePropVal::Text(kText64, u"sport"), CePropVal::Blob(kBlob66, {0x00, 0xff})});
  const CEOID c = handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum65, 7)});
  ASSERT_NE(a, 0u);
  ASSERT_LT(a, b);
  ASSERT_LT(b, c);
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, {}), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);

  // Values come in the order asked; missing ones are flagged. Deleting the
  // record just read does not disturb the walk.
  CEOID oid = 0;
  CeDbHandle r = handheld_->CeOpenDatabaseEx(guid_, &oid, u"cats", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(r, kInvalidHandle);
  const std::vector<CEPROPID> wanted = {kNum65, kBlob66, kText64};
  std::vector<CePropVal> v;
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), a);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].ulVal, 3u);
  EXPECT_EQ(v[1].propid, kBlob66);
  EXPECT_EQ(v[1].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(v[2].lpwsz, u"news");
  EXPECT_TRUE(handheld_->CeDeleteRecord(r, a));
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), b);
  EXPECT_EQ(v[0].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(v[1].blob, (std::vector<uint8_t>{0x00, 0xff}));
  EXPECT_TRUE(handheld_->CeDeleteRecord(r, b));
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), c);
  EXPECT_EQ(v[2].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kNoMoreItems);
  EXPECT_FALSE(handheld_->CeDeleteRecord(r, a));
  EXPECT_TRUE(handheld_->CeCloseHandle(r));
  EXPECT_FALSE(handheld_->CeCloseHandle(r));
}

TEST_F(EmulatorTest, FaultsFailTheNthCallOrEveryCallFromIt) {
  InitWithVolume();
  CeDbHandle h = CreateAndOpen(u"keep");
  ASSERT_NE(h, kInvalidHandle);
  const std::vector<CePropVal> rec = {CePropVal::Ui4(kNum65, 1)};

  // Added through another instance, as hhctl would: counting starts now.
  EmulatedHandheld admin(image_, clock_);
  Connect(admin);
  std::string err;
  ASSERT_TRUE(admin.AddFault({"CeWriteRecordProps", 2, false, ce_error::kDiskFull, 0}, &err))
      << err;
  ASSERT_TRUE(admin.AddFault({"CeMountDBVol", 1, true, ce_error::kInvalidParameter, 0}, &err))
      << err;
  EXPECT_FALSE(admin.AddFault({"CeNoSuchCall", 1, false, 2, 0}, &err));

  EXPECT_NE(handheld_->CeWriteRecordProps(h, 0, rec), 0u);
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, rec), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kDiskFull);
  EXPECT_NE(handheld_->CeWriteRecordProps(h, 0, rec), 0u);
  for (int i = 0; i < 3; ++i) {
    CeGuid g;
    EXPECT_FALSE(handheld_->CeMountDBVol(&g, u"content.vol", kOpenExisting));
    EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
  }
  HandheldDump d = Dump();
  ASSERT_EQ(d.volumes.at(0).databases.at(0).records.size(), 2u);  // the failed write left nothing

  ASSERT_TRUE(admin.ClearFaults(&err)) << err;
  CeGuid g;
  EXPECT_FALSE(handheld_->CeMountDBVol(&g, u"content.vol", kOpenExisting));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kAlreadyExists);

  // A fault on the connection: that wait runs out.
  ASSERT_TRUE(admin.AddFault({"WaitForInit", 1, false, 0, 0}, &err)) << err;
  RapiInit init;
  EXPECT_EQ(handheld_->CeRapiInitEx(&init), 0);
  EXPECT_EQ(handheld_->WaitForInit(&init, 5000), kWaitTimeout);
  EXPECT_EQ(handheld_->WaitForInit(&init, 5000), kWaitObject0);
}

TEST_F(EmulatorTest, IdsAreNeverHandedOutTwiceAndValuesComeBackAsWritten) {
  InitWithVolume();
  CeDbHandle h = CreateAndOpen(u"cats");
  ASSERT_NE(h, kInvalidHandle);
  // Written twice, an id keeps its last value; empty text and blobs stay.
  const CEOID a = handheld_->CeWriteRecordProps(
      h, 0,
      {CePropVal::Ui4(kNum67, 0xFFFFFFFFu), CePropVal::Text(kText64, u"first"),
       CePropVal::Blob(kBlob66, {}), CePropVal::Text(kText64, u""), CePropVal::Ui4(kNum65, 0)});
  const CEOID b = handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum65, 2)});
  ASSERT_NE(a, 0u);
  ASSERT_EQ(b, a + 1);
  std::vector<CePropVal> v;
  CEOID oid = 0;
  CeDbHandle r = handheld_->CeOpenDatabaseEx(guid_, &oid, u"cats", 0, CEDB_AUTOINCREMENT);
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, {}, &v), a);
  ASSERT_EQ(v.size(), 4u) << "every property, in id order";
  EXPECT_EQ(v[0].propid, kText64);
  EXPECT_EQ(v[0].lpwsz, u"");
  EXPECT_EQ(v[1].propid, kNum65);
  EXPECT_EQ(v[2].propid, kBlob66);
  EXPECT_TRUE(v[2].blob.empty());
  EXPECT_EQ(v[3].ulVal, 0xFFFFFFFFu);

  // Deleting the newest record, then its database, frees neither id: not
  // for this instance, and not for a fresh one that knows only the file.
  EXPECT_TRUE(handheld_->CeDeleteRecord(h, b));
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum65, 3)}), b + 1);
  EXPECT_TRUE(handheld_->CeDeleteDatabaseEx(guid_, oid));
  EmulatedHandheld fresh(image_, clock_);
  Connect(fresh);
  CeGuid g;
  ASSERT_TRUE(fresh.CeMountDBVol(&g, u"content.vol", kOpenExisting));
  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = u"dogs";
  EXPECT_EQ(fresh.CeCreateDatabaseEx(g, info), b + 2);
  info.name = u"birds";
  EXPECT_EQ(handheld_->CeCreateDatabaseEx(guid_, info), b + 3) << "seen by the first instance";
}

TEST_F(EmulatorTest, ReadsGoOnWhileAnotherProcessWritesAndDamageIsAFailure) {
  InitWithVolume();
  CeDbHandle h = CreateAndOpen(u"cats");
  const CEOID a = handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum65, 1)});
  ASSERT_NE(a, 0u);

  // Another connection holds the write lock: reading needs none.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(image_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  CEOID oid = 0;
  CeDbHandle r = handheld_->CeOpenDatabaseEx(guid_, &oid, u"cats", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(r, kInvalidHandle);
  std::vector<CePropVal> v;
  EXPECT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, {kNum65}, &v), a);
  EXPECT_TRUE(handheld_->CeCloseHandle(r));

  // A record whose stored value is cut short reads as a general failure.
  ASSERT_EQ(sqlite3_exec(other, "UPDATE records SET props = x'650001'", nullptr, nullptr, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  oid = 0;
  r = handheld_->CeOpenDatabaseEx(guid_, &oid, u"cats", 0, CEDB_AUTOINCREMENT);
  EXPECT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, {kNum65}, &v), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), 31u);
  HandheldDump d;
  std::string err;
  EXPECT_FALSE(handheld_->Dump(&d, &err));
  EXPECT_NE(err.find("damaged"), std::string::npos) << err;
  ASSERT_TRUE(handheld_->CeDeleteDatabaseEx(guid_, oid));

  // A fault on a reading call is counted like any other.
  ASSERT_TRUE(handheld_->AddFault({"CeCloseHandle", 2, true, ce_error::kInvalidParameter, 0}, &err))
      << err;
  EXPECT_TRUE(handheld_->CeCloseHandle(r));
  EXPECT_FALSE(handheld_->CeCloseHandle(h));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
  EXPECT_EQ(Dump().faults.at(0).calls, 2u);
}

}  // namespace
}  // namespace hhsync
