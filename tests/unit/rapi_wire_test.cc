// The remote device calls as messages (the test rapi.dll's bridge): every
// call made through RemoteRapi reaches the emulated handheld with the same
// arguments and brings back the same results and error codes.

#include "rapi_bridge/rapi_wire.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using rapi_wire::AnswerRapiCall;
using rapi_wire::Message;
using rapi_wire::RemoteRapi;

constexpr CEPROPID kText64 = MakePropId(0x64, CEVT_LPWSTR);
constexpr CEPROPID kNum65 = MakePropId(0x65, CEVT_UI4);
constexpr CEPROPID kBlob66 = MakePropId(0x66, CEVT_BLOB);
constexpr CEPROPID kNum67 = MakePropId(0x67, CEVT_UI4);

class RapiWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
    handheld_ = std::make_unique<EmulatedHandheld>(image_, clock_);
    ASSERT_TRUE(handheld_->CreateVolume("content.vol", &err)) << err;
    ASSERT_TRUE(handheld_->InstallLibrary("zvdll", &err)) << err;
  }

  test::TempDir dir_;
  std::string image_ = dir_.File("handheld.db");
  FakeClock clock_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  int requests_ = 0;
  RemoteRapi remote_{[this](const Message& request, Message* reply) {
    ++requests_;
    *reply = AnswerRapiCall(*handheld_, request);
    return true;
  }};
};

TEST_F(RapiWireTest, CallsCrossWithTheirArgumentsResultsAndErrors) {
  RapiInit init;
  EXPECT_EQ(remote_.CeRapiInitEx(&init), 0);
  EXPECT_EQ(init.result, 0);
  EXPECT_EQ(remote_.WaitForInit(&init, 0), kWaitObject0);

  CeGuid guid;
  EXPECT_FALSE(remote_.CeMountDBVol(&guid, u"missing.vol", kOpenExisting));
  EXPECT_EQ(remote_.CeGetLastError(), ce_error::kFileNotFound);
  ASSERT_TRUE(remote_.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  EXPECT_FALSE(guid.IsZero());

  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = u"cats";
  info.sorts = {CeSortOrder{kText64, CEDB_SORT_CASEINSENSITIVE}};
  const CEOID created = remote_.CeCreateDatabaseEx(guid, info);
  ASSERT_NE(created, 0u);
  CEOID oid = 0;
  const CeDbHandle db = remote_.CeOpenDatabaseEx(guid, &oid, u"cats", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(db, kInvalidHandle);
  EXPECT_EQ(oid, created);

  const std::vector<CePropVal> written = {CePropVal::Text(kText64, u"caf\u00e9 news"),
                                          CePropVal::Ui4(kNum65, 3),
                                          CePropVal::Blob(kBlob66, {0, 1, 0xFF})};
  const CEOID record = remote_.CeWriteRecordProps(db, 0, written);
  ASSERT_NE(record, 0u);
  CeOidInfo oidInfo;
  ASSERT_TRUE(remote_.CeOidGetInfoEx(guid, created, &oidInfo));
  EXPECT_EQ(oidInfo.recordCount, 1);
  EXPECT_EQ(oidInfo.name, u"cats");

  std::vector<CePropVal> values;
  CEOID oid2 = 0;
  const CeDbHandle reader = remote_.CeOpenDatabaseEx(guid, &oid2, u"cats", 0, CEDB_AUTOINCREMENT);
  EXPECT_EQ(remote_.CeReadRecordProps(reader, CEDB_ALLOWREALLOC, {kBlob66, kNum67, kText64, kNum65},
                                      &values),
            record);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].blob, (std::vector<uint8_t>{0, 1, 0xFF}));
  EXPECT_EQ(values[1].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(values[2].lpwsz, u"caf\u00e9 news");
  EXPECT_EQ(values[3].ulVal, 3u);
  EXPECT_EQ(remote_.CeReadRecordProps(reader, CEDB_ALLOWREALLOC, {kNum65}, &values), 0u);
  EXPECT_TRUE(remote_.CeDeleteRecord(db, record));
  EXPECT_TRUE(remote_.CeCloseHandle(reader));
  EXPECT_TRUE(remote_.CeCloseHandle(db));
  EXPECT_FALSE(remote_.CeCloseHandle(db));
  EXPECT_TRUE(remote_.CeDeleteDatabaseEx(guid, created));

  CeHKey key = 0;
  ASSERT_EQ(remote_.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\Co\\App\\dbp", &key), 0);
  ASSERT_EQ(remote_.CeRegSetValueEx(key, u"", kRegSz, WideToBytes(u"content.vol")), 0);
  EXPECT_EQ(remote_.CeRegCloseKey(key), 0);
  ASSERT_EQ(remote_.CeRegOpenKeyEx(kHKeyLocalMachine, u"SOFTWARE\\Co\\App\\DBP", &key), 0);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(remote_.CeRegQueryValueEx(key, u"", &type, &data, 200), 0);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, WideToBytes(u"content.vol"));
  EXPECT_NE(remote_.CeRegOpenKeyEx(kHKeyLocalMachine, u"Software\\None", &key), 0);

  uint32_t outSize = 10;
  std::vector<uint8_t> output;
  EXPECT_EQ(remote_.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", "Software\\Co\\App\\|app.exe|",
                                 &outSize, &output),
            0);
  EXPECT_NE(remote_.CeRapiInvoke(u"nolib", u"Fn", "", &outSize, &output), 0);
  EXPECT_EQ(remote_.CeGetLastError(), ce_error::kFileNotFound);
  EXPECT_EQ(remote_.CeRapiUninit(), 0);

  HandheldDump dump;
  std::string err;
  ASSERT_TRUE(handheld_->Dump(&dump, &err)) << err;
  ASSERT_EQ(dump.calls.size(), 1u);
  EXPECT_EQ(dump.calls[0].input, "Software\\Co\\App\\|app.exe|");
  EXPECT_GT(requests_, 20);
}

TEST_F(RapiWireTest, ABrokenConnectionIsAHandheldThatNeverAnswers) {
  RemoteRapi broken([](const Message&, Message*) { return false; });
  RapiInit init;
  EXPECT_LT(broken.CeRapiInitEx(&init), 0);
  EXPECT_EQ(broken.WaitForInit(&init, 0), kWaitTimeout);
  CeGuid guid;
  EXPECT_FALSE(broken.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  EXPECT_EQ(broken.CeGetLastError(), rapi_wire::kBridgeDown);
  EXPECT_FALSE(broken.DesktopErrorText().empty());
}

TEST_F(RapiWireTest, RequestsThatCannotBeReadGetNoReply) {
  EXPECT_TRUE(AnswerRapiCall(*handheld_, {}).empty());
  EXPECT_TRUE(AnswerRapiCall(*handheld_, {0xEE}).empty()) << "unknown call";
  EXPECT_TRUE(AnswerRapiCall(*handheld_, {4, 0}).empty()) << "bytes after the call";
  // A mount whose volume name claims more text than the message holds.
  EXPECT_TRUE(AnswerRapiCall(*handheld_,
                             {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0})
                  .empty());
  EXPECT_FALSE(AnswerRapiCall(*handheld_, {4}).empty());
}

}  // namespace
}  // namespace hhsync
