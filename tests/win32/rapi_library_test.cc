#include "platform/win32/rapi_library.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "platform/win32/win32_paths.h"

namespace hhsync {
namespace {

TEST(RapiLibraryTest, WithoutTheLibraryOrItsEntryPointsNothingConnects) {
  // Any system DLL loads but offers none of the remote device calls.
  for (const auto& [file, error] : {std::pair<std::string, uint32_t>{"hhsync-none.dll", 126},
                                    {"version.dll", ERROR_PROC_NOT_FOUND}}) {
    RapiLibrary rapi(file);
    EXPECT_FALSE(rapi.loaded());
    RapiInit init;
    EXPECT_LT(rapi.CeRapiInitEx(&init), 0);
    EXPECT_EQ(init.result, HRESULT_FROM_WIN32(error));
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(rapi.WaitForInit(&init, 5000), kWaitTimeout);
    EXPECT_LT(GetTickCount64() - before, 1000u) << "nothing to wait for";
    EXPECT_EQ(rapi.CeGetLastError(), error) << file;
    CeHKey key = 0;
    EXPECT_EQ(rapi.CeRegOpenKeyEx(kHKeyLocalMachine, u"Software", &key), int32_t(error));
    EXPECT_EQ(rapi.DesktopErrorText(), "");
  }
}

// The test library beside the tests (built into test-device\ so that it is
// never found by accident), answered by the handheld bridge that
// scripts/test-windows names in HHSYNC_RAPI_BRIDGE.
std::string TestLibrary() { return DirectoryOfPath(ModulePath()) + "\\test-device\\rapi.dll"; }

TEST(RapiLibraryTest, ALibraryWithNoHandheldNeverSignalsTheConnection) {
  const char* set = std::getenv("HHSYNC_RAPI_BRIDGE");
  const std::string port = set ? set : "";
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

// What the program's runs leave out: properties a record lacks, keys opened
// in another case, and the errors of a remote call.
TEST(RapiLibraryTest, CallsReachTheHandheldThroughTheLibrary) {
  RapiLibrary rapi(TestLibrary());
  RapiInit init;
  EXPECT_EQ(rapi.CeRapiInitEx(&init), 0);
  ASSERT_EQ(rapi.WaitForInit(&init, 5000), kWaitObject0) << "needs scripts/test-windows' bridge";
  EXPECT_EQ(init.result, 0);

  CeGuid guid;
  ASSERT_TRUE(rapi.CeMountDBVol(&guid, u"content.vol", kOpenExisting));
  const CEPROPID text = MakePropId(0x64, CEVT_LPWSTR), number = MakePropId(0x65, CEVT_UI4),
                 blob = MakePropId(0x66, CEVT_BLOB), absent = MakePropId(0x67, CEVT_UI4);
  CeDbaseInfo info;
  info.flags = CEDB_VALIDNAME;
  info.name = u"wintest";
  info.sorts = {CeSortOrder{text, CEDB_SORT_CASEINSENSITIVE}};
  const CEOID created = rapi.CeCreateDatabaseEx(guid, info);
  CEOID oid = 0;
  const CeDbHandle db = rapi.CeOpenDatabaseEx(guid, &oid, u"wintest", 0, CEDB_AUTOINCREMENT);
  ASSERT_NE(db, kInvalidHandle);
  EXPECT_EQ(oid, created);
  const CEOID record = rapi.CeWriteRecordProps(
      db, 0,
      {CePropVal::Text(text, u"caf\u00e9 news"), CePropVal::Ui4(number, 0xFEDCBA98),
       CePropVal::Blob(blob, {0, 1, 2, 0xFF})});
  std::vector<CePropVal> values;
  EXPECT_EQ(rapi.CeReadRecordProps(db, CEDB_ALLOWREALLOC, {blob, absent, text, number}, &values),
            record);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].blob, (std::vector<uint8_t>{0, 1, 2, 0xFF}));
  EXPECT_EQ(values[1].flags, CEDB_PROPNOTFOUND);
  EXPECT_EQ(values[2].lpwsz, u"caf\u00e9 news");
  EXPECT_EQ(values[3].ulVal, 0xFEDCBA98u);
  EXPECT_EQ(rapi.CeReadRecordProps(db, CEDB_ALLOWREALLOC, {number}, &values), 0u);
  EXPECT_TRUE(rapi.CeCloseHandle(db));
  EXPECT_TRUE(rapi.CeDeleteDatabaseEx(guid, created));

  CeHKey key = 0, other = 0;
  ASSERT_EQ(rapi.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\WinTest\\dbp", &key), 0);
  ASSERT_EQ(rapi.CeRegCreateKeyEx(kHKeyLocalMachine, u"Software\\WinTest\\other", &other), 0);
  const std::vector<uint8_t> volume = {'n', 0, 'e', 0, 'w', 0, 's', 0, 0, 0};
  EXPECT_EQ(rapi.CeRegSetValueEx(key, u"", kRegSz, volume), 0);
  EXPECT_EQ(rapi.CeRegCloseKey(key), 0);
  EXPECT_NE(rapi.CeRegCloseKey(key), 0) << "closed already";
  ASSERT_EQ(rapi.CeRegOpenKeyEx(kHKeyLocalMachine, u"SOFTWARE\\WINTEST\\DBP", &key), 0);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(rapi.CeRegQueryValueEx(key, u"", &type, &data, 100), 0);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, volume);
  EXPECT_EQ(rapi.CeRegQueryValueEx(key, u"", &type, &data, 4), int32_t(ce_error::kMoreData));
  EXPECT_EQ(rapi.CeRegQueryValueEx(other, u"", &type, &data, 100), 2) << "another key's";

  uint32_t outSize = 10;
  std::vector<uint8_t> output;
  EXPECT_NE(rapi.CeRapiInvoke(u"nolib", u"Fn", "in", &outSize, &output), 0);
  EXPECT_EQ(rapi.CeGetLastError(), ce_error::kFileNotFound);
  EXPECT_EQ(rapi.CeRapiUninit(), 0);
}

}  // namespace
}  // namespace hhsync
