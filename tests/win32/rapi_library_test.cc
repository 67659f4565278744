#include "platform/win32/rapi_library.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "platform/win32/win32_paths.h"

namespace hhsync {
namespace {

TEST(RapiLibraryTest, WithoutTheLibraryConnectingFailsAtOnce) {
  RapiLibrary rapi("hhsync-no-such-rapi.dll");
  EXPECT_FALSE(rapi.loaded());
  RapiInit init;
  EXPECT_LT(rapi.CeRapiInitEx(&init), 0);
  EXPECT_LT(init.result, 0);
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(rapi.WaitForInit(&init, 5000), kWaitTimeout);
  EXPECT_LT(GetTickCount64() - before, 1000u) << "nothing to wait for";
  EXPECT_EQ(rapi.CeGetLastError(), static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));

  CeGuid guid;
  EXPECT_FALSE(rapi.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  CEOID oid = 0;
  EXPECT_EQ(rapi.CeOpenDatabaseEx(guid, &oid, u"cats", 0, CEDB_AUTOINCREMENT), kInvalidHandle);
  CeHKey key = 0;
  EXPECT_NE(rapi.CeRegOpenKeyEx(kHKeyLocalMachine, u"Software", &key), 0);
  uint32_t outSize = 10;
  std::vector<uint8_t> output;
  EXPECT_LT(rapi.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", "x", &outSize, &output), 0);
  EXPECT_EQ(rapi.DesktopErrorText(), "");
}

TEST(RapiLibraryTest, ALibraryWithoutTheEntryPointsIsNoLibrary) {
  // Any system DLL loads but offers none of the remote device calls.
  RapiLibrary rapi("version.dll");
  EXPECT_FALSE(rapi.loaded());
  RapiInit init;
  rapi.CeRapiInitEx(&init);
  EXPECT_EQ(rapi.WaitForInit(&init, 5000), kWaitTimeout);
  EXPECT_EQ(rapi.CeGetLastError(), static_cast<uint32_t>(ERROR_PROC_NOT_FOUND));
}

// The test library beside the tests (built into test-device\ so that it is
// never found by accident), answered by hhsync_rapi_bridge when
// scripts/test-windows names one in HHSYNC_RAPI_BRIDGE.
std::string TestLibrary() { return DirectoryOfPath(ModulePath()) + "\\test-device\\rapi.dll"; }

std::string BridgePort() {
  const char* port = std::getenv("HHSYNC_RAPI_BRIDGE");
  return port ? port : "";
}

TEST(RapiLibraryTest, ALibraryWithNoHandheldNeverSignalsTheConnection) {
  const std::string port = BridgePort();
  _putenv_s("HHSYNC_RAPI_BRIDGE", "");
  {
    RapiLibrary rapi(TestLibrary());
    ASSERT_TRUE(rapi.loaded());
    RapiInit init;
    rapi.CeRapiInitEx(&init);
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(rapi.WaitForInit(&init, 300), kWaitTimeout);
    EXPECT_GE(GetTickCount64() - before, 250u) << "the caller's whole wait runs out";
    // The library says the failure is its own, not the handheld's.
    EXPECT_NE(rapi.DesktopErrorText(), "");
  }
  _putenv_s("HHSYNC_RAPI_BRIDGE", port.c_str());
}

TEST(RapiLibraryTest, TheConnectionsOutcomeIsReadOnlyOnceTheLibrarySignalsIt) {
  if (BridgePort().empty()) GTEST_SKIP() << "needs the handheld bridge of scripts/test-windows";
  // The library returns at once and completes the record from a thread of
  // its own: a connection that then fails is not taken for one made.
  for (const char* mode : {"fail", "never"}) {
    SetEnvironmentVariableA("HHSYNC_RAPI_INIT", mode);
    RapiLibrary rapi(TestLibrary());
    ASSERT_TRUE(rapi.loaded());
    RapiInit init;
    EXPECT_EQ(rapi.CeRapiInitEx(&init), 0) << mode;
    if (std::string(mode) == "fail") {
      ASSERT_EQ(rapi.WaitForInit(&init, 5000), kWaitObject0);
      EXPECT_EQ(init.result, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    } else {
      EXPECT_EQ(rapi.WaitForInit(&init, 300), kWaitTimeout);
    }
    rapi.CeRapiUninit();
  }
  SetEnvironmentVariableA("HHSYNC_RAPI_INIT", nullptr);
}

TEST(RapiLibraryTest, CallsReachTheHandheldThroughTheLibrary) {
  if (BridgePort().empty()) GTEST_SKIP() << "needs the handheld bridge of scripts/test-windows";
  RapiLibrary rapi(TestLibrary());
  ASSERT_TRUE(rapi.loaded());
  RapiInit init;
  EXPECT_EQ(rapi.CeRapiInitEx(&init), 0);
  ASSERT_EQ(rapi.WaitForInit(&init, 5000), kWaitObject0);
  EXPECT_EQ(init.result, 0);

  CeGuid guid;
  EXPECT_FALSE(rapi.CeMountDBVol(&guid, u"missing.vol", kOpenExisting));
  EXPECT_EQ(rapi.CeGetLastError(), ce_error::kFileNotFound);
  ASSERT_TRUE(rapi.CeMountDBVol(&guid, u"content.vol", kOpenExisting));

  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = u"wintest";
  info.sorts = {CeSortOrder{MakePropId(0x64, CEVT_LPWSTR), CEDB_SORT_CASEINSENSITIVE}};
  const CEOID created = rapi.CeCreateDatabaseEx(guid, info);
  ASSERT_NE(created, 0u);
  CEOID oid = 0;
  const CeDbHandle db = rapi.CeOpenDatabaseEx(guid, &oid, u"wintest", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(db, kInvalidHandle);
  EXPECT_EQ(oid, created);

  const CEPROPID text = MakePropId(0x64, CEVT_LPWSTR);
  const CEPROPID number = MakePropId(0x65, CEVT_UI4);
  const CEPROPID blob = MakePropId(0x66, CEVT_BLOB);
  const CEPROPID absent = MakePropId(0x67, CEVT_UI4);
  const CEOID record = rapi.CeWriteRecordProps(
      db, 0,
      {CePropVal::Text(text, u"caf\u00e9 news"), CePropVal::Ui4(number, 0xFEDCBA98),
       CePropVal::Blob(blob, {0, 1, 2, 0xFF})});
  ASSERT_NE(record, 0u);
  CeOidInfo oidInfo;
  ASSERT_TRUE(rapi.CeOidGetInfoEx(guid, created, &oidInfo));
  EXPECT_EQ(oidInfo.recordCount, 1);
  EXPECT_EQ(oidInfo.name, u"wintest");

  CEOID readOid = 0;
  const CeDbHandle reader = rapi.CeOpenDatabaseEx(guid, &readOid, u"wintest", 0, 1);
  std::vector<CePropVal> values;
  EXPECT_EQ(
      rapi.CeReadRecordProps(reader, CEDB_ALLOWREALLOC, {blob, absent, text, number}, &values),
      record);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].blob, (std::vector<uint8_t>{0, 1, 2, 0xFF}));
  EXPECT_EQ(values[1].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(values[2].lpwsz, u"caf\u00e9 news");
  EXPECT_EQ(values[3].ulVal, 0xFEDCBA98u);
  EXPECT_EQ(rapi.CeReadRecordProps(reader, CEDB_ALLOWREALLOC, {number}, &values), 0u);
  EXPECT_TRUE(rapi.CeCloseHandle(reader));
  EXPECT_TRUE(rapi.CeDeleteRecord(db, record));
  EXPECT_TRUE(rapi.CeCloseHandle(db));
  EXPECT_TRUE(rapi.CeDeleteDatabaseEx(guid, created));
  EXPECT_TRUE(rapi.CeUnmountDBVol(&guid));

  CeHKey key = 0;
  ASSERT_EQ(rapi.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\WinTest\\dbp", &key), 0);
  const std::vector<uint8_t> volume = {'n', 0, 'e', 0, 'w', 0, 's', 0, 0, 0};
  EXPECT_EQ(rapi.CeRegSetValueEx(key, u"", kRegSz, volume), 0);
  EXPECT_EQ(rapi.CeRegCloseKey(key), 0);
  ASSERT_EQ(rapi.CeRegOpenKeyEx(kHKeyLocalMachine, u"SOFTWARE\\WINTEST\\DBP", &key), 0);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(rapi.CeRegQueryValueEx(key, u"", &type, &data, 100), 0);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, volume);
  EXPECT_EQ(rapi.CeRegCloseKey(key), 0);
  EXPECT_NE(rapi.CeRegOpenKeyEx(kHKeyLocalMachine, u"Software\\Nowhere", &key), 0);

  // The library frees the input block, which must come from LocalAlloc; it
  // refuses anything else.
  uint32_t outSize = 10;
  std::vector<uint8_t> output;
  EXPECT_EQ(rapi.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", "Software\\WinTest\\|app.exe|", &outSize,
                              &output),
            0);
  EXPECT_NE(rapi.CeRapiInvoke(u"nolib", u"Fn", "", &outSize, &output), 0);
  EXPECT_EQ(rapi.CeGetLastError(), ce_error::kFileNotFound);
  EXPECT_EQ(rapi.CeRapiUninit(), 0);
}

}  // namespace
}  // namespace hhsync
