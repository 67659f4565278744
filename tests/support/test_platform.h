#pragma once
// Shared test fixtures: a temporary directory, file helpers, and a set of
// ports wired to fakes (fake clock, scripted message boxes, the desktop
// registry in memory, a recording shell, an internet client that never connects) and to
// an emulated handheld image in the directory.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/db_failure_boxes.h"
#include "app/dialogs/progress_dialog.h"
#include "device/device_database.h"
#include "emulator/emulated_handheld.h"
#include "extras/resource_updater.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/memory_http.h"
#include "platform/fake/recording_shell.h"
#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"
#include "platform/ports.h"
#include "platform/sqlite/sqlite_registry.h"

namespace hhsync::test {

// A fresh directory, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Writes an S.DAT holding the property set "sync.properties" made of the
// given text (lines of key=value), and the BMP file image mainBitmap as the
// bitmap "main.bmp" unless it is empty.
void WriteSdat(const std::string& path, const std::string& syncProperties,
               const std::vector<uint8_t>& mainBitmap = {});
// The messages of every entry in a sync log's bytes, in order, without their
// time headers.
std::vector<std::string> LogMessages(const std::string& logBytes);

// Ports over fakes and an emulated handheld at dir/handheld.db. The image is
// made connected and empty; its registry, volumes and libraries are set up
// through handheld().
class TestPlatform {
 public:
  TestPlatform();
  ~TestPlatform();

  const Ports& ports() const { return ports_; }
  EmulatedHandheld& handheld() { return *handheld_; }
  // A second view of the image, for checking what the program left there.
  HandheldDump Dump();
  FakeClock& clock() { return clock_; }
  ScriptedUi& ui() { return ui_; }
  SqliteRegistry& registry() { return registry_; }
  RecordingShell& shell() { return shell_; }
  const TempDir& dir() const { return dir_; }
  std::string imagePath() const { return dir_.File("handheld.db"); }
  // The handheld's database volume as a run shares it; its failures show
  // their message boxes through ui().
  VolumeMount& mount() { return *mount_; }
  DbFailureSink& dbFailures() { return dbFailures_; }
  // The desktop ports of a progress dialog and of the resource step.
  ProgressDialog::Desktop progressDesktop() { return {registry_, *ports_.paths, clock_, ui_}; }
  ResourceUpdater::Desktop resourceDesktop() {
    return {*ports_.paths, shell_, ui_, *ports_.recorder};
  }

  // Connects the handheld port the way a run does.
  void Connect();
  // Replaces the Http port (the default one fails every request).
  void SetHttp(Http* http) { ports_.http = http; }
  // Replaces the program directory's paths (the default: dir()).
  void SetPaths(Paths* paths) { ports_.paths = paths; }
  // Sets a value of the handheld's registry; fails the test when it cannot.
  void SetDevice(const std::string& path, const std::string& value);
  // A value of the handheld's registry; nullopt when it is absent.
  std::optional<std::string> Device(const std::string& path);
  // Makes the handheld fail operation with error at its nth call (and every
  // call from it on when every is set).
  void AddFault(const std::string& operation, uint32_t nth, bool every, uint32_t error);
  void ClearFaults();
  // Adds a record to database (made when missing) on volume; its id.
  CEOID AddRecord(const std::string& volume, const std::string& database,
                  const std::vector<CePropVal>& props);

 private:
  TempDir dir_;
  FakeClock clock_;
  ScriptedUi ui_;
  SqliteRegistry registry_{":memory:"};
  RecordingShell shell_;
  EnvPaths paths_;
  MemoryHttp noHttp_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  Ports ports_;
  DbFailureBoxes dbFailures_{ui_};
  std::unique_ptr<VolumeMount> mount_;
};

}  // namespace hhsync::test
