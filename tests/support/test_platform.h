#pragma once
// Shared test fixtures: a temporary directory and a set of ports wired to
// fakes (fake clock, scripted message boxes, an in-memory registry, a
// recording shell) and to an emulated handheld image in the directory.

#include <memory>
#include <string>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/recording_shell.h"
#include "platform/fake/scripted_ui.h"
#include "platform/http.h"
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
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Writes an S.DAT holding the property set "sync.properties" made of the
// given text (lines of key=value).
void WriteSdat(const std::string& path, const std::string& syncProperties);

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

  // Connects the handheld port the way a run does.
  void Connect();
  // Replaces the Http port (the default one fails every request).
  void SetHttp(Http* http) { ports_.http = http; }

 private:
  TempDir dir_;
  FakeClock clock_;
  ScriptedUi ui_;
  SqliteRegistry registry_{":memory:"};
  RecordingShell shell_;
  EnvPaths paths_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  std::unique_ptr<Http> noHttp_;
  Ports ports_;
};

}  // namespace hhsync::test
