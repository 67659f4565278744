// The Win32 adapters of the registry, the files, the shell and the code
// page against the system they wrap; the run lock, the resources, and the
// dialog threads' hand-over on this standard library. scripts/test-windows
// runs the code page test again under a Cyrillic and a Japanese locale.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <thread>

#include "app/dialogs/bitmaps.h"
#include "app/dialogs/dialog_threads.h"
#include "base/text.h"
#include "platform/win32/win32_bitmaps.h"
#include "platform/win32/win32_code_page.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_run_lock.h"
#include "platform/win32/win32_shell.h"
#include "res/logo_131.h"
#include "win32_test_support.h"

namespace hhsync {
namespace {

using win32_test::ReadWholeFile;
using win32_test::ScratchDir;
using win32_test::WriteWholeFile;

TEST(Win32RegistryTest, ValuesAsOtherProgramsSeeThemListedAndDeleted) {
  Win32Registry registry;
  const RegRoot user = RegRoot::kCurrentUser;
  const std::string path = "Software\\hhsync-tests\\" + std::to_string(GetCurrentProcessId());
  EXPECT_FALSE(registry.SetValue(user, path, "", RegValue::String("x"))) << "no key yet";
  ASSERT_TRUE(registry.CreateKey(user, path + "\\b\\inner"));
  ASSERT_TRUE(registry.SetValue(user, path + "\\b", "", RegValue::String("caf\xe9")));
  ASSERT_TRUE(registry.SetValue(user, path + "\\b\\inner", "lst", RegValue::Dword(0x12D687)));
  ASSERT_TRUE(registry.SetValue(user, path, "top", RegValue::String("1")));
  // Written by another program: text of either kind is text, other types
  // are not the program's.
  RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "expand", REG_EXPAND_SZ, "%TEMP%", 7);
  RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "binary", REG_BINARY, "\1\2\3\4", 4);

  // Text as the system keeps it: with its terminator.
  char data[16];
  DWORD type = 0, size = sizeof data;
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_CURRENT_USER, (path + "\\b").c_str(), 0, KEY_READ, &key);
  RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(data, size), std::string("caf\xe9\0", 5));
  // Read back in another case and with forward slashes.
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct {
    std::string key, name;
    std::optional<RegValue> value;
  } read[] = {{upper + "/B", "", RegValue::String("caf\xe9")},
              {path + "\\b\\inner", "LST", RegValue::Dword(0x12D687)},
              {path, "expand", RegValue::String("%TEMP%")},
              {path, "binary", std::nullopt},
              {path, "missing", std::nullopt},
              {path + "\\Nowhere", "", std::nullopt}};
  auto shown = [](const std::optional<RegValue>& v) {
    return v ? std::to_string(static_cast<int>(v->type)) + ":" + v->data : "none";
  };
  for (const auto& r : read) EXPECT_EQ(shown(registry.Query(user, r.key, r.name)), shown(r.value));
  // A key's values by name, then its subkeys'.
  std::string listed;
  for (const RegEntry& e : registry.List(user, path)) {
    listed += e.path.substr(path.size()) + ":" + e.name + " ";
  }
  EXPECT_EQ(listed, ":expand :top \\b: \\b\\inner:lst ");

  EXPECT_TRUE(registry.Delete(user, path, std::string_view("top")));
  EXPECT_FALSE(registry.Delete(user, path, std::string_view("top")));
  EXPECT_TRUE(registry.Delete(user, path + "\\b", std::nullopt));
  EXPECT_FALSE(registry.KeyExists(user, path + "\\b\\inner"));
  EXPECT_TRUE(registry.KeyExists(user, path));
  EXPECT_FALSE(registry.Delete(user, "", std::nullopt)) << "a root stays";
  EXPECT_TRUE(registry.Delete(user, path, std::nullopt));
}

TEST(Win32PathsTest, TheProgramDirectoryAndTheDirectoryOfAPath) {
  const std::pair<std::string, std::string> dirs[] = {{"C:\\a\\b.exe", "C:\\a"},
                                                      {"C:\\b.exe", "C:\\"},
                                                      {"C:/a/b", "C:/a"},
                                                      {"b", "."},
                                                      {"\\b", "\\"}};
  for (const auto& [path, dir] : dirs) EXPECT_EQ(DirectoryOfPath(path), dir) << path;
  EXPECT_EQ(AsciiLower(ModulePath().substr(ModulePath().size() - 4)), ".exe");
  EXPECT_EQ(Win32Paths("C:\\given\\").ProgramDir(), "C:\\given");
  EXPECT_EQ(Win32Paths("C:\\").ProgramDir(), "C:\\");
  _putenv_s("HHSYNC_HOME", "C:\\from-env\\");
  EXPECT_EQ(Win32Paths().ProgramDir(), "C:\\from-env");
  _putenv_s("HHSYNC_HOME", "");
  EXPECT_EQ(Win32Paths().ProgramDir(), DirectoryOfPath(ModulePath()));
}

TEST(Win32PathsTest, ReplacementsAppendsReservedNamesAndLeftovers) {
  ScratchDir dir;
  Win32Paths paths(dir.path);
  const std::string target = dir.File("res.cab");
  WriteWholeFile(target, "old");
  ASSERT_TRUE(paths.CreateReplacement(target)->Write("half", 4));  // dropped, not committed
  auto pending = paths.CreateReplacement(target);
  ASSERT_TRUE(pending->Write("new", 3));
  EXPECT_EQ(ReadWholeFile(target), "old");
  ASSERT_TRUE(pending->Commit());
  pending.reset();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(paths.ReadFile(target, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
  EXPECT_FALSE(paths.ReadFile(dir.File("missing"), &bytes));

  // The log: one writer at a time, each appending.
  const std::string log = dir.File("sync.txt");
  for (const char* line : {"one\r\n", "two\r\n"}) {
    auto writer = paths.OpenExclusiveAppend(log);
    ASSERT_TRUE(writer && writer->Write(line, 5));
    EXPECT_FALSE(paths.OpenExclusiveAppend(log)) << "a second writer is refused";
  }
  EXPECT_EQ(ReadWholeFile(log), "one\r\ntwo\r\n");

  // A killed run's temporary goes, and nothing else.
  WriteWholeFile(dir.File(".hhsync-download-12-0"), "half a download");
  CreateDirectoryA(dir.File(".hhsync-download-dir").c_str(), nullptr);
  EXPECT_EQ(paths.RemoveLeftoverTemporaries(), 1);
  std::string left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
    left += entry.path().filename().string() + " ";
  }
  EXPECT_EQ(left, ".hhsync-download-dir res.cab sync.txt ");

  paths.Reserve(dir.File("HHSYNC.EXE"));
  paths.Reserve("C:\\elsewhere\\rapi.dll");
  EXPECT_TRUE(paths.IsPlatformFile("hhsync.exe"));
  EXPECT_TRUE(paths.IsPlatformFile(".hhsync-download-1"));
  EXPECT_FALSE(paths.IsPlatformFile("rapi.dll")) << "not in the program directory";
  EXPECT_FALSE(paths.IsPlatformFile("app.cab"));
}

TEST(Win32ShellTest, WhetherAProgramStartedAndWhetherTheCallWaited) {
  ScratchDir dir;
  const std::string log = dir.File("probe.log");
  SetEnvironmentVariableA("HHSYNC_PROBE_LOG", log.c_str());
  Win32Shell shell;
  const std::string probe = "\"" + win32_test::ProbePath() + "\"";
  ASSERT_TRUE(shell.RunAndWait(probe + " waited"));
  EXPECT_EQ(ReadWholeFile(log), "[probe] waited\n") << "the program has ended";
  ASSERT_TRUE(shell.RunCommandLine(probe + " started", kSwShow));
  EXPECT_EQ(ReadWholeFile(log), "[probe] waited\n") << "returned before the program ended";
  const std::string missing = dir.File("missing.exe");
  EXPECT_FALSE(shell.RunAndWait(missing));
  EXPECT_FALSE(shell.RunCommandLine(missing, kSwShow));
  EXPECT_FALSE(shell.OpenUrl(dir.File("absent.htm"), kSwShow));
  EXPECT_EQ(shell.ShortPath(dir.File("missing.cab")), "");
  for (int i = 0; i < 100 && ReadWholeFile(log).find("started") == std::string::npos; ++i) {
    Sleep(50);
  }
  EXPECT_EQ(ReadWholeFile(log), "[probe] waited\n[probe] started\n");
  SetEnvironmentVariableA("HHSYNC_PROBE_LOG", nullptr);
}

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
  std::thread([&] { second = RunLock(dir, 100).locked(); }).join();
  EXPECT_FALSE(second) << "another run holds the directory";
}

TEST(ProgramResourcesTest, TheManifestAndTheLogoAsADibSection) {
  HRSRC manifest = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const std::string xml(static_cast<const char*>(LockResource(LoadResource(nullptr, manifest))),
                        SizeofResource(nullptr, manifest));
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_EQ(xml.find("requestedExecutionLevel"), std::string::npos)
      << "an execution level would end the registry's virtualisation";

  static const ExecutableBitmaps bitmaps;
  UseBitmapResources(&bitmaps);
  DibImage loaded, built;
  ASSERT_TRUE(LoadResourceBitmap(&loaded, kLogoResourceId));
  EXPECT_FALSE(LoadResourceBitmap(&built, 4242)) << "no such resource";
  UseBitmapResources(nullptr);
  ASSERT_TRUE(built.LoadFromMemory(res::kLogo131Bmp, sizeof res::kLogo131Bmp));
  EXPECT_EQ(loaded.Width(), 89);
  EXPECT_EQ(loaded.Palette(), built.Palette());
  EXPECT_EQ(loaded.DecodePixels(), built.DecodePixels());
}

// The hand-over the dialog threads start with: a Set racing with the Wait is
// never lost, on a standard library whose own latch loses such wake-ups.
TEST(ReadySignalTest, ASetRacingWithTheWaitIsNeverLost) {
  // Detached, so that a waiter that never wakes fails the test instead of
  // hanging it.
  std::promise<void> finished;
  std::future<void> handovers = finished.get_future();
  std::thread([&finished] {
    for (int i = 0; i < 2000; ++i) {
      ReadySignal ready;
      std::thread other([&] { ready.Set(); });
      ready.Wait();
      other.join();
    }
    finished.set_value();
  }).detach();
  ASSERT_EQ(handovers.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "a waiter missed its Set";
}

}  // namespace
}  // namespace hhsync
