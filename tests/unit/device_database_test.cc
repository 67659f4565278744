#include "device/device_database.h"

#include <gtest/gtest.h>

#include "app/db_failure_boxes.h"
#include "base/text.h"
#include "device/records.h"
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
  }

  TestPlatform p_;
  MountWatcher watcher_{p_.handheld()};
  DbFailureBoxes boxes_{p_.ui()};
  VolumeMount mount_{watcher_, p_.clock(), boxes_};
};

TEST_F(DeviceDatabaseTest, SharedMountIsCountedAndUnmountedOnce) {
  {
    DeviceDatabase first(mount_, "news.vol");
    EXPECT_TRUE(first.mounted());
    EXPECT_EQ(mount_.holders(), 1);
    {
      DeviceDatabase second(mount_);
      EXPECT_TRUE(second.mounted());
      EXPECT_EQ(mount_.holders(), 2);
      EXPECT_EQ(watcher_.mounts, 1) << "joining a held mount must not call the handheld";
    }
    EXPECT_EQ(mount_.holders(), 1);
    EXPECT_EQ(watcher_.unmounts, 0);
    EXPECT_EQ(first.VolumeName(), "news.vol");
  }
  EXPECT_EQ(mount_.holders(), 0);
  EXPECT_EQ(watcher_.unmounts, 1);

  // After a remount every instance that held the mount still holds it: the
  // volume stays mounted until the last of them is gone.
  {
    DeviceDatabase a(mount_, "news.vol");
    {
      DeviceDatabase b(mount_);
      EXPECT_TRUE(b.Remount(30));
      EXPECT_EQ(mount_.holders(), 2);
      EXPECT_EQ(p_.clock().Sleeps().back(), 30u);
      const int before = watcher_.unmounts;
      { DeviceDatabase c(mount_); }
      EXPECT_EQ(watcher_.unmounts, before);
    }
    EXPECT_EQ(mount_.holders(), 1);
    DbHandle h;
    CEOID oid;
    EXPECT_TRUE(a.OpenOrCreate("cats", 0, 0, &h, &oid)) << "still mounted for the first holder";
  }
  EXPECT_EQ(mount_.holders(), 0);
}

TEST_F(DeviceDatabaseTest, FailedMountLeavesCountAtZeroAndMountRetries) {
  {
    DeviceDatabase probe(mount_, "missing.vol");
    EXPECT_FALSE(probe.mounted());
    EXPECT_EQ(mount_.holders(), 0);
    EXPECT_TRUE(p_.ui().Messages().empty()) << "a missing volume fails silently";
    EXPECT_TRUE(probe.Mount("news.vol"));
    EXPECT_EQ(mount_.holders(), 1);
  }
  EXPECT_EQ(mount_.holders(), 0);

  int unmountsBefore = watcher_.unmounts;
  { DeviceDatabase probe(mount_, "missing.vol"); }
  EXPECT_EQ(watcher_.unmounts, unmountsBefore + 1) << "destroying a failed probe unmounts again";

  { DeviceDatabase empty(mount_, ""); }
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
      DeviceDatabase db(mount_, "news.vol");
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

TEST_F(DeviceDatabaseTest, OpenAndCreateFailuresShowTheirBoxes) {
  DeviceDatabase db(mount_, "news.vol");
  DbHandle h;
  CEOID oid;
  const MessageBoxStyle stopOk{MbButtons::kOk, MbIcon::kStop, true};
  const MessageBoxStyle stopYesNo{MbButtons::kYesNo, MbIcon::kStop, true};
  struct Case {
    const char* database;  // "cats" is made with a sort order, the others without
    const char* operation;
    uint32_t nth;  // for a new database, the second open is the reopen
    uint32_t error;
    bool ok;
    const char* text;  // the box shown, or null
    MessageBoxStyle style;
  } cases[] = {
      {"cats", "CeOpenDatabaseEx", 1, 87, false, "could not open database bad parameter:cats",
       stopOk},
      {"cats", "CeOpenDatabaseEx", 1, 8, false, "could not open database not enough memory",
       stopYesNo},
      {"cats", "CeCreateDatabaseEx", 1, 52, false, "could not create database dupe name", {}},
      {"cats", "CeCreateDatabaseEx", 1, 87, false, "could not open database bad parameter:cats",
       stopOk},
      {"cats", "CeCreateDatabaseEx", 1, 5, false, nullptr, {}},
      {"a", "CeOpenDatabaseEx", 2, 87, false, "could not open database bad parameter", stopOk},
      {"b", "CeOpenDatabaseEx", 2, 8, false, "could not open database not enough memory", stopOk},
      {"c", "CeOpenDatabaseEx", 2, 5, true, nullptr, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.error));
    p_.ClearFaults();
    p_.AddFault(c.operation, c.nth, false, c.error);
    const std::size_t before = p_.ui().Messages().size();
    EXPECT_EQ(db.OpenOrCreate(c.database, c.database[1] ? TextProp(0x64) : 0, 0, &h, &oid), c.ok);
    auto shown = p_.ui().Messages();
    ASSERT_EQ(shown.size(), before + (c.text ? 1 : 0));
    if (!c.text) continue;
    EXPECT_EQ(shown.back().text, c.text);
    EXPECT_EQ(shown.back().style.buttons, c.style.buttons);
    EXPECT_EQ(shown.back().style.icon, c.style.icon);
    EXPECT_EQ(shown.back().style.systemModal, c.style.systemModal);
  }
  // The last reopen failed quietly: nothing is open and writes fail.
  EXPECT_FALSE(h.open());
  EXPECT_FALSE(WriteNewRecord(p_.handheld(), h, {CePropVal::Ui4(UintProp(1), 1)}).ok);
}

// A handle that holds a database is given another: the old one is closed
// before the open, so the open's own error decides what follows.
TEST_F(DeviceDatabaseTest, AReusedHandleKeepsTheOpensError) {
  DeviceDatabase db(mount_, "news.vol");
  DbHandle h;
  CEOID oid;
  ASSERT_TRUE(db.OpenOrCreate("cats", 0, 0, &h, &oid));
  EXPECT_FALSE(db.OpenExisting("missing", &h, &oid));
  EXPECT_EQ(p_.handheld().CeGetLastError(), ce_error::kFileNotFound);

  ASSERT_TRUE(db.OpenOrCreate("cats", 0, 0, &h, &oid));
  p_.AddFault("CeOpenDatabaseEx", 1, false, ce_error::kInvalidParameter);
  EXPECT_FALSE(db.OpenOrCreate("cats", 0, 0, &h, &oid));
  EXPECT_EQ(p_.ui().Texts(),
            (std::vector<std::string>{"could not open database bad parameter:cats"}));
  EXPECT_EQ(p_.handheld().OpenDatabaseHandles(), 0u);
}

TEST_F(DeviceDatabaseTest, CountDeleteAndWriteResultRule) {
  DeviceDatabase db(mount_, "news.vol");
  DbHandle h;
  CEOID oid;
  ASSERT_TRUE(db.OpenOrCreate("keep", 0, 0, &h, &oid));
  std::vector<CePropVal> rec = {CePropVal::Ui4(UintProp(0x64), 5),
                                CePropVal::Text(TextProp(0x65), AnsiToWide("caf\xe9"))};
  EXPECT_TRUE(WriteNewRecord(p_.handheld(), h, rec).ok);

  struct Case {
    uint32_t error;
    bool ok;
    const char* text;
  } cases[] = {{87, false, "ERROR_INVALID_PARAMETER"},
               {112, false, "ERROR_DISK_FULL"},
               {5, false, "write refused with error 5"},
               {0, false, nullptr}};
  for (const auto& c : cases) {
    p_.ClearFaults();
    p_.AddFault("CeWriteRecordProps", 1, false, c.error);
    WriteResult r = WriteNewRecord(p_.handheld(), h, rec);
    EXPECT_EQ(r.ok, c.ok) << c.error;
    if (c.text) {
      EXPECT_EQ(r.failureText, c.text);
    } else {
      EXPECT_FALSE(r.failureText.empty());
    }
  }
  p_.ClearFaults();
  EXPECT_EQ(db.RecordCount(oid), 1);
  // Id 0 names no record: nothing counts as deleted.
  EXPECT_FALSE(DeleteRecordById(p_.handheld(), h, 0));
  EXPECT_EQ(db.RecordCount(oid), 1);

  p_.AddFault("CeOidGetInfoEx", 1, false, 5);
  EXPECT_EQ(db.RecordCount(oid), 0);
  ASSERT_EQ(p_.ui().Texts(), (std::vector<std::string>{"DB Problem"}));
  EXPECT_EQ(p_.ui().Messages()[0].style.buttons, MbButtons::kYesNo);

  EXPECT_TRUE(db.DeleteDatabaseByName("keep"));
  EXPECT_FALSE(db.DeleteDatabaseByName("keep"));
}

}  // namespace
}  // namespace hhsync
