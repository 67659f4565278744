// Conformance of the emulated handheld: the results and error codes that the
// program relies on.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "device/wide_text.h"
#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

constexpr CEPROPID kText64 = MakePropId(0x64, CEVT_LPWSTR);
constexpr CEPROPID kNum65 = MakePropId(0x65, CEVT_UI4);
constexpr CEPROPID kBlob66 = MakePropId(0x66, CEVT_BLOB);
constexpr CEPROPID kNum67 = MakePropId(0x67, CEVT_UI4);

// Makes the connection a run makes before any remote call.
void Connect(EmulatedHandheld& h) {
  RapiInit init;
  h.CeRapiInitEx(&init);
  h.WaitForInit(init, 0);
}

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "emulator_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    image_ = dir_ + "/handheld.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A new image with a volume, mounted by handheld_.
  void InitWithVolume(const std::string& volume = "content.vol") {
    std::string err;
    ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
    handheld_ = std::make_unique<EmulatedHandheld>(image_, clock_);
    Connect(*handheld_);
    ASSERT_TRUE(handheld_->CreateVolume(volume, &err)) << err;
    ASSERT_TRUE(handheld_->CeMountDBVol(&guid_, Utf8ToWide(volume), kOpenExisting));
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

  std::string dir_;
  std::string image_;
  FakeClock clock_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  CeGuid guid_;
};

TEST_F(EmulatorTest, ConnectionFollowsImageAndFlag) {
  // No image: never signalled; the whole wait runs out on the clock and the
  // image is not created by trying.
  EmulatedHandheld missing(image_, clock_);
  RapiInit init;
  EXPECT_EQ(missing.CeRapiInitEx(&init), 0);
  EXPECT_EQ(init.cbSize, 12u);
  int64_t before = clock_.MonotonicMs();
  EXPECT_EQ(missing.WaitForInit(init, 5000), kWaitTimeout);
  EXPECT_EQ(clock_.MonotonicMs() - before, 5000);
  CeGuid guid;
  EXPECT_FALSE(missing.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  EXPECT_NE(missing.CeGetLastError(), 0u);
  EXPECT_FALSE(fs::exists(image_));
  EXPECT_FALSE(EmulatedHandheld::Exists(image_));

  // A new image is connected: the event is there at once.
  std::string err;
  ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
  EXPECT_FALSE(EmulatedHandheld::Init(image_, &err));
  EXPECT_NE(err.find("exists"), std::string::npos);
  EXPECT_EQ(missing.WaitForInit(init, 5000), kWaitObject0);
  EXPECT_EQ(clock_.Sleeps().size(), 1u);

  // Disconnected (by another process): the wait runs out and calls fail.
  EmulatedHandheld admin(image_, clock_);
  Connect(admin);
  ASSERT_TRUE(admin.CreateVolume("content.vol", &err)) << err;
  ASSERT_TRUE(admin.SetConnected(false, &err)) << err;
  before = clock_.MonotonicMs();
  EXPECT_EQ(missing.WaitForInit(init, 5000), kWaitTimeout);
  EXPECT_EQ(clock_.MonotonicMs() - before, 5000);
  EXPECT_FALSE(missing.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  EXPECT_EQ(missing.CeGetLastError(), EmulatedHandheld::kNotConnectedError);
  ASSERT_TRUE(admin.SetConnected(true, &err)) << err;
  EXPECT_TRUE(missing.CeMountDBVol(&guid, u"CONTENT.VOL", kOpenExisting));
}

TEST_F(EmulatorTest, VolumeMountConventions) {
  std::string err;
  ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
  EmulatedHandheld h(image_, clock_);
  Connect(h);
  ASSERT_TRUE(h.CreateVolume("news.vol", &err)) << err;
  EXPECT_FALSE(h.CreateVolume("NEWS.vol", &err));

  CeGuid guid;
  EXPECT_FALSE(h.CeMountDBVol(&guid, u"other.vol", kOpenExisting));
  EXPECT_EQ(h.CeGetLastError(), ce_error::kFileNotFound);
  EXPECT_TRUE(guid.IsZero());

  ASSERT_TRUE(h.CeMountDBVol(&guid, u"news.vol", kOpenExisting));
  EXPECT_EQ(h.CeGetLastError(), 0u);
  EXPECT_FALSE(guid.IsZero());

  // Mounted already: fails with 183 but names the volume.
  CeGuid again;
  EXPECT_FALSE(h.CeMountDBVol(&again, u"News.Vol", kOpenExisting));
  EXPECT_EQ(h.CeGetLastError(), ce_error::kAlreadyExists);
  EXPECT_FALSE(again.IsZero());
  CEOID oid = 0;
  EXPECT_EQ(h.CeOpenDatabaseEx(again, &oid, u"cats", 0, CEDB_AUTOINCREMENT), kInvalidHandle);
  EXPECT_EQ(h.CeGetLastError(), ce_error::kFileNotFound);  // the volume is fine, the db is not

  // Unmounted: database calls with its identifier are invalid.
  EXPECT_TRUE(h.CeUnmountDBVol(&guid));
  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = u"cats";
  EXPECT_EQ(h.CeCreateDatabaseEx(guid, info), 0u);
  EXPECT_EQ(h.CeGetLastError(), ce_error::kInvalidParameter);
  EXPECT_FALSE(h.CeUnmountDBVol(&guid));
  EXPECT_EQ(h.CeGetLastError(), ce_error::kInvalidParameter);
}

TEST_F(EmulatorTest, DatabaseCreateOpenCountDelete) {
  InitWithVolume();
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
  CEOID news = handheld_->CeCreateDatabaseEx(guid_, info);
  ASSERT_NE(news, 0u);
  EXPECT_EQ(handheld_->CeCreateDatabaseEx(guid_, info), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kDupName);

  info.name = std::u16string(31, u'y');
  info.sorts.clear();
  CEOID longest = handheld_->CeCreateDatabaseEx(guid_, info);
  EXPECT_NE(longest, 0u);
  EXPECT_NE(longest, news);

  // Open by name fills the id; by id; a missing one is error 2.
  CEOID oid = 0;
  CeDbHandle h = handheld_->CeOpenDatabaseEx(guid_, &oid, u"C_NEWS", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(oid, news);
  CEOID byId = news;
  CeDbHandle h2 = handheld_->CeOpenDatabaseEx(guid_, &byId, u"", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(h2, kInvalidHandle);
  EXPECT_NE(h2, h);
  oid = 0;
  EXPECT_EQ(handheld_->CeOpenDatabaseEx(guid_, &oid, u"cats", 0, CEDB_AUTOINCREMENT),
            kInvalidHandle);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kFileNotFound);

  ASSERT_NE(handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum67, 1)}), 0u);
  ASSERT_NE(handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum67, 2)}), 0u);
  CeOidInfo oi;
  ASSERT_TRUE(handheld_->CeOidGetInfoEx(guid_, news, &oi));
  EXPECT_EQ(oi.recordCount, 2);
  EXPECT_EQ(oi.name, u"c_news");
  EXPECT_FALSE(handheld_->CeOidGetInfoEx(guid_, 999999, &oi));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kFileNotFound);

  // The sort orders are recorded in the order given.
  HandheldDump d;
  std::string err;
  ASSERT_TRUE(handheld_->Dump(&d, &err)) << err;
  ASSERT_EQ(d.volumes.size(), 1u);
  ASSERT_EQ(d.volumes[0].databases.size(), 2u);
  const auto& sorts = d.volumes[0].databases[0].sorts;
  ASSERT_EQ(sorts.size(), 2u);
  EXPECT_EQ(sorts[0].propid, kNum67);
  EXPECT_EQ(sorts[1].propid, MakePropId(0x64, CEVT_UI4));
  EXPECT_EQ(sorts[0].flags, CEDB_SORT_CASEINSENSITIVE);
  EXPECT_TRUE(d.volumes[0].databases[1].sorts.empty());

  // Deleting takes the records along; open handles stop working.
  EXPECT_TRUE(handheld_->CeDeleteDatabaseEx(guid_, news));
  EXPECT_FALSE(handheld_->CeDeleteDatabaseEx(guid_, news));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kFileNotFound);
  std::vector<CePropVal> values;
  EXPECT_EQ(handheld_->CeReadRecordProps(h, CEDB_ALLOWREALLOC, {kNum67}, &values), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), EmulatedHandheld::kInvalidHandleError);
  EXPECT_EQ(handheld_->CeWriteRecordProps(h2, 0, {CePropVal::Ui4(kNum67, 3)}), 0u);
  ASSERT_TRUE(handheld_->Dump(&d, &err)) << err;
  ASSERT_EQ(d.volumes[0].databases.size(), 1u);
  EXPECT_EQ(d.volumes[0].databases[0].oid, longest);
}

TEST_F(EmulatorTest, RecordsReadInIdOrderWithMissingPropsFlagged) {
  InitWithVolume();
  CeDbHandle h = CreateAndOpen(u"cats", {{kText64, CEDB_SORT_CASEINSENSITIVE}});
  ASSERT_NE(h, kInvalidHandle);

  CEOID a = handheld_->CeWriteRecordProps(
      h, 0, {CePropVal::Text(kText64, u"news"), CePropVal::Ui4(kNum65, 3)});
  CEOID b = handheld_->CeWriteRecordProps(
      h, 0, {CePropVal::Text(kText64, u"sport"), CePropVal::Blob(kBlob66, {0x00, 0xff})});
  CEOID c = handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum65, 7)});
  ASSERT_NE(a, 0u);
  ASSERT_LT(a, b);
  ASSERT_LT(b, c);

  // Refused writes.
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, a, {CePropVal::Ui4(kNum65, 1)}), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, {}), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
  CePropVal odd;
  odd.propid = MakePropId(0x70, 2);
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, {CePropVal::Ui4(kNum65, 1), odd}), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);

  // Values come in the order asked; missing ones are flagged.
  CEOID second = 0;
  CeDbHandle r = handheld_->CeOpenDatabaseEx(guid_, &second, u"cats", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(r, kInvalidHandle);
  std::vector<CEPROPID> wanted = {kNum65, kBlob66, kText64};
  std::vector<CePropVal> v;
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), a);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].propid, kNum65);
  EXPECT_EQ(v[0].flags, 0);
  EXPECT_EQ(v[0].ulVal, 3u);
  EXPECT_EQ(v[1].propid, kBlob66);
  EXPECT_EQ(v[1].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(v[2].lpwsz, u"news");

  // Deleting the record just read does not disturb the walk.
  EXPECT_TRUE(handheld_->CeDeleteRecord(r, a));
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), b);
  EXPECT_EQ(v[0].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(v[1].blob, (std::vector<uint8_t>{0x00, 0xff}));
  EXPECT_EQ(v[2].lpwsz, u"sport");
  EXPECT_TRUE(handheld_->CeDeleteRecord(r, b));
  ASSERT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), c);
  EXPECT_EQ(v[0].ulVal, 7u);
  EXPECT_EQ(v[2].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kNoMoreItems);

  EXPECT_FALSE(handheld_->CeDeleteRecord(r, a));
  CeOidInfo oi;
  ASSERT_TRUE(handheld_->CeOidGetInfoEx(guid_, second, &oi));
  EXPECT_EQ(oi.recordCount, 1);

  // A closed handle is gone for good.
  EXPECT_TRUE(handheld_->CeCloseHandle(r));
  EXPECT_FALSE(handheld_->CeCloseHandle(r));
  EXPECT_EQ(handheld_->CeReadRecordProps(r, CEDB_ALLOWREALLOC, wanted, &v), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), EmulatedHandheld::kInvalidHandleError);

  // Another process sees the committed record at once.
  EmulatedHandheld other(image_, clock_);
  Connect(other);
  HandheldDump d;
  std::string err;
  ASSERT_TRUE(other.Dump(&d, &err)) << err;
  ASSERT_EQ(d.volumes[0].databases[0].records.size(), 1u);
  EXPECT_EQ(d.volumes[0].databases[0].records[0].id, c);
}

TEST_F(EmulatorTest, RegistryIgnoresCaseAndKeepsIt) {
  InitWithVolume();
  EmulatedHandheld& h = *handheld_;
  CeHKey key = 0;
  EXPECT_EQ(h.CeRegOpenKeyEx(kHKeyLocalMachine, u"Software\\Acme\\News\\dbp", &key),
            static_cast<int32_t>(ce_error::kFileNotFound));
  EXPECT_EQ(h.CeRegCreateKeyEx(0x80000001u, u"Software\\Acme", &key),
            static_cast<int32_t>(ce_error::kFileNotFound));

  ASSERT_EQ(h.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\Acme\\News\\dbp", &key), 0);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  EXPECT_EQ(h.CeRegQueryValueEx(key, u"", &type, &data, 1024),
            static_cast<int32_t>(ce_error::kFileNotFound));
  std::vector<uint8_t> value = WideToBytes(u"news.vol");
  ASSERT_EQ(value.size(), 18u);
  EXPECT_EQ(h.CeRegSetValueEx(key, u"", kRegSz, value), 0);
  EXPECT_EQ(h.CeRegCloseKey(key), 0);
  EXPECT_NE(h.CeRegCloseKey(key), 0);

  ASSERT_EQ(h.CeRegOpenKeyEx(kHKeyLocalMachine, u"SOFTWARE\\acme\\news\\DBP", &key), 0);
  EXPECT_EQ(h.CeRegQueryValueEx(key, u"", &type, &data, 1024), 0);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, value);
  EXPECT_EQ(h.CeRegQueryValueEx(key, u"", &type, &data, 10),
            static_cast<int32_t>(ce_error::kMoreData));
  EXPECT_EQ(h.CeRegQueryValueEx(key, u"other", &type, &data, 1024),
            static_cast<int32_t>(ce_error::kFileNotFound));

  // Parent keys exist; a write through another case keeps the first case.
  CeHKey parent = 0;
  EXPECT_EQ(h.CeRegOpenKeyEx(kHKeyLocalMachine, u"software\\ACME", &parent), 0);
  ASSERT_EQ(h.CeRegCreateKeyEx(kHKeyLocalMachine, u"SOFTWARE\\ACME\\NEWS\\DBP", &key), 0);
  EXPECT_EQ(h.CeRegSetValueEx(key, u"", kRegSz, WideToBytes(u"other.vol")), 0);
  std::optional<std::string> text;
  std::string err;
  ASSERT_TRUE(h.RegGet("software\\acme\\news\\dbp", &text, &err)) << err;
  EXPECT_EQ(text, "other.vol");
  HandheldDump d;
  ASSERT_TRUE(h.Dump(&d, &err)) << err;
  ASSERT_EQ(d.registry.size(), 1u);
  EXPECT_EQ(d.registry[0].path, "Software\\Acme\\News\\dbp");

  ASSERT_TRUE(h.RegDelete("SOFTWARE\\Acme", &err)) << err;
  ASSERT_TRUE(h.RegGet("Software\\Acme\\News\\dbp", &text, &err)) << err;
  EXPECT_FALSE(text.has_value());
  EXPECT_FALSE(h.RegDelete("Software\\Acme", &err));
}

TEST_F(EmulatorTest, RemoteCallsAndTheCompanionLibrary) {
  InitWithVolume();
  EmulatedHandheld& h = *handheld_;
  const std::string input = "Software\\Acme\\News\\|news.exe|";
  uint32_t outSize = 10;
  std::vector<uint8_t> out;
  EXPECT_NE(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", input, &outSize, &out), 0);
  EXPECT_EQ(h.CeGetLastError(), ce_error::kFileNotFound);

  std::string err;
  ASSERT_TRUE(h.InstallLibrary("zvdll", &err)) << err;
  ASSERT_TRUE(h.InstallLibrary("other", &err)) << err;
  EXPECT_NE(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchNothing", input, &outSize, &out), 0);
  EXPECT_EQ(h.CeGetLastError(), ce_error::kCallNotImplemented);
  EXPECT_NE(h.CeRapiInvoke(u"other", u"RAPIlaunchapp", input, &outSize, &out), 0);
  EXPECT_EQ(h.CeGetLastError(), ce_error::kCallNotImplemented);

  // The handheld side publishes sd6 under the given path.
  EXPECT_EQ(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", input, &outSize, &out), 0);
  EXPECT_EQ(h.CeGetLastError(), 0u);
  EXPECT_EQ(outSize, out.size());
  std::optional<std::string> sd6;
  ASSERT_TRUE(h.RegGet("Software\\Acme\\News\\sd6", &sd6, &err)) << err;
  ASSERT_TRUE(sd6.has_value());
  EXPECT_EQ(sd6->size(), 12u);
  EXPECT_EQ(sd6->rfind("SD6-", 0), 0u);

  // ...only when it is empty there.
  ASSERT_TRUE(h.RegSet("Software\\Acme\\News\\sd6", "kept", &err)) << err;
  EXPECT_EQ(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchafter", "||", &outSize, &out), 0);
  EXPECT_EQ(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", input, &outSize, &out), 0);
  ASSERT_TRUE(h.RegGet("Software\\Acme\\News\\sd6", &sd6, &err)) << err;
  EXPECT_EQ(sd6, "kept");

  HandheldDump d;
  ASSERT_TRUE(h.Dump(&d, &err)) << err;
  ASSERT_EQ(d.calls.size(), 3u);
  EXPECT_EQ(d.calls[0].library, "zvdll");
  EXPECT_EQ(d.calls[0].function, "RAPIlaunchapp");
  EXPECT_EQ(d.calls[0].input, input);
  EXPECT_EQ(d.calls[1].function, "RAPIlaunchafter");
  EXPECT_EQ(d.calls[1].input, "||");

  ASSERT_TRUE(h.RemoveLibrary("zvdll", &err)) << err;
  EXPECT_FALSE(h.RemoveLibrary("zvdll", &err));
  EXPECT_NE(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", input, &outSize, &out), 0);
  EXPECT_EQ(h.CeGetLastError(), ce_error::kFileNotFound);
}

TEST_F(EmulatorTest, FaultsFailTheNthCallOrEveryCallFromIt) {
  InitWithVolume();
  CeDbHandle h = CreateAndOpen(u"keep");
  ASSERT_NE(h, kInvalidHandle);
  std::vector<CePropVal> rec = {CePropVal::Ui4(kNum65, 1)};

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

  // Every call from the first on, even ones that would have succeeded.
  for (int i = 0; i < 3; ++i) {
    CeGuid g;
    EXPECT_FALSE(handheld_->CeMountDBVol(&g, u"content.vol", kOpenExisting));
    EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kInvalidParameter);
    EXPECT_TRUE(g.IsZero());
  }

  // A fault with error 0: the call fails and leaves no error code.
  ASSERT_TRUE(admin.AddFault({"CeWriteRecordProps", 1, false, 0, 0}, &err)) << err;
  EXPECT_EQ(handheld_->CeWriteRecordProps(h, 0, rec), 0u);
  EXPECT_EQ(handheld_->CeGetLastError(), 0u);

  HandheldDump d;
  ASSERT_TRUE(admin.Dump(&d, &err)) << err;
  ASSERT_EQ(d.faults.size(), 3u);
  EXPECT_EQ(d.faults[0].calls, 4u);
  EXPECT_EQ(d.faults[1].calls, 3u);
  ASSERT_EQ(d.volumes[0].databases[0].records.size(), 2u);  // failed writes left nothing

  ASSERT_TRUE(admin.ClearFaults(&err)) << err;
  CeGuid g;
  EXPECT_FALSE(handheld_->CeMountDBVol(&g, u"content.vol", kOpenExisting));
  EXPECT_EQ(handheld_->CeGetLastError(), ce_error::kAlreadyExists);
  EXPECT_NE(handheld_->CeWriteRecordProps(h, 0, rec), 0u);

  // Faults on the connection: the wait runs out.
  ASSERT_TRUE(admin.AddFault({"WaitForInit", 1, false, 0, 0}, &err)) << err;
  RapiInit init;
  EXPECT_EQ(handheld_->CeRapiInitEx(&init), 0);
  EXPECT_EQ(handheld_->WaitForInit(init, 5000), kWaitTimeout);
  EXPECT_EQ(handheld_->WaitForInit(init, 5000), kWaitObject0);
}

TEST_F(EmulatorTest, AdminAddRecordCreatesTheDatabase) {
  std::string err;
  ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
  EmulatedHandheld h(image_, clock_);
  Connect(h);
  CEOID id = 0;
  EXPECT_FALSE(h.AddRecord("news.vol", "keep", {CePropVal::Ui4(kNum65, 5)}, &id, &err));
  ASSERT_TRUE(h.CreateVolume("news.vol", &err)) << err;
  ASSERT_TRUE(h.AddRecord("news.vol", "keep", {CePropVal::Ui4(kNum65, 5)}, &id, &err)) << err;
  CEOID id2 = 0;
  ASSERT_TRUE(h.AddRecord("news.vol", "KEEP", {CePropVal::Text(kText64, u"x")}, &id2, &err));
  EXPECT_GT(id2, id);

  CeGuid guid;
  ASSERT_TRUE(h.CeMountDBVol(&guid, u"news.vol", kOpenExisting));
  CEOID oid = 0;
  CeDbHandle db = h.CeOpenDatabaseEx(guid, &oid, u"keep", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(db, kInvalidHandle);
  CeOidInfo oi;
  ASSERT_TRUE(h.CeOidGetInfoEx(guid, oid, &oi));
  EXPECT_EQ(oi.recordCount, 2);
  std::vector<CePropVal> v;
  EXPECT_EQ(h.CeReadRecordProps(db, CEDB_ALLOWREALLOC, {kNum65}, &v), id);
  EXPECT_EQ(v.at(0).ulVal, 5u);
}

}  // namespace
}  // namespace hhsync

namespace hhsync {
namespace {

TEST_F(EmulatorTest, RemoteCallsNeedAConnection) {
  std::string err;
  ASSERT_TRUE(EmulatedHandheld::Init(image_, &err)) << err;
  EmulatedHandheld h(image_, clock_);
  CeHKey key = 0;
  EXPECT_NE(h.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\x", &key), 0);
  EXPECT_EQ(h.CeGetLastError(), EmulatedHandheld::kNotConnectedError);
  Connect(h);
  EXPECT_EQ(h.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\x", &key), 0);
  h.CeRapiUninit();
  EXPECT_NE(h.CeRegOpenKeyEx(kHKeyLocalMachine, u"Software\\x", &key), 0);
  EXPECT_EQ(h.CeGetLastError(), EmulatedHandheld::kNotConnectedError);
}

}  // namespace
}  // namespace hhsync
