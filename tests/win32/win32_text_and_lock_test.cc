// The Windows program's text in the system's ANSI code page, its run lock,
// and the resources it carries beside its dialogs (the tests carry the same
// resource script). scripts/test-windows runs the code page test again under
// a Cyrillic and a Japanese locale.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "app/dialogs/bitmaps.h"
#include "base/text.h"
#include "hhsync_ids.h"
#include "platform/win32/win32_bitmaps.h"
#include "platform/win32/win32_code_page.h"
#include "platform/win32/win32_run_lock.h"
#include "res/logo_131.h"

namespace hhsync {
namespace {

TEST(SystemCodePageTest, TextTravelsInTheSystemsCodePage) {
  static const SystemCodePage codePage;
  UseAnsiCodePage(&codePage);
  switch (GetACP()) {
    case 1251:  // Cyrillic: "Новости"
      EXPECT_EQ(AnsiToWide("\xCD\xEE\xE2\xEE\xF1\xF2\xE8"),
                u"\u041D\u043E\u0432\u043E\u0441\u0442\u0438");
      EXPECT_EQ(WideToAnsi(u"\u041D\u043E\u0432"), "\xCD\xEE\xE2");
      break;
    case 932:  // Shift JIS: a double-byte character is one unit, never split
      EXPECT_EQ(AnsiToWide("a\x82\xA0"
                           "b"),
                u"a\u3042b");
      EXPECT_EQ(WideToAnsi(u"a\u3042b"),
                "a\x82\xA0"
                "b");
      break;
    default:  // Windows-1252, as the program's own table
      EXPECT_EQ(GetACP(), 1252u);
      EXPECT_EQ(AnsiToWide("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
      break;
  }
  // A character the code page cannot hold comes out as its default one.
  EXPECT_EQ(WideToAnsi(u"\U0001F600").find_first_not_of('?'), std::string::npos);
  UseAnsiCodePage(nullptr);
  EXPECT_EQ(AnsiToWide("\xC0"), u"\u00C0") << "back to Windows-1252";
}

TEST(RunLockTest, ALongDirectoryIsLockedAndASecondRunWaitsThenGivesUp) {
  const std::string dir = "C:\\" + std::string(300, 'd') + "\\Program";
  EXPECT_EQ(RunLockName(dir).size(), std::string("Local\\hhsync-run-").size() + 16);
  EXPECT_EQ(RunLockName(dir), RunLockName("c:/" + std::string(300, 'D') + "/program"));
  EXPECT_NE(RunLockName(dir), RunLockName(dir + "2"));
  RunLock first(dir);
  ASSERT_TRUE(first.locked());
  bool second = true;
  std::thread other([&] { second = RunLock(dir, 100).locked(); });
  other.join();
  EXPECT_FALSE(second) << "another run holds the directory";
}

TEST(ProgramResourcesTest, TheIconTheSocketsMessageAndTheManifestAreThere) {
  char text[128] = {};
  ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_SOCKETS_FAILED, text, sizeof text), 0);
  EXPECT_STREQ(text, "Windows sockets initialization failed.");
  for (int size : {16, 32, 48}) {
    HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON,
                             size, size, 0);
    EXPECT_NE(icon, nullptr) << size;
    if (icon) DestroyIcon(static_cast<HICON>(icon));
  }
  HRSRC manifest = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const std::string xml(static_cast<const char*>(LockResource(LoadResource(nullptr, manifest))),
                        SizeofResource(nullptr, manifest));
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_EQ(xml.find("requestedExecutionLevel"), std::string::npos)
      << "an execution level would end the registry's virtualisation";
}

TEST(ProgramResourcesTest, TheLogoIsLoadedAsADibSectionOfBitmapResource131) {
  static const ExecutableBitmaps bitmaps;
  UseBitmapResources(&bitmaps);
  DibImage loaded, built;
  ASSERT_TRUE(LoadResourceBitmap(&loaded, kLogoResourceId));
  EXPECT_FALSE(LoadResourceBitmap(&built, 4242)) << "no such resource";
  UseBitmapResources(nullptr);
  ASSERT_TRUE(built.LoadFromMemory(res::kLogo131Bmp, sizeof res::kLogo131Bmp));
  EXPECT_EQ(loaded.Width(), 89);
  EXPECT_EQ(loaded.Height(), built.Height());
  EXPECT_EQ(loaded.Palette(), built.Palette());
  EXPECT_EQ(loaded.DecodePixels(), built.DecodePixels());
}

}  // namespace
}  // namespace hhsync
