#include "platform/win32/rapi_library.h"

#include <gtest/gtest.h>
#include <windows.h>



namespace hhsync {
namespace {

TEST(RapiLibraryTest, WithoutTheLibraryConnectingFailsAtOnce) {
  RapiLibrary rapi("hhsync-no-such-rapi.dll");
  EXPECT_FALSE(rapi.loaded());
  RapiInit init;
  EXPECT_LT(rapi.CeRapiInitEx(&init), 0);
  EXPECT_LT(init.result, 0);
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(rapi.WaitForInit(init, 5000), kWaitTimeout);
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
  EXPECT_EQ(rapi.WaitForInit(init, 5000), kWaitTimeout);
  EXPECT_EQ(rapi.CeGetLastError(), static_cast<uint32_t>(ERROR_PROC_NOT_FOUND));
}

}  // namespace
}  // namespace hhsync
