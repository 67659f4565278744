#include "device/device_database.h"

#include <gtest/gtest.h>

#include "device/records.h"
#include "device/wide_text.h"
#include "platform/fake/forwarding_rapi.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::TestPlatform;

// Counts mounts and unmounts, and can answer the next mounts with a chosen
// failure (and guid).
class MountWatcher : public ForwardingRapi {
 public:
  using ForwardingRapi::ForwardingRapi;
  bool CeMountDBVol(CeGuid* g, const std::u16string& v, uint32_t f) override {
    ++mounts;
    if (failWith != 0) {
      if (fillGuid) g->data[0] = 0x1234;
      lastError = failWith;
      return false;
    }
    lastError = 0;
    return t_.CeMountDBVol(g, v, f);
  }
  bool CeUnmountDBVol(CeGuid* g) override {
    ++unmounts;
    return t_.CeUnmountDBVol(g);
  }
  uint32_t CeGetLastError() override { return lastError != 0 ? lastError : t_.CeGetLastError(); }
  CeDbHandle CeOpenDatabaseEx(const CeGuid& g, CEOID* oid, const std::u16string& name,
                              CEPROPID sort, uint32_t flags) override {
    lastError = 0;
    return t_.CeOpenDatabaseEx(g, oid, name, sort, flags);
  }
  int mounts = 0;
  int unmounts = 0;
  uint32_t failWith = 0;
  bool fillGuid = false;
  uint32_t lastError = 0;
};

class DeviceDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(p_.handheld().CreateVolume("news.vol", &err)) << err;
    p_.Connect();
    ports_ = p_.ports();
    ports_.rapi = &watcher_;
  }

  TestPlatform p_;
  MountWatcher watcher_{p_.handheld()};
  Ports ports_;
};

TEST_F(DeviceDatabaseTest, SharedMountIsCountedAndUnmountedOnce) {
  {
    DeviceDatabase first(ports_, "news.vol");
    EXPECT_TRUE(first.mounted());
    EXPECT_EQ(DeviceDatabase::HolderCount(), 1);
    {
      DeviceDatabase second(ports_);
      EXPECT_TRUE(second.mounted());
      EXPECT_EQ(DeviceDatabase::HolderCount(), 2);
      EXPECT_EQ(watcher_.mounts, 1) << "joining a held mount must not call the handheld";
    }
    EXPECT_EQ(DeviceDatabase::HolderCount(), 1);
    EXPECT_EQ(watcher_.unmounts, 0);
    EXPECT_EQ(first.VolumeName(), "news.vol");
  }
  EXPECT_EQ(DeviceDatabase::HolderCount(), 0);
  EXPECT_EQ(watcher_.unmounts, 1);

  // After a remount the count restarts at 1, so the next holder to go
  // unmounts although another instance still exists.
  DeviceDatabase a(ports_, "news.vol");
  DeviceDatabase b(ports_);
  EXPECT_TRUE(b.Remount(30));
  EXPECT_EQ(DeviceDatabase::HolderCount(), 1);
  EXPECT_EQ(p_.clock().Sleeps().back(), 30u);
  int before = watcher_.unmounts;
  { DeviceDatabase c(ports_); }
  EXPECT_EQ(watcher_.unmounts, before);
}

TEST_F(DeviceDatabaseTest, FailedMountLeavesCountAtZeroAndMountRetries) {
  {
    DeviceDatabase probe(ports_, "missing.vol");
    EXPECT_FALSE(probe.mounted());
    EXPECT_EQ(DeviceDatabase::HolderCount(), 0);
    EXPECT_TRUE(p_.ui().Messages().empty()) << "a missing volume fails silently";
    EXPECT_TRUE(probe.Mount("news.vol"));
    EXPECT_EQ(DeviceDatabase::HolderCount(), 1);
  }
  EXPECT_EQ(DeviceDatabase::HolderCount(), 0);

  int unmountsBefore = watcher_.unmounts;
  { DeviceDatabase probe(ports_, "missing.vol"); }
  EXPECT_EQ(watcher_.unmounts, unmountsBefore + 1) << "destroying a failed probe unmounts again";

  { DeviceDatabase empty(ports_, ""); }
  EXPECT_EQ(watcher_.mounts, 3) << "an empty volume name never reaches the handheld";
}

TEST_F(DeviceDatabaseTest, MountErrorsShowTheirMessages) {
  struct Case {
    uint32_t error;
    bool guid;
    bool mounted;
    const char* message;
  } cases[] = {{87, false, false, "ERROR_INVALID_PARAMETER"},
               {112, false, false, "ERROR_DISK_FULL"},
               {183, false, false, "ERROR OPENING DATABASE ON PPC"},
               {183, true, true, nullptr},
               {5, false, false, nullptr}};
  for (const auto& c : cases) {
    watcher_.failWith = c.error;
    watcher_.fillGuid = c.guid;
    size_t before = p_.ui().Messages().size();
    {
      DeviceDatabase db(ports_, "news.vol");
      EXPECT_EQ(db.mounted(), c.mounted) << c.error;
    }
    auto shown = p_.ui().Messages();
    if (c.message) {
      ASSERT_EQ(shown.size(), before + 1) << c.error;
      EXPECT_EQ(shown.back().text, c.message);
      EXPECT_EQ(shown.back().style.buttons, MbButtons::kOk);
      EXPECT_FALSE(shown.back().style.systemModal);
    } else {
      EXPECT_EQ(shown.size(), before) << c.error;
    }
  }
}

TEST_F(DeviceDatabaseTest, OpenOrCreateMakesSortOrdersInOrderAndReopens) {
  DeviceDatabase db(ports_, "news.vol");
  CeDbHandle h;
  CEOID oid;
  ASSERT_TRUE(db.OpenOrCreate("one", TextProp(0x64), 0, &h, &oid));
  EXPECT_NE(h, kInvalidHandle);
  db.CloseHandle(h);
  ASSERT_TRUE(db.OpenOrCreate("two", TextProp(0x67), UintProp(0x64), &h, &oid));
  db.CloseHandle(h);
  ASSERT_TRUE(db.OpenOrCreate("none", 0, 0, &h, &oid));
  db.CloseHandle(h);
  CEOID again;
  ASSERT_TRUE(db.OpenOrCreate("none", 0, 0, &h, &again));
  EXPECT_EQ(again, oid) << "an existing database is opened, not made anew";
  db.CloseHandle(h);

  auto dump = p_.Dump();
  ASSERT_EQ(dump.volumes.size(), 1u);
  std::map<std::string, std::vector<CEPROPID>> sorts;
  for (const auto& d : dump.volumes[0].databases) {
    for (const auto& s : d.sorts) {
      sorts[d.name].push_back(s.propid);
      EXPECT_EQ(s.flags, CEDB_SORT_CASEINSENSITIVE);
    }
  }
  EXPECT_EQ(sorts["one"], (std::vector<CEPROPID>{0x0064001F}));
  EXPECT_EQ(sorts["two"], (std::vector<CEPROPID>{0x0067001F, 0x00640013}));
  EXPECT_EQ(sorts.count("none"), 0u);
  EXPECT_TRUE(p_.ui().Messages().empty());
}

TEST_F(DeviceDatabaseTest, OpenAndCreateFailuresShowTheirBoxes) {
  DeviceDatabase db(ports_, "news.vol");
  CeDbHandle h;
  CEOID oid;
  std::string err;
  auto fault = [&](const char* op, uint32_t error) {
    ASSERT_TRUE(p_.handheld().ClearFaults(&err));
    ASSERT_TRUE(p_.handheld().AddFault({op, 1, false, error, 0}, &err)) << err;
  };

  fault("CeOpenDatabaseEx", 87);
  EXPECT_FALSE(db.OpenOrCreate("cats", TextProp(0x64), 0, &h, &oid));
  fault("CeOpenDatabaseEx", 8);
  EXPECT_FALSE(db.OpenOrCreate("cats", TextProp(0x64), 0, &h, &oid));
  fault("CeCreateDatabaseEx", 52);
  EXPECT_FALSE(db.OpenOrCreate("cats", TextProp(0x64), 0, &h, &oid));
  fault("CeCreateDatabaseEx", 87);
  EXPECT_FALSE(db.OpenOrCreate("cats", TextProp(0x64), 0, &h, &oid));
  fault("CeCreateDatabaseEx", 5);
  EXPECT_FALSE(db.OpenOrCreate("cats", TextProp(0x64), 0, &h, &oid));
  // The reopen of a new database: the first open (by name) fails normally
  // because the database is missing, the second is the reopen.
  ASSERT_TRUE(p_.handheld().ClearFaults(&err));
  ASSERT_TRUE(p_.handheld().AddFault({"CeOpenDatabaseEx", 2, false, 87, 0}, &err));
  EXPECT_FALSE(db.OpenOrCreate("a", 0, 0, &h, &oid));
  ASSERT_TRUE(p_.handheld().ClearFaults(&err));
  ASSERT_TRUE(p_.handheld().AddFault({"CeOpenDatabaseEx", 2, false, 8, 0}, &err));
  EXPECT_FALSE(db.OpenOrCreate("b", 0, 0, &h, &oid));
  ASSERT_TRUE(p_.handheld().ClearFaults(&err));
  ASSERT_TRUE(p_.handheld().AddFault({"CeOpenDatabaseEx", 2, false, 5, 0}, &err));
  EXPECT_TRUE(db.OpenOrCreate("c", 0, 0, &h, &oid));
  EXPECT_EQ(h, kInvalidHandle);
  EXPECT_FALSE(WriteNewRecord(p_.handheld(), h, {CePropVal::Ui4(UintProp(1), 1)}).ok);

  auto shown = p_.ui().Messages();
  ASSERT_EQ(shown.size(), 6u);
  const MessageBoxStyle stopOk{MbButtons::kOk, MbIcon::kStop, true};
  const MessageBoxStyle stopYesNo{MbButtons::kYesNo, MbIcon::kStop, true};
  auto same = [](const MessageBoxStyle& a, const MessageBoxStyle& b) {
    return a.buttons == b.buttons && a.icon == b.icon && a.systemModal == b.systemModal;
  };
  EXPECT_EQ(shown[0].text, "could not open database bad parameter:cats");
  EXPECT_TRUE(same(shown[0].style, stopOk));
  EXPECT_EQ(shown[1].text, "could not open database not enough memory");
  EXPECT_TRUE(same(shown[1].style, stopYesNo));
  EXPECT_EQ(shown[2].text, "could not create database dupe name");
  EXPECT_TRUE(same(shown[2].style, MessageBoxStyle{}));
  EXPECT_EQ(shown[3].text, "could not open database bad parameter:cats");
  EXPECT_TRUE(same(shown[3].style, stopOk));
  EXPECT_EQ(shown[4].text, "could not open database bad parameter");
  EXPECT_TRUE(same(shown[4].style, stopOk));
  EXPECT_EQ(shown[5].text, "could not open database not enough memory");
  EXPECT_TRUE(same(shown[5].style, stopOk));
}

TEST_F(DeviceDatabaseTest, CountDeleteAndWriteResultRule) {
  DeviceDatabase db(ports_, "news.vol");
  CeDbHandle h;
  CEOID oid;
  ASSERT_TRUE(db.OpenOrCreate("keep", 0, 0, &h, &oid));
  std::vector<CePropVal> rec = {CePropVal::Ui4(UintProp(0x64), 5),
                                CePropVal::Text(TextProp(0x65), AnsiToWide("caf\xe9"))};
  EXPECT_TRUE(WriteNewRecord(p_.handheld(), h, rec).ok);

  std::string err;
  struct Case {
    uint32_t error;
    bool ok;
    const char* text;
  } cases[] = {{87, false, "ERROR_INVALID_PARAMETER"}, {112, false, "ERROR_DISK_FULL"},
               {5, true, ""}, {0, false, nullptr}};
  for (const auto& c : cases) {
    ASSERT_TRUE(p_.handheld().ClearFaults(&err));
    ASSERT_TRUE(p_.handheld().AddFault({"CeWriteRecordProps", 1, false, c.error, 0}, &err));
    WriteResult r = WriteNewRecord(p_.handheld(), h, rec);
    EXPECT_EQ(r.ok, c.ok) << c.error;
    if (c.text) {
      EXPECT_EQ(r.failureText, c.text);
    } else {
      EXPECT_FALSE(r.failureText.empty());
    }
  }
  ASSERT_TRUE(p_.handheld().ClearFaults(&err));
  EXPECT_EQ(db.RecordCount(oid), 1);

  std::vector<CePropVal> values;
  CEOID rid = ReadNextRecord(p_.handheld(), h, {UintProp(0x64), TextProp(0x65)}, &values);
  ASSERT_NE(rid, 0u);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(WideToAnsi(values[1].lpwsz), "caf\xe9");
  DeleteRecordById(p_.handheld(), h, rid);
  DeleteRecordById(p_.handheld(), h, 0);
  EXPECT_EQ(db.RecordCount(oid), 0);
  db.CloseHandle(h);

  ASSERT_TRUE(p_.handheld().AddFault({"CeOidGetInfoEx", 1, false, 5, 0}, &err));
  EXPECT_EQ(db.RecordCount(oid), 0);
  ASSERT_EQ(p_.ui().Texts(), (std::vector<std::string>{"DB Problem"}));
  EXPECT_EQ(p_.ui().Messages()[0].style.buttons, MbButtons::kYesNo);

  EXPECT_TRUE(db.DeleteDatabaseByName("keep"));
  EXPECT_FALSE(db.DeleteDatabaseByName("keep"));
}

}  // namespace
}  // namespace hhsync
