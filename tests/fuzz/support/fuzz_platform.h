#pragma once
// What the fuzz targets run on. A fuzz target feeds millions of inputs to
// one process, so these fakes keep nothing from one input to the next (the
// test fakes record every request, message and page, and would grow without
// end): the in-memory internet client with its request record turned off, a
// user interface that answers every box with its default and remembers
// nothing, a shell that opens nothing, and an emulated handheld in a
// temporary directory (under /dev/shm when there is one, so that its SQLite
// transactions stay in memory).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/db_failure_boxes.h"
#include "app/dialogs/progress_dialog.h"
#include "device/device_database.h"
#include "emulator/emulated_handheld.h"
#include "extras/resource_updater.h"
#include "platform/dialog_host.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/memory_http.h"
#include "platform/http.h"
#include "platform/linux/env_paths.h"
#include "platform/ports.h"
#include "platform/prompter.h"
#include "platform/shell.h"
#include "platform/sqlite/sqlite_registry.h"

namespace hhsync::fuzz {

// Every message box gets its default answer (OK, Cancel or No); a proxy
// prompt is cancelled; no window is made.
class QuietUi final : public Prompter, public DialogHost {
 public:
  MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) override;
  int AskProxyCredentials(std::string* user, std::string* password) override;
  void RunUpdateFrequencyDialog(FrequencyDialogModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateProgressWindow(ProgressWindowModel& dialog) override;
  std::unique_ptr<DialogWindow> CreateWaitWindow(WaitWindowModel& dialog) override;
};

// Opens nothing and reports success; counts the pages asked for.
class NullShell final : public Shell {
 public:
  bool OpenUrl(const std::string& url, int showCommand) override;
  bool RunCommandLine(const std::string& commandLine, int showCommand) override;
  bool RunAndWait(const std::string& commandLine) override;
  void MessageBeep(unsigned type) override;
  std::string ShortPath(const std::string& path) override { return path; }

  uint64_t opened() const { return opened_; }

 private:
  uint64_t opened_ = 0;
};

// A directory of its own, removed with its files at destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Ports over the fakes above and an emulated handheld that is connected and
// has the volume kVolume mounted for the whole process, with the server
// settings of a product whose registry path is kRegistryPath.
class FuzzPlatform {
 public:
  static constexpr const char* kRegistryPath = "Software\\Acme\\News\\";
  static constexpr const char* kVolume = "content.vol";

  FuzzPlatform();
  ~FuzzPlatform();
  FuzzPlatform(const FuzzPlatform&) = delete;
  FuzzPlatform& operator=(const FuzzPlatform&) = delete;

  const Ports& ports() const { return ports_; }
  VolumeMount& mount() { return *mount_; }
  ProgressDialog::Desktop progressDesktop() { return {registry_, paths_, clock_, ui_}; }
  ResourceUpdater::Desktop resourceDesktop() { return {paths_, shell_, ui_, NoRunRecorder()}; }
  // Serves the reply of the current input to every request.
  MemoryHttp& http() { return http_; }
  NullShell& shell() { return shell_; }

  // Sets the handheld's registry value kRegistryPath + name; aborts when it
  // cannot (the fuzz target could not run as meant).
  void SetDevice(const std::string& name, const std::string& value);
  // Adds a record to database (made when missing) on kVolume; aborts on
  // failure.
  void AddRecord(const std::string& database, const std::vector<CePropVal>& props);
  // Whether database exists on kVolume.
  bool HasDatabase(const std::string& database);

 private:
  ScratchDir dir_;
  FakeClock clock_;
  QuietUi ui_;
  SqliteRegistry registry_{":memory:"};
  NullShell shell_;
  EnvPaths paths_;
  MemoryHttp http_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  Ports ports_;
  DbFailureBoxes dbFailures_{ui_};
  std::unique_ptr<VolumeMount> mount_;
  std::unique_ptr<DeviceDatabase> volume_;  // holds the mount for the whole process
};

// Stops the process with a message when a property a fuzz target checks
// does not hold; libFuzzer then keeps the input as a crash.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

}  // namespace hhsync::fuzz
